// Assembly of hand-made part sets, so these tests do not lean on the splitter being right.

#include "test_support.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <utility>

namespace tolvar::testing {
namespace {

using messages::kConfirmAssemble;
using messages::kNotBrokenFile;
using messages::kNotSplitFile;
using messages::kOutputIsPart;
using messages::kUnsafeNameTail;
constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;
constexpr auto Ok = MsgAnswer::Ok;

class AssembleTest : public ::testing::Test {
protected:
    void SetUp() override { descriptors = openDescriptorCount(); }
    void TearDown() override {
        EXPECT_EQ(openDescriptorCount(), descriptors) << "a descriptor was left open";
    }

    // Writes base000, base001, ... each with its header and payload; returns the joined
    // payloads.
    std::string writeSet(const std::string& base, const std::vector<std::string>& payloads,
                         std::string_view tail, int count = -1) {
        if (count < 0)
            count = static_cast<int>(payloads.size());
        std::string joined;
        for (std::size_t index = 0; index < payloads.size(); ++index) {
            writeFile(partName(base, int(index)),
                      expectedHeader(int(index), count, tail) + payloads[index]);
            joined += payloads[index];
        }
        return joined;
    }

    // A three-part set movie.000 .. movie.002 with tail "avi", and its parts' bytes.
    std::string writeMovieSet() {
        const std::string joined =
            writeSet(dir / "movie.",
                     {randomBytes(3000, 1), randomBytes(3000, 2), randomBytes(77, 3)}, "avi");
        for (int index = 0; index < 3; ++index)
            partBytes.push_back(readFile(partName(dir / "movie.", index)));
        return joined;
    }

    void expectMovieSetIntact() {
        for (int index = 0; index < 3; ++index)
            EXPECT_EQ(readFile(partName(dir / "movie.", index)), partBytes[std::size_t(index)])
                << "part " << index;
    }

    ScratchDir dir;
    EngineRunner run;
    std::vector<std::string> partBytes;
    int descriptors = 0;
};

// The rebuilt file has no name in its folder until it is complete, so a run killed midway
// leaves nothing behind, and it takes the first part's permission bits less the umask.
TEST_F(AssembleTest, RebuiltFileIsNamelessUntilCompleteAndTakesTheFirstPartsMode) {
    const std::string joined = writeMovieSet();
    ::chmod((dir / "movie.000").c_str(), 0750);
    MidwayFileSystem fs;
    std::set<std::string> seenMidway;
    fs.during = [&] { seenMidway = listDir(dir.path()); };
    const mode_t mask = ::umask(027);
    EngineRunner watched(fs);
    const bool done = watched.assemble(dir / "movie.000", "", {Yes, No});
    ::umask(mask);
    ASSERT_TRUE(done);
    EXPECT_EQ(seenMidway, (std::set<std::string>{"movie.000", "movie.001", "movie.002"}));
    EXPECT_EQ(readFile(dir / "movie.avi"), joined);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "movie.avi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t(0750));
}

TEST_F(AssembleTest, ReportDocxIsRebuiltBesideItsParts) {
    const std::string joined =
        writeSet(dir / "report.d", {randomBytes(2048, 5), randomBytes(2048, 6), "tail"}, "ocx");
    ASSERT_TRUE(run.assemble(dir / "report.d000", "", {Yes, No}));
    EXPECT_SHOWN(run, question(kConfirmAssemble), deletePartsQuestion(3, dir / "report.docx"));
    EXPECT_EQ(readFile(dir / "report.docx"), joined);
    EXPECT_EQ(listDir(dir.path()),
              (std::set<std::string>{"report.d000", "report.d001", "report.d002", "report.docx"}));
}

TEST_F(AssembleTest, YesDeletesTheSetButNotAnExtraPartBeyondTheCount) {
    const std::string joined =
        writeSet(dir / "movie.", {randomBytes(500, 1), randomBytes(500, 2), ""}, "avi");
    // The header-only part 002 adds nothing and goes with the others; 003 is no member.
    writeFile(dir / "movie.003", expectedHeader(3, 3, "avi") + "extra");
    ASSERT_TRUE(run.assemble(dir / "movie.000", "", {Yes, Yes}));
    EXPECT_SHOWN(run, question(kConfirmAssemble), deletePartsQuestion(3, dir / "movie.avi"));
    EXPECT_EQ(readFile(dir / "movie.avi"), joined);
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"movie.003", "movie.avi"}));
    EXPECT_EQ(readFile(dir / "movie.003"), expectedHeader(3, 3, "avi") + "extra");
}

