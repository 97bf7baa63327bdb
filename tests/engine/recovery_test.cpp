// The recovery code: any N lost files of a set, broken files or recovery parts, come back byte
// for byte from the others, whatever the set's shape; N + 1 in one group never do.

#include "recovery.h"
#include "test_support.h"

#include <fcntl.h>
#include <numeric>
#include <unistd.h>

namespace tolvar::testing {
namespace {

// A set of broken files written by hand, its recovery parts written by the engine.
struct CodedSet {
    CodedSet(const RecoveryLayout& shape, std::uint32_t seed) : layout(shape) {
        const std::string source = randomBytes(std::size_t(layout.totalLength), seed);
        for (int i = 0; i < layout.dataCount; ++i) {
            paths.push_back(partName(dir / "movie.", i));
            writeFile(paths.back(), expectedHeader(i, layout.dataCount, layout.nameTail) +
                                        source.substr(std::size_t(i * layout.partSize),
                                                      std::size_t(layout.partSize)));
        }
        std::vector<std::string> created;
        std::vector<Digest> digests;
        const auto written = writeRecoveryParts(defaultFileSystem(), layout, paths, dir / "movie.",
                                                created, nullptr, &digests);
        EXPECT_TRUE(written && written.value());
        paths.insert(paths.end(), created.begin(), created.end());
        for (const auto& path : paths)
            contents.push_back(readFile(path));
        EXPECT_EQ(digests.size(), created.size());
        for (std::size_t j = 0; j < digests.size(); ++j)
            EXPECT_EQ(digests[j], sha256Of(contents[std::size_t(layout.dataCount) + j]));
        header = parseRecoveryHeader(contents.back());
    }

    // Rebuilds the slots into fresh files; their contents, or the failure.
    Result<std::vector<std::string>> rebuild(const std::vector<int>& slots) const {
        std::vector<RebuildTarget> targets;
        for (const int slot : slots) {
            const std::string out = dir / ("rebuilt" + std::to_string(slot));
            targets.push_back({slot, ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), out});
        }
        const auto done = rebuildSlots(defaultFileSystem(), *header, paths, targets);
        std::vector<std::string> rebuilt;
        for (const auto& target : targets) {
            ::close(target.fd);
            rebuilt.push_back(readFile(target.path));
        }
        if (!done)
            return done.failure();
        return rebuilt;
    }

