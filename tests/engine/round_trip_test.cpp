// Split then assemble gives the source back, whatever its size, name, cut or copy path.

#include "test_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace tolvar::testing {
namespace {

constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;
constexpr auto Ok = MsgAnswer::Ok;

// Splicing, then copy_file_range once splicing is refused (as between some fuse and network
// file systems), then read and write once both are (FAT, overlay, across file systems).
enum class CopyPath { Splice, KernelCopy, FallbackExdev, FallbackEnosys, ShortTransfers };

// Makes the file layer take one of the ways the engine may copy. Every way but the first also
// runs where no room can be reserved.
void useCopyPath(FaultyFileSystem& fs, CopyPath path, std::size_t shortLimit) {
    if (path != CopyPath::Splice && path != CopyPath::ShortTransfers) {
        fs.failEvery(FsCall::Splice, path == CopyPath::FallbackEnosys ? ENOSYS : EINVAL);
        fs.failEvery(FsCall::Preallocate, EOPNOTSUPP);
    }
    if (path == CopyPath::FallbackExdev)
        fs.failEvery(FsCall::CopyFileRange, EXDEV);
    if (path == CopyPath::FallbackEnosys)
        fs.failEvery(FsCall::CopyFileRange, ENOSYS);
    if (path == CopyPath::ShortTransfers)
        fs.limitTransfers(shortLimit);
}

// The user-space copy never asks for more than one step, and no more than the file being read,
// the one being written, the run's journal and the two folders it holds (the source's or
// parts' and the one written) are ever open.
void expectBoundedResources(const FaultyFileSystem& fs) {
    EXPECT_LE(fs.largestRequest(FsCall::Read), CopyStepSize);
    EXPECT_LE(fs.largestRequest(FsCall::Pread), CopyStepSize);
    EXPECT_LE(fs.largestRequest(FsCall::Write), CopyStepSize);
    EXPECT_LE(fs.maxOpenCount(), 5u);
    EXPECT_EQ(fs.openCount(), 0u);
    EXPECT_EQ(fs.openPipeCount(), 0u);
}

TEST(RoundTrip, RandomSourcesCutsAndCopyPaths) {
    static const std::vector<std::string> names = {"data.bin",
                                                   "song.flac",
                                                   "README",
                                                   "caf\xc3\xa9 na\xc3\xafve.txt",
                                                   "\xff\xfe raw\x80.dat",
                                                   "a b",
                                                   "archive.tar.gz"};
    constexpr std::uint32_t kFirstSeed = 20261208;
    constexpr int kRuns = 48;
    int splitsDone = 0;
    for (int run = 0; run < kRuns; ++run) {
        const std::uint32_t seed = kFirstSeed + std::uint32_t(run);
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        // Mostly files that really get cut, some too small to, a few empty.
        std::size_t length = 0;
        switch (random() % 8) {
        case 0:
            length = random() % 3;
            break;
        case 1:
        case 2:
            length = random() % 3000;
            break;
        case 3:
        case 4:
        case 5:
            length = random() % 200000;
            break;
        default:
            length = 200000 + random() % (3u << 20);
            break;
        }
        const std::string name = names[random() % names.size()];
        const bool byNumber = random() % 2 == 0;
        const bool deleteSource = random() % 2 == 0;
        const auto copyPath = static_cast<CopyPath>(random() % 5);
        const std::size_t shortLimit = length < 100000 ? 1 + random() % 64 : 4093;

        ScratchDir dir;
        const std::string source = dir / name;
        const std::string bytes = randomBytes(length, seed);
        writeFile(source, bytes);
        FaultyFileSystem fs;
        useCopyPath(fs, copyPath, shortLimit);
        EngineRunner runner(fs);

        std::int32_t amount = 0;
        std::uint64_t partSize = 0;
        if (byNumber) {
            amount = 2 + std::int32_t(random() % 49);
            partSize = length / std::uint64_t(amount);
        } else {
            const std::uint64_t fewest = length / (1024 * 998) + 1;
            const std::uint64_t most = length / 1024 + 2;
            amount = std::int32_t(random() % 2 == 0 ? fewest + random() % 4
                                                    : fewest + random() % (most - fewest + 1));

            partSize = std::uint64_t(amount) * 1024;
        }
        SCOPED_TRACE("length " + std::to_string(length) + (byNumber ? ", number " : ", KB ") +
                     std::to_string(amount) + ", copy path " + std::to_string(int(copyPath)));

        const bool refused = length == 0 || length <= partSize;
        const bool divides = partSize > 0;
        const std::vector<MsgAnswer> script = {Yes, refused || !divides ? Ok
                                                    : deleteSource      ? Yes
                                                                        : No};
        const bool done = byNumber ? runner.split2(source, amount, "", script)
                                   : runner.split(source, amount, "", script);
        const std::string base = source.substr(0, source.size() - 3);
        if (refused) {
            EXPECT_FALSE(done);
            EXPECT_SHOWN(runner, question(messages::kConfirmSplit), refusal(messages::kTooSmall));
            EXPECT_EQ(listDir(dir.path()), std::set<std::string>{name});
            continue;
        }
        if (!divides) {
            EXPECT_FALSE(done);
            ASSERT_EQ(runner.shown().size(), 2u);
            EXPECT_TRUE(isFailureReport(runner.shown()[1], FailureKind::DivisionByZero));
            EXPECT_EQ(listDir(dir.path()), std::set<std::string>{name});
            continue;
        }
        ASSERT_TRUE(done);
        ++splitsDone;
        const std::string tail = name.substr(name.size() - 3);
        ASSERT_TRUE(isPartSet(base, bytes, partSize, tail));
        const auto partCount = length / partSize + 1;
        EXPECT_EQ(listDir(dir.path()).size(), partCount + (deleteSource ? 0 : 1));
        EXPECT_EQ(exists(source), !deleteSource);

        // With the source gone, rebuild it in place; else rebuild it elsewhere by prefix.
        std::filesystem::create_directory(dir / "out");
        const std::string prefix = deleteSource ? "" : dir / "out/r.";
        const std::string output = deleteSource ? source : prefix + tail;
        ASSERT_TRUE(runner.assemble(base + "000", prefix, {Yes, Yes}));
        EXPECT_SHOWN(runner, question(messages::kConfirmAssemble),
                     deletePartsQuestion(partCount, output));
        EXPECT_TRUE(readFile(output) == bytes) << "assembled file differs from the source";
        EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{name, "out"}));
        EXPECT_EQ(listDir(dir / "out"),
                  deleteSource ? std::set<std::string>{} : std::set<std::string>{"r." + tail});
        expectBoundedResources(fs);
    }
    EXPECT_GT(splitsDone, kRuns / 2) << "too few runs reached a real split";
}

