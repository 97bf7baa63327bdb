// Split by size and by number of parts, on real files in a scratch folder.

#include "copier.h"
#include "test_support.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace tolvar::testing {
namespace {

using messages::kAlreadySplit;
using messages::kConfirmSplit;
using messages::kPartIsSource;
using messages::kTooSmall;
constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;
constexpr auto Ok = MsgAnswer::Ok;

// The refusal of a set too large for three-digit fields, as the user reads it.
std::string tooManyParts(int count) {
    return "This split would need " + std::to_string(count) +
           " broken files, but a set can hold at most 999. Choose a larger size or fewer broken "
           "files.";
}

class SplitTest : public ::testing::Test {
protected:
    void SetUp() override { descriptors = openDescriptorCount(); }
    void TearDown() override {
        EXPECT_EQ(openDescriptorCount(), descriptors) << "a descriptor was left open";
    }

    // A source at dir/name with `size` pseudo-random bytes.
    std::string makeSource(const std::string& name, std::size_t size, std::uint32_t seed = 7) {
        const std::string path = dir / name;
        content = randomBytes(size, seed);
        writeFile(path, content);
        return path;
    }

    // Nothing but the source (and whatever else the test put there) may be in the folder.
    void expectOnly(std::set<std::string> names) { EXPECT_EQ(listDir(dir.path()), names); }

    ScratchDir dir;
    EngineRunner run;
    std::string content;
    int descriptors = 0;
};

struct SizeCase {
    const char* name;
    std::size_t length;
    std::int32_t kilobytes;
    int partCount;
    std::size_t lastPayload;
};

void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.name;
}

class SplitBySizeCases : public SplitTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SplitBySizeCases, CutsIntoFullPartsAndOneRemainder) {
    const auto& param = GetParam();
    const std::string source = makeSource("movie.avi", param.length);
    ASSERT_TRUE(run.split(source, param.kilobytes, "", {Yes, No}));
    EXPECT_SHOWN(run, question(kConfirmSplit), deleteSourceQuestion(source));

    const std::uint64_t partSize = std::uint64_t(param.kilobytes) * 1024;
    EXPECT_TRUE(isPartSet(dir / "movie.", content, partSize, "avi"));
    const std::string last = partName(dir / "movie.", param.partCount - 1);
    ASSERT_TRUE(exists(last));
    EXPECT_EQ(readFile(last).size(), kHeaderSize + param.lastPayload);
    EXPECT_EQ(listDir(dir.path()).size(), std::size_t(param.partCount) + 1);
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
}

INSTANTIATE_TEST_SUITE_P(Lengths, SplitBySizeCases,
                         ::testing::Values(SizeCase{"OnePartPlusOneByte", 1025, 1, 2, 1},
                                           SizeCase{"ExactMultipleEndsHeaderOnly", 2048, 1, 3, 0},
                                           SizeCase{"ThirtyThousandAtOneKilobyte", 30000, 1, 30,
                                                    304},
                                           SizeCase{"StepSpansManyParts", 10240 * 3 + 5, 2, 16, 5},
                                           SizeCase{"PartsLargerThanOneStep", 100000, 24, 5, 1696},
                                           SizeCase{"LargestSetOf999", 998 * 1024 + 1, 1, 999, 1}),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

TEST_F(SplitTest, SourceOfExactlyOnePartIsTooSmall) {
    const std::string source = makeSource("movie.avi", 1024);
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kTooSmall));
    expectOnly({"movie.avi"});
}

TEST_F(SplitTest, EmptySourceIsTooSmallForAnySizeOrNumber) {
    const std::string source = makeSource("movie.avi", 0);
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kTooSmall));
    EXPECT_FALSE(run.split(source, 0, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kTooSmall));
    EXPECT_FALSE(run.split2(source, 2, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kTooSmall));
    expectOnly({"movie.avi"});
}

TEST_F(SplitTest, SizeZeroDividesByZeroAndWritesNothing) {
    const std::string source = makeSource("movie.avi", 500);
    EXPECT_FALSE(run.split(source, 0, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::DivisionByZero));
    expectOnly({"movie.avi"});
}

