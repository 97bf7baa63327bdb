#include "harness.h"

#include <cstdio>
#include <cstdlib>

// libFuzzer entry point: any property that fails is a finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto problems = tolvar::fuzz::checkHeaderBytes({data, size});
    for (const auto& problem : problems)
        std::fprintf(stderr, "header property failed: %s\n", problem.c_str());
    if (!problems.empty())
        std::abort();
    return 0;
}
