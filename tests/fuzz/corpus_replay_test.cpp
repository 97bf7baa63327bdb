#include "harness.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

// Replays the committed seed corpus through the fuzzers' own checks, so every build (not only
// the clang fuzzing build) exercises the harness and the engine on these sets.

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> corpusFiles(const char* target) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(TOLVAR_FUZZ_CORPUS_DIR) / target))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CorpusReplay, HeaderSeedsKeepEveryProperty) {
    const auto files = corpusFiles("header");
    ASSERT_GE(files.size(), 3u);
    for (const fs::path& file : files) {
        const auto bytes = readBytes(file);
        EXPECT_EQ(tolvar::fuzz::checkHeaderBytes(bytes), std::vector<std::string>{})
            << file.filename();
    }
}

TEST(CorpusReplay, AssemblySeedsKeepEveryProperty) {
    const auto files = corpusFiles("assemble");
    ASSERT_GE(files.size(), 3u);
    tolvar::fuzz::AssemblyHarness harness;
    for (const fs::path& file : files) {
        const auto bytes = readBytes(file);
        EXPECT_EQ(harness.run(bytes), std::vector<std::string>{}) << file.filename();
    }
}

} // namespace