TEST_F(SplitTest, SizeAboveTwoGigabytesOverflowsButTheLargestSizeDoesNot) {
    const std::string source = makeSource("movie.avi", 500);
    EXPECT_FALSE(run.split(source, 2097152, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::Overflow));
    EXPECT_FALSE(run.split(source, 2097151, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kTooSmall));
    expectOnly({"movie.avi"});
}

TEST_F(SplitTest, NegativeSizeOrNumberFailsBeforeAnyFileIsCreated) {
    const std::string source = makeSource("movie.avi", 5000);
    EXPECT_FALSE(run.split(source, -1, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::InvalidArgument));
    EXPECT_FALSE(run.split2(source, -3, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::InvalidArgument));
    expectOnly({"movie.avi"});
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
}

TEST_F(SplitTest, ThousandPartsOrMoreAreRefusedWithTheLimit) {
    const std::string source = makeSource("movie.avi", 999 * 1024);
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(tooManyParts(1000)));
    expectOnly({"movie.avi"});
}

TEST_F(SplitTest, MoreThan32767PartsOverflow) {
    // Sparse files: the count is decided before a byte is copied.
    const std::string source = dir / "big.bin";
    writeFile(source, "x");
    std::filesystem::resize_file(source, 32767u * 1024u);
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::Overflow));

    std::filesystem::resize_file(source, 32766u * 1024u + 1u);
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(tooManyParts(32767)));
    expectOnly({"big.bin"});
}

TEST_F(SplitTest, PartFileAsSourceIsAlreadySplitUnlessTooSmallFirst) {
    const std::string source = dir / "movie.001";
    content = "SPLITKV001003avi" + randomBytes(2000, 3);
    writeFile(source, content);
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kAlreadySplit));
    EXPECT_FALSE(run.split(source, 2, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kTooSmall));
    expectOnly({"movie.001"});
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
}

TEST_F(SplitTest, LowerCaseTagIsNoPart) {
    const std::string source = dir / "notes.txt";
    content = "splitkv000002txt" + randomBytes(1500, 4);
    writeFile(source, content);
    ASSERT_TRUE(run.split(source, 1, "", {Yes, No}));
    EXPECT_TRUE(isPartSet(dir / "notes.", content, 1024, "txt"));
}

TEST_F(SplitTest, MissingSourceIsFileNotFound) {
    EXPECT_FALSE(run.split(dir / "gone.avi", 1, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::FileNotFound,
                                {dir / "gone.avi", std::strerror(ENOENT)}));
    expectOnly({});
}