TEST_F(AssembleTest, PrefixIsFollowedByTheTail) {
    const std::string joined = writeMovieSet();
    std::filesystem::create_directory(dir / "out");
    ASSERT_TRUE(run.assemble(dir / "movie.000", dir / "out/film.", {Yes, No}));
    EXPECT_EQ(readFile(dir / "out/film.avi"), joined);
    ASSERT_TRUE(run.assemble(dir / "movie.000", dir / "out/film.avi.", {Yes, No}));
    EXPECT_EQ(readFile(dir / "out/film.avi.avi"), joined);
    expectMovieSetIntact();
}

TEST_F(AssembleTest, ChosenPartOtherThanTheFirstEndsSilently) {
    writeMovieSet();
    const auto before = listDir(dir.path());
    EXPECT_FALSE(run.assemble(dir / "movie.001", "", {Yes}));
    EXPECT_SHOWN(run, question(kConfirmAssemble));
    EXPECT_EQ(listDir(dir.path()), before);
}

TEST_F(AssembleTest, CountBelowTwoIsNoSplitFileAndTheOldOutputStays) {
    // No split writes fewer than two parts; such a count once rebuilt an empty file.
    writeFile(dir / "x.bin", "the older file");
    for (const int count : {0, 1}) {
        writeFile(dir / "x.000", expectedHeader(0, count, "bin") + "ignored payload");
        EXPECT_FALSE(run.assemble(dir / "x.000", "", {Yes, Ok}));
        EXPECT_SHOWN(run, question(kConfirmAssemble), refusal(kNotSplitFile));
        EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"x.000", "x.bin"}));
        EXPECT_EQ(readFile(dir / "x.bin"), "the older file");
    }
}

TEST_F(AssembleTest, ExistingLongerOutputIsReplacedWholly) {
    const std::string joined = writeMovieSet();
    writeFile(dir / "movie.avi", std::string(100000, 'o'));
    ASSERT_TRUE(run.assemble(dir / "movie.000", "", {Yes, No}));
    EXPECT_EQ(readFile(dir / "movie.avi"), joined);
}

// Every part is judged against the first before anything is written: a part of another set
// or of the wrong size once made a wrong file reported as assembled.
TEST_F(AssembleTest, PartsThatDoNotFitTheSetAreRefusedBeforeAnythingIsWritten) {
    struct Damage {
        int part;
        std::string bytes; // the part's new content
        std::string words; // what the refusal must say about it
    };
    const std::string a = randomBytes(3000, 1);
    const std::vector<Damage> damages = {
        {1, expectedHeader(1, 7, "avi") + a, "is from another set: it gives 007 parts"},
        {1, expectedHeader(1, 3, "zzz") + a, "the name tail 'zzz'"},
        {1, expectedHeader(1, 3, "avi") + a.substr(1), "holds 2999 bytes after its header"},
        {1, expectedHeader(1, 3, "avi") + a + "x", "holds 3001 bytes after its header"},
        {2, expectedHeader(2, 3, "avi") + a, "must hold fewer than the first one's 3000"},
        {0, expectedHeader(0, 3, "avi"), "holds no bytes after its header"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.words);
        writeMovieSet();
        const std::string name = partName(dir / "movie.", damage.part);
        writeFile(name, damage.bytes);
        writeFile(dir / "movie.avi", "the older file");
        const auto before = listDir(dir.path());
        EXPECT_FALSE(run.assemble(dir / "movie.000", "", {Yes, Ok}));
        ASSERT_EQ(run.shown().size(), 2u);
        EXPECT_EQ(run.shown()[1].style, MsgStyle::Critical);
        EXPECT_NE(run.shown()[1].text.find("Not assembled: '" + name + "' "), std::string::npos)
            << run.shown()[1].text;
        EXPECT_NE(run.shown()[1].text.find(damage.words), std::string::npos) << run.shown()[1].text;
        EXPECT_EQ(listDir(dir.path()), before);
        EXPECT_EQ(readFile(dir / "movie.avi"), "the older file");
        partBytes.clear();
    }
}