// Splits bytes into two sets and rebuilds the file from each, checking both; gives every file
// written, by name, and the rebuilt ones.
std::map<std::string, std::string> splitAndAssemble(FaultyFileSystem& fs,
                                                    const std::string& bytes) {
    std::map<std::string, std::string> written;
    ScratchDir dir;
    writeFile(dir / "movie.avi", bytes);
    EngineRunner runner(fs);
    EXPECT_TRUE(runner.split(dir / "movie.avi", 7, "", {Yes, No}));
    EXPECT_TRUE(runner.split2(dir / "movie.avi", 9, dir / "nine.", {Yes, No}));
    EXPECT_TRUE(isPartSet(dir / "movie.", bytes, 7 * 1024, "avi"));
    EXPECT_TRUE(isPartSet(dir / "nine.", bytes, bytes.size() / 9, "avi"));
    for (const auto& name : listDir(dir.path()))
        written[name] = readFile(dir / name);
    std::filesystem::remove(dir / "movie.avi");
    EXPECT_TRUE(runner.assemble(dir / "movie.000", "", {Yes, Yes}));
    EXPECT_TRUE(runner.assemble(dir / "nine.000", dir / "again.", {Yes, Yes}));
    written["rebuilt"] = readFile(dir / "movie.avi");
    written["rebuilt again"] = readFile(dir / "again.avi");
    EXPECT_TRUE(written["rebuilt"] == bytes && written["rebuilt again"] == bytes);
    return written;
}