TEST_F(SplitTest, SourceThatIsNoOrdinaryFileFailsWithoutHanging) {
    // A FIFO would block a plain open; a device has no end to copy up to.
    ASSERT_EQ(::mkfifo((dir / "pipe.avi").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.avi");
    for (const auto& [name, what] :
         {std::pair{"pipe.avi", "(it is a FIFO)"}, std::pair{"zero.avi", "(it is a device)"}}) {
        EXPECT_FALSE(run.split(dir / name, 1, "", {Yes, Ok})) << name;
        ASSERT_EQ(run.shown().size(), 2u) << name;
        EXPECT_TRUE(
            isFailureReport(run.shown()[1], FailureKind::NotOrdinaryFile, {dir / name, what}))
            << name;
    }
    expectOnly({"pipe.avi", "zero.avi"});
}

TEST_F(SplitTest, PrefixInMissingFolderIsPathNotFound) {
    const std::string source = makeSource("movie.avi", 3000);
    const std::string prefix = dir / "missing/movie.";
    EXPECT_FALSE(run.split(source, 1, prefix, {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::PathNotFound,
                                {prefix + "000", std::strerror(ENOENT)}));
    expectOnly({"movie.avi"});
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
}

TEST_F(SplitTest, PrefixPutsPartsElsewhereAndTheTailStaysTheSourcesOwn) {
    const std::string source = makeSource("movie.avi", 5000);
    std::filesystem::create_directory(dir / "out");
    ASSERT_TRUE(run.split(source, 2, dir / "out/film.", {Yes, No}));
    EXPECT_TRUE(isPartSet(dir / "out/film.", content, 2048, "avi"));
    EXPECT_EQ(listDir(dir / "out").size(), 3u);
    expectOnly({"movie.avi", "out"});
}

TEST_F(SplitTest, BlankPrefixIsADestination) {
    const std::string source = makeSource("movie.avi", 1500);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const bool done = run.split(source, 1, "  ", {Yes, No});
    std::filesystem::current_path(previous);
    ASSERT_TRUE(done);
    EXPECT_TRUE(isPartSet(dir / "  ", content, 1024, "avi"));
}

TEST_F(SplitTest, ResplitIntoSmallerPartsLeavesNothingOfTheLongerOnes) {
    const std::string source = makeSource("movie.avi", 5000);
    ASSERT_TRUE(run.split(source, 2, "", {Yes, No}));
    ASSERT_TRUE(run.split(source, 1, "", {Yes, No}));
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
}

// The older set's later parts would stay beside the new set as an incomplete set of their own.
TEST_F(SplitTest, ResplitIntoLargerPartsTakesTheOlderSetsLaterPartsWithIt) {
    const std::string source = makeSource("movie.avi", 5000);
    ASSERT_TRUE(run.split(source, 1, "", {Yes, No}));
    ASSERT_TRUE(run.split(source, 2, "", {Yes, No}));
    for (int index = 0; index < 3; ++index)
        EXPECT_EQ(readFile(partName(dir / "movie.", index)),
                  expectedHeader(index, 3, "avi") +
                      content.substr(std::size_t(index) * 2048, 2048));
    expectOnly({"movie.avi", "movie.000", "movie.001", "movie.002"});
}

TEST_F(SplitTest, NoToTheConfirmationTouchesNoFile) {
    const std::string source = makeSource("movie.avi", 3000);
    FaultyFileSystem fs;
    EngineRunner counted(fs);
    EXPECT_FALSE(counted.split(source, 1, "", {No}));
    EXPECT_SHOWN(counted, question(kConfirmSplit));
    EXPECT_EQ(fs.totalCalls(), 0u);
    expectOnly({"movie.avi"});
}

TEST_F(SplitTest, YesToDeleteRemovesTheSourceAfterAWholeSet) {
    const std::string source = makeSource("movie.avi", 3000);
    ASSERT_TRUE(run.split(source, 1, "", {Yes, Yes}));
    EXPECT_SHOWN(run, question(kConfirmSplit), deleteSourceQuestion(source));
    EXPECT_FALSE(exists(source));
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
    expectOnly({"movie.000", "movie.001", "movie.002"});
}

TEST_F(SplitTest, PartsAreOnDiskBeforeTheSourceIsDeletedAndNeverFlushedOtherwise) {
    const std::string source = makeSource("movie.avi", 3000);
    std::filesystem::create_directory(dir / "out");
    FaultyFileSystem fs;
    EngineRunner logged(fs);
    fs.keepLog(true);
    ASSERT_TRUE(logged.split(source, 1, dir / "out/movie.", {Yes, No}));
    EXPECT_EQ(callCount(fs.log(), FsCall::Fsync), 0u) << "No to delete must cost no flush";

    fs.keepLog(true);
    ASSERT_TRUE(logged.split(source, 1, dir / "out/movie.", {Yes, Yes}));
    const auto& log = fs.log();
    const std::size_t deleted = firstCall(log, FsCall::Unlink, source);
    ASSERT_NE(deleted, std::string::npos);
    for (const std::string& synced :
         {dir / "out/movie.000", dir / "out/movie.001", dir / "out/movie.002", dir / "out"})
        EXPECT_LT(firstCall(log, FsCall::Fsync, synced), deleted) << synced << " not flushed first";
}

TEST_F(SplitTest, SourceThatCannotBeDeletedIsAFailureWithTheSetWhole) {
    const std::string source = makeSource("movie.avi", 3000);
    FaultyFileSystem fs;
    fs.failOn(FsCall::Unlink, source, EACCES);
    EngineRunner failing(fs);
    EXPECT_FALSE(failing.split(source, 1, "", {Yes, Yes, Ok, Ok}));
    ASSERT_EQ(failing.shown().size(), 4u);
    EXPECT_TRUE(isFailureReport(failing.shown()[2], FailureKind::PermissionDenied,
                                {source, std::strerror(EACCES)}));
    EXPECT_EQ(failing.shown()[3].text, "The broken files are complete, but '" + source +
                                           "' could not be deleted and is still there.");
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
}

// Only the file that was split is deleted: one that changed while it was split, or another
// file named for deletion, holds bytes no broken file has.
TEST_F(SplitTest, OnlyTheUnchangedSourceIsDeleted) {
    const std::string source = makeSource("movie.avi", 3000);
    const std::string other = dir / "other.txt";
    writeFile(other, "keep me");
    run.box.reset({Yes, Yes, Ok});
    OperationContext context{run.box};
    EXPECT_EQ(splitBy(SplitRule::Kilobytes, source, 1, "", other, context), SplitEnd::FilesLeft);
    EXPECT_SHOWN(run, question(kConfirmSplit), deleteSourceQuestion(other),
                 refusal(messages::sourceChangedMessage(other)));
    EXPECT_EQ(readFile(other), "keep me");
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));

    // Bytes appended while the parts are written.
    struct Appending : FaultyFileSystem {
        std::string path;
        int fchmod(int fd, mode_t mode) override {
            std::ofstream(path, std::ios::app) << "late";
            return FaultyFileSystem::fchmod(fd, mode);
        }
    } fs;
    fs.path = source;
    EngineRunner appending(fs);
    EXPECT_FALSE(appending.split(source, 1, "", {Yes, Yes, Ok}));
    EXPECT_SHOWN(appending, question(kConfirmSplit), deleteSourceQuestion(source),
                 refusal(messages::sourceChangedMessage(source)));
    EXPECT_TRUE(exists(source));
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
}

// Parts carry the source's permission bits less the umask, as cp gives them.
TEST_F(SplitTest, PartsTakeTheSourcesModeLessTheUmask) {
    const std::string source = makeSource("movie.avi", 3000);
    const mode_t mask = ::umask(027);
    for (const mode_t mode : {mode_t(0600), mode_t(0755), mode_t(0200)}) {
        ::chmod(source.c_str(), mode);
        run.box.reset({Yes, No});
        OperationContext context{run.box};
        EXPECT_TRUE(SplitFile(source, 1, "", source, context, {1, true})) << std::oct << mode;
        for (const char* name : {"movie.000", "movie.002", "movie.r00", "movie.sha256"}) {
            struct stat st {};
            ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode & ~mode_t(027)) << name << " " << std::oct << mode;
        }
    }
    ::umask(mask);
}