// A damaged set must end with the right message and leave every file as it was: the parts,
// and an existing file of the output's name, byte for byte, with no temporary file about.
struct Damage {
    const char* name;
    std::function<void(const ScratchDir&)> apply;
    std::vector<MsgAnswer> script;
    // The second message, if any: a refusal text, or a failure report of this kind naming
    // this part.
    std::string refusalText;
    std::optional<FailureKind> failure;
    int failingPart = -1;
};

using DamageFn = std::function<void(const ScratchDir&)>;
Damage silent(const char* name, DamageFn apply) {
    return Damage{name, std::move(apply), {Yes}, "", std::nullopt, -1};
}
Damage refused(const char* name, DamageFn apply, const std::string& text) {
    return Damage{name, std::move(apply), {Yes, Ok}, text, std::nullopt, -1};
}
Damage failed(const char* name, DamageFn apply, FailureKind kind, int part) {
    return Damage{name, std::move(apply), {Yes, Ok}, "", kind, part};
}

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.name;
}

class AssembleDamagedSet : public AssembleTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(AssembleDamagedSet, FailsAndChangesNothing) {
    const auto& param = GetParam();
    writeMovieSet();
    writeFile(dir / "movie.avi", "the old file, kept");
    param.apply(dir);
    std::map<std::string, std::string> before;
    for (const auto& name : listDir(dir.path()))
        if (std::filesystem::is_regular_file(dir / name))
            before[name] = readFile(dir / name);
    const auto names = listDir(dir.path());

    EXPECT_FALSE(run.assemble(dir / "movie.000", "", param.script));
    ASSERT_EQ(run.shown().size(), param.script.size());
    EXPECT_EQ(run.shown()[0], question(kConfirmAssemble));
    if (!param.refusalText.empty()) {
        EXPECT_EQ(run.shown()[1], refusal(param.refusalText));
    }
    if (param.failure) {
        EXPECT_TRUE(isFailureReport(run.shown()[1], *param.failure,
                                    {partName(dir / "movie.", param.failingPart)}));
    }

    EXPECT_EQ(listDir(dir.path()), names);
    for (const auto& [name, bytes] : before)
        EXPECT_EQ(readFile(dir / name), bytes) << name;
}

void removePart1(const ScratchDir& d) {
    std::filesystem::remove(d / "movie.001");
}

