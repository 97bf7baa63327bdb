#include "harness.h"

#include <cstdio>
#include <cstdlib>

// libFuzzer entry point: one scratch set per input; any property that fails is a finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tolvar::fuzz::AssemblyHarness harness;
    const auto problems = harness.run({data, size});
    for (const auto& problem : problems)
        std::fprintf(stderr, "assembly property failed: %s\n", problem.c_str());
    if (!problems.empty())
        std::abort();
    return 0;
}
