// The copier on its own: whichever ways the file systems refuse, and however short their
// transfers, it copies exactly the bytes asked for to exactly where they belong.

#include "copier.h"
#include "test_support.h"

#include <fcntl.h>

namespace tolvar::testing {
namespace {

using detail::Copier;
using detail::FileHandle;
using detail::ProgressTracker;

struct Ways {
    const char* name;
    bool splice;
    bool kernelCopy;
    std::size_t transferLimit; // 0: none
    FsCall copiedBy;           // the call that moves the bytes then
};

void PrintTo(const Ways& row, std::ostream* out) {
    *out << row.name;
}

class CopierWays : public ::testing::TestWithParam<Ways> {
protected:
    ScratchDir dir;
    FaultyFileSystem fs;
    // Larger than the user-space block and the pipe, and no multiple of either.
    std::string source = randomBytes(3 * (1 << 20) + 4099, 7);

    void SetUp() override {
        writeFile(dir / "in", source);
        if (!GetParam().splice)
            fs.failEvery(FsCall::Splice, EINVAL);
        if (!GetParam().kernelCopy)
            fs.failEvery(FsCall::CopyFileRange, EXDEV);
        fs.limitTransfers(GetParam().transferLimit);
    }
    FileHandle open(const std::string& name, int flags) {
        const int fd = fs.open(dir / name, flags, 0600);
        EXPECT_GE(fd, 0) << name;
        return FileHandle(fs, fd);
    }
};

TEST_P(CopierWays, CopiesTheSliceAskedForAfterWhatTheOutputHolds) {
    FileHandle in = open("in", O_RDONLY);
    FileHandle out = open("out", O_WRONLY | O_CREAT | O_TRUNC);
    ASSERT_TRUE(detail::writeAll(fs, out.get(), "HEADER", 6, dir / "out"));
    ProgressTracker tracker(nullptr, 0, 1);
    Copier copier(fs, tracker);
    off_t inOffset = 16;
    const std::uint64_t count = source.size() - 16 - 5;
    auto copied = copier.copyExactly(in.get(), inOffset, out.get(), 6, count, "in", "out");
    ASSERT_TRUE(copied) << copied.failure().description;
    EXPECT_TRUE(copied.value());
    EXPECT_EQ(inOffset, static_cast<off_t>(16 + count));
    out.close();
    EXPECT_EQ(readFile(dir / "out"), "HEADER" + source.substr(16, count));
    EXPECT_GT(fs.calls(GetParam().copiedBy), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    RefusedOrNot, CopierWays,
    ::testing::Values(Ways{"Splice", true, true, 0, FsCall::Splice},
                      Ways{"KernelCopy", false, true, 0, FsCall::CopyFileRange},
                      Ways{"UserSpace", false, false, 0, FsCall::Pread},
                      Ways{"SpliceInShortTransfers", true, true, 1000, FsCall::Splice},
                      Ways{"KernelCopyInShortTransfers", false, true, 1000, FsCall::CopyFileRange},
                      Ways{"UserSpaceInShortTransfers", false, false, 1000, FsCall::Pread}),
    [](const auto& row) { return std::string(row.param.name); });

// Stops the copy at its first report.
class StopAtOnce : public ProgressObserver {
public:
    bool onProgress(const Progress&) override { return false; }
};

TEST(Copier, ASourceShorterThanAskedIsAFailureAndAStopAskedForIsNone) {
    ScratchDir dir;
    writeFile(dir / "in", randomBytes(5000, 1));
    FileSystem& fs = defaultFileSystem();
    const auto copy = [&](ProgressObserver* observer, std::uint64_t count) {
        FileHandle in(fs, fs.open(dir / "in", O_RDONLY));
        FileHandle out(fs, fs.open(dir / "out", O_WRONLY | O_CREAT | O_TRUNC, 0600));
        ProgressTracker tracker(observer, count, 1);
        Copier copier(fs, tracker);
        off_t inOffset = 0;
        return copier.copyExactly(in.get(), inOffset, out.get(), 0, count, dir / "in", "out");
    };

    auto shorter = copy(nullptr, 6000);
    ASSERT_FALSE(shorter);
    EXPECT_EQ(shorter.failure().kind, FailureKind::IoError);
    EXPECT_NE(shorter.failure().description.find("became shorter while it was being read"),
              std::string::npos)
        << shorter.failure().description;

    StopAtOnce stop;
    auto stopped = copy(&stop, 5000);
    ASSERT_TRUE(stopped) << stopped.failure().description;
    EXPECT_FALSE(stopped.value());
}

} // namespace
} // namespace tolvar::testing