INSTANTIATE_TEST_SUITE_P(
    Sets, AssembleDamagedSet,
    ::testing::Values(
        failed("MissingPart1", removePart1, FailureKind::FileNotFound, 1),
        silent("WrongIndexInPart2",
               [](const ScratchDir& d) {
                   writeFile(d / "movie.002", expectedHeader(5, 3, "avi") + "x");
               }),
        silent("DuplicateIndex",
               [](const ScratchDir& d) {
                   writeFile(d / "movie.002", expectedHeader(1, 3, "avi") + "x");
               }),
        silent("NonDigitIndex",
               [](const ScratchDir& d) { writeFile(d / "movie.001", "SPLITKVab1003avix"); }),
        refused(
            "LowerCaseTagInPart1",
            [](const ScratchDir& d) { writeFile(d / "movie.001", "splitkv001003avix"); },
            kNotBrokenFile),
        refused(
            "Part1ShorterThanAHeader",
            [](const ScratchDir& d) { writeFile(d / "movie.001", "SPLITKV001003a"); },
            kNotBrokenFile),
        refused(
            "EmptyPart2", [](const ScratchDir& d) { writeFile(d / "movie.002", ""); },
            kNotBrokenFile),
        failed(
            "Part1IsAFolder",
            [](const ScratchDir& d) {
                removePart1(d);
                std::filesystem::create_directory(d / "movie.001");
            },
            FailureKind::IoError, 1),
        failed(
            "Part1IsAFifo",
            [](const ScratchDir& d) {
                removePart1(d);
                ASSERT_EQ(::mkfifo((d / "movie.001").c_str(), 0600), 0);
            },
            FailureKind::NotOrdinaryFile, 1),
        failed(
            "Part1LinksToAnEndlessDevice",
            [](const ScratchDir& d) {
                removePart1(d);
                std::filesystem::create_symlink("/dev/zero", d / "movie.001");
            },
            FailureKind::NotOrdinaryFile, 1),
        failed(
            "GapInTheSet",
            [](const ScratchDir& d) {
                writeFile(d / "movie.000", expectedHeader(0, 4, "avi") + "a");
                writeFile(d / "movie.003", expectedHeader(3, 4, "avi") + "d");
                removePart1(d);
            },
            FailureKind::FileNotFound, 1),
        failed(
            "CountOf999",
            [](const ScratchDir& d) {
                for (int index = 0; index < 3; ++index)
                    writeFile(partName(d / "movie.", index),
                              expectedHeader(index, 999, "avi") + "a");
            },
            FailureKind::FileNotFound, 3),
        refused(
            "OutputNamesPart1ThroughTheTail",
            [](const ScratchDir& d) {
                writeFile(d / "movie.000", expectedHeader(0, 3, "001") + "a");
            },
            kOutputIsPart),
        refused(
            "OutputIsTheChosenFile",
            [](const ScratchDir& d) {
                writeFile(d / "movie.000", expectedHeader(0, 3, "000") + "a");
            },
            kOutputIsPart),
        Damage{"NoToTheConfirmation", [](const ScratchDir&) {}, {No}, "", std::nullopt, -1}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

TEST_F(AssembleTest, MissingPartIsNotCreatedAndNothingIsDeleted) {
    writeMovieSet();
    removePart1(dir);
    EXPECT_FALSE(run.assemble(dir / "movie.000", "", {Yes, Ok}));
    EXPECT_FALSE(exists(dir / "movie.001"));
    EXPECT_FALSE(exists(dir / "movie.avi"));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::FileNotFound,
                                {dir / "movie.001", std::strerror(ENOENT)}));
}

TEST_F(AssembleTest, ChosenFileThatIsNoSplitFile) {
    for (const std::string& bytes :
         {std::string(), std::string("SPLITKV00"), std::string("SPLITKV000001ab"),
          std::string("splitkv000001abc payload"), std::string(40, 'z')}) {
        writeFile(dir / "pick.000", bytes);
        EXPECT_FALSE(run.assemble(dir / "pick.000", "", {Yes, Ok})) << bytes;
        EXPECT_SHOWN(run, question(kConfirmAssemble), refusal(kNotSplitFile));
        EXPECT_EQ(listDir(dir.path()), std::set<std::string>{"pick.000"});
    }
}

TEST_F(AssembleTest, EmptyOrMissingChosenFileIsFileNotFound) {
    EXPECT_FALSE(run.assemble("", "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::FileNotFound));
    EXPECT_FALSE(run.assemble(dir / "none.000", "", {Yes, Ok}));
    ASSERT_EQ(run.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.shown()[1], FailureKind::FileNotFound,
                                {dir / "none.000", std::strerror(ENOENT)}));
    EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST_F(AssembleTest, UnsafeTailsAreRefusedAndNothingIsWrittenAnywhere) {
    std::filesystem::create_directories(dir / "sub/x");
    for (const std::string& tail :
         {std::string("a/b"), std::string("../"), std::string("/.."), std::string("/x/"),
          std::string("a\0b", 3), std::string("\0\0\0", 3)}) {
        writeSet(dir / "sub/x", {"payload", "pay"}, tail);
        const auto outer = listDir(dir.path());
        const auto inner = listDir(dir / "sub");
        EXPECT_FALSE(run.assemble(dir / "sub/x000", "", {Yes, Ok}));
        EXPECT_SHOWN(run, question(kConfirmAssemble), refusal(kUnsafeNameTail));
        EXPECT_EQ(listDir(dir.path()), outer);
        EXPECT_EQ(listDir(dir / "sub"), inner);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "sub/x"));
    }
}