TEST(CopyPaths, EveryWayWritesIdenticalFiles) {
    const std::string bytes = randomBytes(300007, 11);
    std::map<CopyPath, std::map<std::string, std::string>> written;
    for (const CopyPath path : {CopyPath::Splice, CopyPath::KernelCopy, CopyPath::FallbackExdev,
                                CopyPath::FallbackEnosys, CopyPath::ShortTransfers}) {
        SCOPED_TRACE("copy path " + std::to_string(int(path)));
        FaultyFileSystem fs;
        useCopyPath(fs, path, 1000);
        written[path] = splitAndAssemble(fs, bytes);
        expectBoundedResources(fs);
        const bool splices = path == CopyPath::Splice || path == CopyPath::ShortTransfers;
        if (path == CopyPath::KernelCopy) {
            EXPECT_GT(fs.calls(FsCall::CopyFileRange), 40u) << "copy_file_range was not used";
        }
        if (splices) {
            EXPECT_GT(fs.calls(FsCall::Splice), 40u) << "splicing was not used";
        }
        if (path == CopyPath::FallbackExdev || path == CopyPath::FallbackEnosys) {
            EXPECT_GT(fs.calls(FsCall::Read) + fs.calls(FsCall::Pread), 40u)
                << "the user-space copy was not used";
        }
    }
    for (const auto& [path, files] : written)
        EXPECT_TRUE(files == written[CopyPath::Splice]) << "copy path " << int(path);
}

// A file system may refuse a way in the middle of a copy (a splice into the pipe taken, the
// one out of it refused): whatever the pipe holds still arrives, once, in order.
TEST(CopyPaths, WaysRefusedMidwayLoseNothing) {
    const std::string bytes = randomBytes(300007, 12);
    FaultyFileSystem plain;
    const auto expected = splitAndAssemble(plain, bytes);
    for (const int err : {EINVAL, EXDEV}) {
        for (std::uint64_t nth = 1; nth <= 12; ++nth) {
            SCOPED_TRACE(std::string(std::strerror(err)) + " from call " + std::to_string(nth));
            // Odd calls splice into the pipe, even ones out of it.
            FaultyFileSystem spliceRefused;
            spliceRefused.limitTransfers(5000);
            spliceRefused.failFrom(FsCall::Splice, nth, err);
            EXPECT_TRUE(splitAndAssemble(spliceRefused, bytes) == expected);
            expectBoundedResources(spliceRefused);
            FaultyFileSystem kernelCopyRefused;
            kernelCopyRefused.limitTransfers(5000);
            kernelCopyRefused.failEvery(FsCall::Splice, EINVAL);
            kernelCopyRefused.failFrom(FsCall::CopyFileRange, nth, err);
            EXPECT_TRUE(splitAndAssemble(kernelCopyRefused, bytes) == expected);
        }
    }
}

// Each part and each rebuilt file is reserved once, for exactly the size it ends with: less
// would not fail early on a full disk, more would hold disk space past the end.
TEST(CopyPaths, EveryFileIsReservedAtItsFinalSize) {
    const std::string bytes = randomBytes(300007, 13);
    FaultyFileSystem fs;
    const auto written = splitAndAssemble(fs, bytes);
    std::multiset<std::size_t> sizes, reserved;
    for (const auto& [name, content] : written)
        if (name != "movie.avi")
            sizes.insert(content.size());
    for (const auto& [path, length] : fs.preallocations())
        reserved.insert(std::size_t(length));
    EXPECT_EQ(reserved, sizes);
}

struct NameCase {
    const char* label;
    std::string name;
    std::string firstPart;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.label;
}