// A name that leaves no three bytes of its own for the header, with a prefix or without, or
// parts that would be hidden, is refused before anything is written.
TEST_F(SplitTest, ShortOrHiddenNamesAreRefused) {
    std::filesystem::create_directory(dir / "d");
    writeFile(dir / "d/ab", std::string(3000, 'x'));
    writeFile(dir / "d/abc", std::string(3000, 'x'));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir / "d");
    using Row = std::tuple<std::string, std::string, std::string>;
    // "out/" is what a prefix naming a folder gives for a two-character source.
    for (const auto& [source, prefix, message] :
         {Row{dir / "d/ab", "", messages::shortNameMessage(dir / "d/ab")},
          {"./ab", "", messages::shortNameMessage("./ab")},
          {"ab", "", messages::shortNameMessage("ab")},
          {"ab", dir / "out/", messages::shortNameMessage("ab")},
          {dir / "d/ab", dir / "out.", messages::shortNameMessage(dir / "d/ab")},
          {dir / "d/abc", dir / "d/.",
           messages::unusablePartNameMessage(dir / "d/abc", dir / "d/.000")}}) {
        EXPECT_FALSE(run.split(source, 1, prefix, {Yes, Ok})) << source;
        EXPECT_SHOWN(run, question(kConfirmSplit), refusal(message));
    }
    std::filesystem::current_path(previous);
    expectOnly({"d"});
    EXPECT_EQ(listDir(dir / "d"), (std::set<std::string>{"ab", "abc"}));
}

// A name one byte too long for its folder would fail only when the whole set is written and
// moved into place; the checksum file's name is the longest of the set.
TEST_F(SplitTest, ANameTooLongForTheFolderIsRefusedBeforeAnythingIsWritten) {
    const std::string stem(251, 'n');
    const std::string source = makeSource(stem + ".avi", 3000);
    OperationContext context{run.box};
    run.box.reset({Yes, Ok});
    EXPECT_FALSE(SplitFile(source, 1, "", source, context, {0, true}));
    EXPECT_SHOWN(run, question(kConfirmSplit),
                 refusal("The name '" + stem + ".sha256' is 258 bytes long, but the folder '" +
                         dir.path() +
                         "' holds names of at most 255 bytes. Choose a shorter "
                         "name or prefix."));
    expectOnly({stem + ".avi"});
}