TEST_F(AssembleTest, OddButSafeTailsAreKeptByteForByte) {
    for (const std::string& tail : {std::string("..."), std::string(".. "),
                                    std::string("\xe9\xff\x80"), std::string("  .")}) {
        const std::string joined = writeSet(dir / "x", {"one", "tw"}, tail);
        ASSERT_TRUE(run.assemble(dir / "x000", "", {Yes, Yes}));
        EXPECT_EQ(readFile(dir / ("x" + tail)), joined);
        EXPECT_EQ(listDir(dir.path()), std::set<std::string>{"x" + tail});
        std::filesystem::remove(dir / ("x" + tail));
    }
}

TEST_F(AssembleTest, OutputNamingAPartThroughAnotherSpellingOrLinkIsRefused) {
    writeMovieSet();
    // "movie" + "001" is part 1 again, reached through "/./".
    writeFile(dir / "movie.000", expectedHeader(0, 3, "001") + randomBytes(3000, 1));
    partBytes[0] = readFile(dir / "movie.000");
    EXPECT_FALSE(run.assemble(dir / "movie.000", dir / "./movie.", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmAssemble), refusal(kOutputIsPart));
    expectMovieSetIntact();

    std::filesystem::create_hard_link(dir / "movie.002", dir / "copy.001");
    EXPECT_FALSE(run.assemble(dir / "movie.000", dir / "copy.", {Yes, Ok}));
    EXPECT_SHOWN(run, question(kConfirmAssemble), refusal(kOutputIsPart));
    expectMovieSetIntact();
    EXPECT_EQ(listDir(dir.path()),
              (std::set<std::string>{"copy.001", "movie.000", "movie.001", "movie.002"}));
}

TEST_F(AssembleTest, OutputNamedLikeAnIndexBeyondTheCountIsAllowed) {
    const std::string joined = writeSet(dir / "v", {"ab", "c"}, "002");
    ASSERT_TRUE(run.assemble(dir / "v000", "", {Yes, No}));
    EXPECT_EQ(readFile(dir / "v002"), joined);
}

TEST_F(AssembleTest, SymlinkAtTheOutputNameIsReplacedAndItsTargetKept) {
    const std::string joined = writeMovieSet();
    writeFile(dir / "victim", "precious");
    std::filesystem::create_symlink(dir / "victim", dir / "movie.avi");
    ASSERT_TRUE(run.assemble(dir / "movie.000", "", {Yes, No}));
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "movie.avi"));
    EXPECT_EQ(readFile(dir / "movie.avi"), joined);
    EXPECT_EQ(readFile(dir / "victim"), "precious");
}

// Either would fail only once the whole set is copied and moved into place.
TEST_F(AssembleTest, AFolderOrANameTooLongAtTheOutputIsRefusedBeforeAnythingIsWritten) {
    writeMovieSet();
    std::filesystem::create_directory(dir / "movie.avi");
    writeFile(dir / "movie.avi/inside", "kept");
    const std::string longPrefix = dir / (std::string(252, 'p') + ".");
    const std::pair<std::string, std::string> rows[] = {
        {"", messages::outputIsFolderMessage(dir / "movie.avi")},
        {longPrefix, "The name '" + std::string(252, 'p') +
                         ".avi' is 256 bytes long, but the "
                         "folder '" +
                         dir.path() +
                         "' holds names of at most 255 bytes. Choose a "
                         "shorter name or prefix."}};
    for (const auto& [prefix, message] : rows) {
        EXPECT_FALSE(run.assemble(dir / "movie.000", prefix, {Yes, Ok}));
        EXPECT_SHOWN(run, question(kConfirmAssemble), refusal(message));
    }
    EXPECT_EQ(listDir(dir.path()),
              (std::set<std::string>{"movie.000", "movie.001", "movie.002", "movie.avi"}));
    EXPECT_EQ(readFile(dir / "movie.avi/inside"), "kept");
    expectMovieSetIntact();
}