    ScratchDir dir;
    RecoveryLayout layout;
    std::vector<std::string> paths; // one per slot
    std::vector<std::string> contents;
    std::optional<RecoveryHeader> header;
};

RecoveryLayout shape(int count, std::int64_t partSize, std::int64_t lastPayload, int recovery) {
    return {count, recovery, partSize, (count - 1) * partSize + lastPayload, "avi"};
}

TEST(Recovery, AnyNLostFilesComeBackByteForByte) {
    std::mt19937 random(20261208);
    for (int run = 0; run < 40; ++run) {
        // Tiny parts, ordinary ones, and a few larger than the engine's window of one block.
        const bool large = run % 10 == 9;
        const int count = 1 + int(random() % (large ? 4 : 24));
        const std::int64_t partSize = large
                                          ? (1 << 20) + std::int64_t(random() % (2 << 20))
                                          : 1 + std::int64_t(random() % (run % 4 == 0 ? 70 : 3000));
        const int recovery = 1 + int(random() % 4);
        const auto layout = shape(count, partSize, std::int64_t(random()) % partSize, recovery);
        SCOPED_TRACE("run " + std::to_string(run) + ": " + std::to_string(count) + " parts of " +
                     std::to_string(partSize) + " bytes, " + std::to_string(recovery) +
                     " recovery parts");
        const CodedSet set(layout, std::uint32_t(random()));
        ASSERT_TRUE(set.header.has_value());
        EXPECT_EQ(set.contents.back().size(), std::size_t(layout.recoveryFileSize()));

        std::vector<int> slots(std::size_t(layout.slotCount()));
        std::iota(slots.begin(), slots.end(), 0);
        std::shuffle(slots.begin(), slots.end(), random);
        slots.resize(1 + random() % std::size_t(recovery));
        // Lost files are missing or damaged: the engine must read neither.
        for (const int slot : slots) {
            if (random() % 2 == 0)
                std::filesystem::remove(set.paths[std::size_t(slot)]);
            else
                writeFile(set.paths[std::size_t(slot)], "damaged");
        }
        const auto rebuilt = set.rebuild(slots);
        ASSERT_TRUE(rebuilt) << rebuilt.failure().description;
        for (std::size_t i = 0; i < slots.size(); ++i)
            EXPECT_TRUE(rebuilt.value()[i] == set.contents[std::size_t(slots[i])])
                << "slot " << slots[i] << " differs";
    }
}

// Past 255 blocks the set is cut into interleaved groups: losing N neighbours costs each
// group fewer blocks, while N + 1 in one group are beyond the code.
TEST(Recovery, LargeSetsAreCodedInInterleavedGroups) {
    const auto layout = shape(600, 40, 7, 3);
    ASSERT_EQ(layout.groupCount(), 3);
    const CodedSet set(layout, 7);
    const std::vector<int> neighbours = {100, 101, 102, 103, 104, 600};
    ASSERT_TRUE(canRebuild(layout, neighbours));
    const auto rebuilt = set.rebuild(neighbours);
    ASSERT_TRUE(rebuilt) << rebuilt.failure().description;
    for (std::size_t i = 0; i < neighbours.size(); ++i)
        EXPECT_TRUE(rebuilt.value()[i] == set.contents[std::size_t(neighbours[i])]);

    const std::vector<int> oneGroup = {3, 6, 9, 599, 601};
    EXPECT_FALSE(canRebuild(layout, oneGroup));
    EXPECT_FALSE(set.rebuild(oneGroup));
}

TEST(Recovery, OneMoreLostFileThanRecoveryPartsIsRefused) {
    for (const int recovery : {1, 2, 5}) {
        const auto layout = shape(6, 100, 30, recovery);
        const CodedSet set(layout, std::uint32_t(recovery));
        std::vector<int> slots(std::size_t(recovery + 1));
        std::iota(slots.begin(), slots.end(), 6 - recovery);
        EXPECT_FALSE(canRebuild(layout, slots));
        const auto rebuilt = set.rebuild(slots);
        ASSERT_FALSE(rebuilt);
        EXPECT_EQ(rebuilt.failure().kind, FailureKind::InvalidArgument);
    }
}

TEST(RecoveryHeader, RoundTripsAndRefusesDamage) {
    RecoveryHeader header{shape(12, 1 << 20, 5, 3), 2};
    header.layout.nameTail = "gz";
    const RecoveryHeaderBytes bytes = buildRecoveryHeader(header);
    EXPECT_FALSE(isPart(std::string_view(bytes.data(), bytes.size())));
    const auto parsed = parseRecoveryHeader(std::string_view(bytes.data(), bytes.size()));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->index, 2);
    EXPECT_EQ(parsed->layout.dataCount, 12);
    EXPECT_EQ(parsed->layout.recoveryCount, 3);
    EXPECT_EQ(parsed->layout.partSize, 1 << 20);
    EXPECT_EQ(parsed->layout.totalLength, header.layout.totalLength);
    EXPECT_EQ(parsed->layout.nameTail, "gz");
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        RecoveryHeaderBytes flipped = bytes;
        flipped[at] = char(flipped[at] ^ 0x10);
        EXPECT_FALSE(parseRecoveryHeader(std::string_view(flipped.data(), flipped.size())))
            << "byte " << at;
    }
    EXPECT_FALSE(parseRecoveryHeader(std::string_view(bytes.data(), bytes.size() - 1)));
}

// Stopped while it computes the recovery parts, a split takes back every file it wrote.
TEST(SplitWithRecovery, CancelledWhileCodingLeavesOnlyTheSource) {
    struct StopOnRecovery : ProgressObserver {
        bool onProgress(const Progress& progress) override {
            return progress.partPath.find(".r0") == std::string::npos;
        }
    } observer;
    ScratchDir dir;
    writeFile(dir / "movie.avi", randomBytes(50000, 5));
    auto box = scriptedBox({MsgAnswer::Yes});
    OperationContext context{box, defaultFileSystem(), &observer};
    EXPECT_FALSE(SplitFile(dir / "movie.avi", 8, "", dir / "movie.avi", context, {2}));
    EXPECT_EQ(listDir(dir.path()), std::set<std::string>{"movie.avi"});
}

} // namespace
} // namespace tolvar::testing