TEST_F(SplitTest, SourceEndingIn000WithoutPrefixIsRefused) {
    const std::string source = makeSource("backup.000", 3000);
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kPartIsSource));
    expectOnly({"backup.000"});
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
}

TEST_F(SplitTest, PrefixSpellingTheSourceDifferentlyIsRefused) {
    const std::string source = makeSource("clip.001", 3000);
    EXPECT_FALSE(run.split(source, 1, dir / "./clip.", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kPartIsSource));
    EXPECT_FALSE(run.split2(source, 2, dir.path() + "//clip.", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kPartIsSource));
    expectOnly({"clip.001"});
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
}

TEST_F(SplitTest, PrefixReachingTheSourceThroughAHardLinkIsRefused) {
    const std::string source = makeSource("a.bin", 3000);
    std::filesystem::create_hard_link(source, dir / "b.002");
    EXPECT_FALSE(run.split(source, 1, dir / "b.", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kPartIsSource));
    expectOnly({"a.bin", "b.002"});
    EXPECT_TRUE(readFile(source) == content) << "the source changed";
}

TEST_F(SplitTest, SymlinkAtAPartNameIsReplacedAndItsTargetKept) {
    const std::string source = makeSource("movie.avi", 3000);
    writeFile(dir / "victim", "precious");
    std::filesystem::create_symlink(dir / "victim", dir / "movie.001");
    ASSERT_TRUE(run.split(source, 1, "", {Yes, No}));
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "movie.001"));
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
    EXPECT_EQ(readFile(dir / "victim"), "precious");
}

TEST_F(SplitTest, HardLinkAtAPartNameIsReplacedAndTheOtherNameKept) {
    const std::string source = makeSource("movie.avi", 3000);
    writeFile(dir / "keep", std::string(5000, 'k'));
    std::filesystem::create_hard_link(dir / "keep", dir / "movie.000");
    ASSERT_TRUE(run.split(source, 1, "", {Yes, No}));
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
    EXPECT_EQ(readFile(dir / "keep"), std::string(5000, 'k'));
}