class NameRoundTrip : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameRoundTrip, PartsAreNamedByBytesAndTheNameComesBack) {
    const auto& param = GetParam();
    ScratchDir dir;
    const std::string bytes = randomBytes(2500, 5);
    writeFile(dir / param.name, bytes);
    EngineRunner runner;
    ASSERT_TRUE(runner.split(dir / param.name, 1, "", {Yes, Yes}));
    const std::string base = param.firstPart.substr(0, param.firstPart.size() - 3);
    EXPECT_EQ(listDir(dir.path()),
              (std::set<std::string>{partName(base, 0), partName(base, 1), partName(base, 2)}));
    EXPECT_TRUE(isPartSet(dir / base, bytes, 1024, param.name.substr(param.name.size() - 3)));
    ASSERT_TRUE(runner.assemble(dir / param.firstPart, "", {Yes, Yes}));
    EXPECT_EQ(listDir(dir.path()), std::set<std::string>{param.name});
    EXPECT_TRUE(readFile(dir / param.name) == bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameRoundTrip,
    ::testing::Values(NameCase{"FourLetterExtension", "song.flac", "song.f000"},
                      NameCase{"NoExtension", "README", "REA000"},
                      NameCase{"Utf8", "caf\xc3\xa9.txt", "caf\xc3\xa9.000"},
                      NameCase{"Utf8CutInTheTail", "r\xc3\xa9sum\xc3\xa9", "r\xc3\xa9su000"},
                      NameCase{"NotUtf8", "\xff\xfe\x80.b\xe9n", "\xff\xfe\x80.000"},
                      NameCase{"ThreeBytes", "a b", "000"},
                      NameCase{"Spaces", "my file .x y", "my file .000"}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.label); });

} // namespace
} // namespace tolvar::testing

namespace tolvar::testing {
namespace {

bool sameContent(const std::string& a, const std::string& b) {
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    std::vector<char> x(1 << 20), y(1 << 20);
    while (left && right) {
        left.read(x.data(), std::streamsize(x.size()));
        right.read(y.data(), std::streamsize(y.size()));
        if (left.gcount() != right.gcount() ||
            !std::equal(x.begin(), x.begin() + left.gcount(), y.begin()))
            return false;
    }
    return left.eof() && right.eof();
}

// Lengths and offsets past 2 GiB must not wrap: the largest part size the format allows cuts
// such a source in two, and marks on either side of the 2 GiB boundary come back in place. The
// source is sparse, so only the parts and the rebuilt file take disk space.
TEST(LargeSource, PastTwoGiBSplitsAndAssemblesByteForByte) {
    ScratchDir dir;
    const std::string source = dir / "large.bin";
    const std::int64_t length = (std::int64_t{2} << 30) + 3 * 1024 * 1024 + 5;
    // The parts and the rebuilt file take twice the length; leave room for everyone else.
    if (std::filesystem::space(dir.path()).available < std::uintmax_t(3 * length))
        GTEST_SKIP() << "needs " << 3 * length / (1 << 20) << " MiB free in " << dir.path();
    writeFile(source, "");
    std::filesystem::resize_file(source, std::uintmax_t(length));
    {
        std::fstream marks(source, std::ios::binary | std::ios::in | std::ios::out);
        for (const std::int64_t at : {std::int64_t{0}, (std::int64_t{1} << 31) - 4, length - 8}) {
            marks.seekp(at);
            marks.write("MARK@", 5);
        }
    }

    EngineRunner run;
    constexpr std::int32_t kLargestKilobytes = 2097151;
    constexpr std::int64_t kPartSize = std::int64_t{kLargestKilobytes} * 1024;
    ASSERT_TRUE(run.split(source, kLargestKilobytes, "", {Yes, No}));
    EXPECT_EQ(std::filesystem::file_size(dir / "large.000"), std::uintmax_t(kPartSize + 16));
    EXPECT_EQ(std::filesystem::file_size(dir / "large.001"),
              std::uintmax_t(length - kPartSize + 16));
    EXPECT_FALSE(exists(dir / "large.002"));
    EXPECT_EQ(readFile(dir / "large.001").substr(0, 16), expectedHeader(1, 2, "bin"));

    std::filesystem::rename(source, dir / "original");
    ASSERT_TRUE(run.assemble(dir / "large.000", "", {Yes, No}));
    EXPECT_EQ(std::filesystem::file_size(source), std::uintmax_t(length));
    EXPECT_TRUE(sameContent(source, dir / "original"));
}

} // namespace
} // namespace tolvar::testing