TEST_F(AssembleTest, OutputIsOnDiskBeforeAnyPartIsDeletedAndNeverFlushedOtherwise) {
    writeMovieSet();
    std::filesystem::create_directory(dir / "out");
    FaultyFileSystem fs;
    EngineRunner logged(fs);
    fs.keepLog(true);
    ASSERT_TRUE(logged.assemble(dir / "movie.000", dir / "out/film.", {Yes, No}));
    EXPECT_EQ(callCount(fs.log(), FsCall::Fsync), 0u) << "No to delete must cost no flush";

    fs.keepLog(true);
    ASSERT_TRUE(logged.assemble(dir / "movie.000", dir / "out/film.", {Yes, Yes}));
    const auto& log = fs.log();
    const std::size_t firstDelete = firstCall(log, FsCall::Unlink, dir / "movie.000");
    ASSERT_NE(firstDelete, std::string::npos);
    // Nothing in the folders is deleted before the output is on disk: not a part, and not
    // the older film.avi it replaced either.
    const auto firstUnlinkIn = [&](const std::string& folder) {
        return std::find_if(log.begin(), log.end(),
                            [&](const LoggedCall& call) {
                                const std::string name =
                                    std::filesystem::path(call.path).filename().string();
                                // Our own files in the making (temporaries, probes) may go at any
                                // time; backups of older files may not.
                                return call.kind == FsCall::Unlink &&
                                       call.path.rfind(folder + "/", 0) == 0 &&
                                       !(name.starts_with(".tolvar-") && !name.ends_with(".bak"));
                            }) -
               log.begin();
    };
    const auto firstRemoval =
        std::size_t(std::min(firstUnlinkIn(dir / "out"), firstUnlinkIn(dir.path())));
    // The file may be flushed under its own name or under the temporary name it was built in.
    const auto fileSynced = std::find_if(log.begin(), log.end(), [&](const LoggedCall& call) {
        const std::string name = std::filesystem::path(call.path).filename().string();
        return call.kind == FsCall::Fsync &&
               (call.path == dir / "out/film.avi" ||
                (call.path.rfind(dir / "out/", 0) == 0 && name.rfind('.', 0) == 0));
    });
    EXPECT_LT(std::size_t(fileSynced - log.begin()), firstRemoval) << "output not flushed first";
    EXPECT_LT(firstCall(log, FsCall::Fsync, dir / "out"), firstRemoval) << "folder not flushed";
    const std::size_t second = firstCall(log, FsCall::Unlink, dir / "movie.001");
    const std::size_t third = firstCall(log, FsCall::Unlink, dir / "movie.002");
    ASSERT_NE(third, std::string::npos);
    EXPECT_LT(firstDelete, second);
    EXPECT_LT(second, third);
}

TEST_F(AssembleTest, PartThatCannotBeDeletedIsAFailureWithTheOutputWhole) {
    const std::string joined = writeMovieSet();
    FaultyFileSystem fs;
    fs.failOn(FsCall::Unlink, dir / "movie.001", EIO);
    EngineRunner failing(fs);
    failing.box.reset({Yes, Yes, Ok, Ok});
    OperationContext context{failing.box, fs};
    EXPECT_EQ(AssembleFile(dir / "movie.000", "", context, {}), JoinEnd::FilesLeft);
    ASSERT_EQ(failing.shown().size(), 4u);
    EXPECT_TRUE(isFailureReport(failing.shown()[2], FailureKind::IoError,
                                {dir / "movie.001", std::strerror(EIO)}));
    // Then what was done, and what the user must still delete.
    EXPECT_EQ(failing.shown()[3].text, "The file was assembled as '" + dir / "movie.avi" +
                                           "', but these files could not be deleted and are "
                                           "still there: '" +
                                           dir / "movie.001" + "' and '" + dir / "movie.002" +
                                           "'.");
    EXPECT_EQ(readFile(dir / "movie.avi"), joined);
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"movie.001", "movie.002", "movie.avi"}));
    EXPECT_EQ(readFile(dir / "movie.002"), partBytes[2]);
}

TEST_F(AssembleTest, NoToTheConfirmationTouchesNoFile) {
    writeMovieSet();
    FaultyFileSystem fs;
    EngineRunner counted(fs);
    EXPECT_FALSE(counted.assemble(dir / "movie.000", "", {No}));
    EXPECT_EQ(fs.totalCalls(), 0u);
}

} // namespace
} // namespace tolvar::testing