TEST_F(SplitTest, FolderAtAPartNameFailsAndRemovesTheCreatedParts) {
    const std::string source = makeSource("movie.avi", 3000);
    std::filesystem::create_directory(dir / "movie.001");
    EXPECT_FALSE(run.split(source, 1, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_EQ(run.shown()[1].style, MsgStyle::Critical);
    EXPECT_NE(run.shown()[1].text.find(dir / "movie.001"), std::string::npos)
        << run.shown()[1].text;
    expectOnly({"movie.avi", "movie.001"});
    EXPECT_TRUE(std::filesystem::is_empty(dir / "movie.001"));
}

struct NumberCase {
    const char* name;
    std::size_t length;
    std::int32_t number;
    std::size_t partSize;
    int partCount;
};

void PrintTo(const NumberCase& c, std::ostream* out) {
    *out << c.name;
}

class SplitByNumberCases : public SplitTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(SplitByNumberCases, PartSizeIsLengthDivNumber) {
    const auto& param = GetParam();
    const std::string source = makeSource("movie.avi", param.length);
    ASSERT_TRUE(run.split2(source, param.number, "", {Yes, No}));
    EXPECT_SHOWN(run, question(kConfirmSplit), deleteSourceQuestion(source));
    EXPECT_TRUE(isPartSet(dir / "movie.", content, param.partSize, "avi"));
    EXPECT_EQ(listDir(dir.path()).size(), std::size_t(param.partCount) + 1);
}

INSTANTIATE_TEST_SUITE_P(Numbers, SplitByNumberCases,
                         ::testing::Values(NumberCase{"MillionByThree", 1000000, 3, 333333, 4},
                                           NumberCase{"DivisibleEndsHeaderOnly", 999999, 3, 333333,
                                                      4},
                                           NumberCase{"TwoPartsPerStep", 102400, 20, 5120, 21},
                                           NumberCase{"TenBytesByFour", 10, 4, 2, 6},
                                           NumberCase{"FiftyParts", 123457, 50, 2469, 51}),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

TEST_F(SplitTest, ByNumberRefusalsAndFailures) {
    const std::string source = makeSource("movie.avi", 30);
    EXPECT_FALSE(run.split2(source, 50, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::DivisionByZero));
    EXPECT_FALSE(run.split2(source, 0, "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::DivisionByZero));
    EXPECT_FALSE(run.split2(source, 1, "", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmSplit), refusal(kTooSmall));
    expectOnly({"movie.avi"});
}

TEST_F(SplitTest, ByNumberWithPrefixAndDelete) {
    const std::string source = makeSource("movie.avi", 7001);
    std::filesystem::create_directory(dir / "out");
    ASSERT_TRUE(run.split2(source, 7, dir / "out/movie.", {Yes, Yes}));
    EXPECT_TRUE(isPartSet(dir / "out/movie.", content, 1000, "avi"));
    expectOnly({"out"});
}

// Writes reach a FUSE file system in requests of kWriteRun bytes at most; the 16-byte header
// must not shift every request of a part, or of a join, off their boundaries.
TEST(Copy, WritesStartOnTheRunsAFuseFileSystemTakes) {
    struct Write {
        int fd;
        off_t start;
        std::size_t length;
    };
    struct Recording : PosixFileSystem {
        std::vector<Write> writes;
        ssize_t splice(int inFd, off_t* inOffset, int outFd, std::size_t count) override {
            const off_t at = inOffset == nullptr ? ::lseek(outFd, 0, SEEK_CUR) : -1;
            const ssize_t n = PosixFileSystem::splice(inFd, inOffset, outFd, count);
            if (at >= 0 && n > 0)
                writes.push_back({outFd, at, static_cast<std::size_t>(n)});
            return n;
        }
    } fs;
    ScratchDir dir;
    const std::string content = randomBytes(3500000, 8);
    writeFile(dir / "movie.avi", content);
    EngineRunner runner(fs);
    ASSERT_TRUE(runner.split(dir / "movie.avi", 1000, "", {Yes, No}));
    ASSERT_TRUE(runner.assemble(dir / "movie.000", dir / "joined.", {Yes, No}));
    ASSERT_EQ(readFile(dir / "joined.avi"), content);
    ASSERT_GT(fs.writes.size(), 8u);
    for (std::size_t i = 0; i < fs.writes.size(); ++i) {
        const Write& w = fs.writes[i];
        const bool lastOfItsFile = i + 1 == fs.writes.size() || fs.writes[i + 1].fd != w.fd ||
                                   fs.writes[i + 1].start != w.start + static_cast<off_t>(w.length);
        const auto run = static_cast<off_t>(detail::kWriteRun);
        const bool offARun =
            w.start % run != 0 && (w.start + static_cast<off_t>(w.length)) % run != 0;
        EXPECT_FALSE(offARun && !lastOfItsFile)
            << "write " << i << " at " << w.start << " of " << w.length;
    }
}

} // namespace
} // namespace tolvar::testing

namespace tolvar::testing {
namespace {

// A second split of the same file, started while the first is still writing, must not take
// the first one's files for its own or leave anything of its own behind: both end whole, and
// the set left is whole.
TEST(ConcurrentSplits, NeitherDeletesTheOthersParts) {
    ScratchDir dir;
    const std::string source = dir / "movie.avi";
    const std::string content = randomBytes(5000, 7);
    writeFile(source, content);
    MidwayFileSystem fs;
    bool secondDone = false;
    fs.during = [&] {
        EngineRunner second;
        secondDone = second.split(source, 2, "", {Yes, No});
    };
    EngineRunner first(fs);
    EXPECT_TRUE(first.split(source, 1, "", {Yes, No}));
    EXPECT_TRUE(secondDone);
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
    const std::set<std::string> expected = {"movie.avi", "movie.000", "movie.001",
                                            "movie.002", "movie.003", "movie.004"};
    EXPECT_EQ(listDir(dir.path()), expected);
}

} // namespace
} // namespace tolvar::testing
