// A run acts on the folder it checked, through its descriptor, and only on the files it read:
// folders swapped for links to someone else's, files put at the set's names while a commit or
// a question waits, and a lock held by another process never make it change a file that is
// not its own.

#include "repair.h"
#include "test_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvar::testing {
namespace {

constexpr MsgAnswer Yes = MsgAnswer::Yes;
constexpr MsgAnswer No = MsgAnswer::No;

// Every file of a folder, name and bytes.
std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& name : listDir(folder))
        files[name] = readFile(folder + "/" + name);
    return files;
}

// Splits source into a set of 1 KB parts with one recovery part and a checksum file.
void splitWithChecksums(const std::string& source) {
    ScriptedMessageBox box = scriptedBox({Yes, No});
    OperationContext context{box};
    ASSERT_TRUE(SplitFile(source, 1, "", source, context, {1, true}));
}

enum class Operation { Join, Split, Repair };

struct SwapCase {
    const char* name;
    Operation operation;
    FsCall swapAt; // the first call of this kind in the set's folder swaps it
    bool unnamedFiles;
};

void PrintTo(const SwapCase& row, std::ostream* out) {
    *out << row.name;
}

class SwappedFolder : public ::testing::TestWithParam<SwapCase> {};

// Another user owns the folder above the set: between two calls of the run, the set's folder
// is renamed away and a link to a folder of the user's takes its name. The run goes on in the
// folder it checked (now at its new name) or refuses; the user's folder and its sibling keep
// every file, name for name and byte for byte.
TEST_P(SwappedFolder, NeverLeadsTheRunIntoAnotherFolder) {
    const SwapCase& row = GetParam();
    ScratchDir scratch;
    const std::string root = std::filesystem::canonical(scratch.path()).string();
    const std::string set = root + "/stranger/set", moved = root + "/stranger/moved";
    const std::string victim = root + "/victim", sibling = root + "/sibling";
    for (const auto& folder : {set, victim, sibling})
        std::filesystem::create_directories(folder);
    const std::string content = randomBytes(5000, 7);
    writeFile(set + "/movie.avi", content);
    splitWithChecksums(set + "/movie.avi");
    const std::string lostPart = readFile(set + "/movie.002");
    if (row.operation == Operation::Join)
        std::filesystem::remove(set + "/movie.avi");
    if (row.operation == Operation::Repair)
        std::filesystem::remove(set + "/movie.002");
    if (row.operation == Operation::Split)
        for (const auto& name : listDir(set))
            if (name != "movie.avi")
                std::filesystem::remove(set + "/" + name);
    // The user's own files bear every name the run may write.
    for (const char* name : {"movie.avi", "movie.000", "movie.001", "movie.002", "movie.003",
                             "movie.004", "movie.r00", "movie.sha256", "notes.txt"})
        writeFile(victim + "/" + name, std::string("the user's ") + name);
    writeFile(sibling + "/movie.avi", "a sibling's file");
    const auto victimBefore = snapshot(victim), siblingBefore = snapshot(sibling);

    FaultyFileSystem fs;
    fs.withoutUnnamedFiles(!row.unnamedFiles);
    bool swapped = false;
    fs.beforeEachCall([&](FsCall kind, const std::string& path) {
        if (swapped || kind != row.swapAt || !path.starts_with(set + "/"))
            return;
        swapped = true;
        std::filesystem::rename(set, moved);
        std::filesystem::create_directory_symlink(victim, set);
    });
    bool completed = false;
    EngineRunner runner(fs);
    runner.box.answerRestWith(No);
    switch (row.operation) {
    case Operation::Join:
        completed = runner.assemble(set + "/movie.000", "", {Yes});
        break;
    case Operation::Split:
        completed = runner.split(set + "/movie.avi", 1, "", {Yes});
        break;
    case Operation::Repair: {
        const auto repaired = RepairSet(set + "/movie.002", fs);
        completed = repaired && repaired.value().outcome == RepairReport::Outcome::Repaired;
        break;
    }
    }
    ASSERT_TRUE(swapped) << "the swap never came";
    EXPECT_EQ(snapshot(victim), victimBefore);
    EXPECT_EQ(snapshot(sibling), siblingBefore);
    // Refusing would hold the rule too; going on in the folder checked is what the run does.
    ASSERT_TRUE(completed) << ::testing::PrintToString(runner.box.texts());
    switch (row.operation) {
    case Operation::Join:
        EXPECT_EQ(readFile(moved + "/movie.avi"), content);
        break;
    case Operation::Split:
        EXPECT_TRUE(isPartSet(moved + "/movie.", content, 1024, "avi"));
        break;
    case Operation::Repair:
        EXPECT_EQ(readFile(moved + "/movie.002"), lostPart);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SwappedFolder,
    ::testing::Values(SwapCase{"JoinBeforeItsOutputIsNamed", Operation::Join, FsCall::Link, true},
                      SwapCase{"JoinAtItsCommit", Operation::Join, FsCall::Lock, true},
                      SwapCase{"JoinWithHiddenNamesAtItsCommit", Operation::Join, FsCall::Lock,
                               false},
                      SwapCase{"SplitAtItsFirstPart", Operation::Split, FsCall::Preallocate, true},
                      SwapCase{"SplitAtItsCommit", Operation::Split, FsCall::Lock, false},
                      SwapCase{"RepairOnceRebuilt", Operation::Repair, FsCall::Fchmod, true},
                      SwapCase{"RepairAtItsCommit", Operation::Repair, FsCall::Lock, true}),
    [](const auto& row) { return std::string(row.param.name); });

// A box that, asked whether to delete, first lets another program act (as while the question
// waits for an answer, maybe for hours).
class WaitingBox : public ScriptedMessageBox {
public:
    using ScriptedMessageBox::ScriptedMessageBox;
    std::function<void()> meanwhile;
    MsgAnswer present(const BoxText& shown) override {
        if (shown.question == QuestionKind::DeleteParts)
            if (auto run = std::exchange(meanwhile, nullptr))
                run();
        return ScriptedMessageBox::present(shown);
    }
};

// The parts are deleted only while their names hold the files the join read: a set another
// split committed at those names while the question waited stays whole, and is named.
TEST(DeleteAfterJoin, KeepsASetAnotherSplitPutAtItsNamesWhileTheQuestionWaited) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "new");
    const std::string older = randomBytes(5000, 21), newer = randomBytes(4500, 22);
    writeFile(dir / "movie.avi", older);
    EngineRunner first;
    ASSERT_TRUE(first.split(dir / "movie.avi", 1, "", {Yes, No}));
    std::filesystem::remove(dir / "movie.avi");
    writeFile(dir / "new/movie.avi", newer);

    WaitingBox box({Yes, Yes, MsgAnswer::Ok},
                   [](const std::string& what) { ADD_FAILURE() << what; });
    box.meanwhile = [&] {
        EngineRunner other;
        EXPECT_TRUE(other.split(dir / "new/movie.avi", 1, dir / "movie.", {Yes, No}));
    };
    OperationContext context{box};
    EXPECT_FALSE(AssembleFile(dir / "movie.000", "", context));
    EXPECT_EQ(readFile(dir / "movie.avi"), older);
    EXPECT_TRUE(isPartSet(dir / "movie.", newer, 1024, "avi"));
    std::vector<std::string> kept;
    for (int index = 0; index < 5; ++index)
        kept.push_back(partName(dir / "movie.", index));
    ASSERT_FALSE(box.shown().empty());
    EXPECT_EQ(box.shown().back(), refusal(messages::changedSinceReadMessage(kept)));
}

// A program that takes one of the set's names while the commit moves files gets to keep its
// file: the split fails, its undo puts the older files back only where their names are free,
// and the message says where the one it could not put back waits.
TEST(UndoneCommit, NeverReplacesAFileAnotherProgramPutAtAName) {
    // The journal the undo keeps waits in a state folder of the test's own, not for later tests.
    ScopedStateFolder state;
    ScratchDir scratch;
    const std::string dir = std::filesystem::canonical(scratch.path()).string();
    writeFile(dir + "/movie.avi", randomBytes(3000, 31));
    EngineRunner first;
    ASSERT_TRUE(first.split(dir + "/movie.avi", 1, "", {Yes, No}));
    const auto older = snapshot(dir);
    writeFile(dir + "/movie.avi", randomBytes(2500, 32));

    FaultyFileSystem fs;
    fs.beforeEachCall([&](FsCall kind, const std::string& path) {
        if (kind == FsCall::RenameNoReplace && path == dir + "/movie.002" &&
            !exists(dir + "/movie.002"))
            writeFile(dir + "/movie.002", "another program's");
    });
    EngineRunner run(fs);
    EXPECT_FALSE(run.split(dir + "/movie.avi", 1, "", {Yes, MsgAnswer::Ok}));
    EXPECT_EQ(readFile(dir + "/movie.002"), "another program's");
    EXPECT_EQ(readFile(dir + "/movie.000"), older.at("movie.000"));
    EXPECT_EQ(readFile(dir + "/movie.001"), older.at("movie.001"));
    std::string backup;
    for (const auto& name : listDir(dir))
        if (name.starts_with(".tolvar-") && name.ends_with(".bak"))
            backup = name;
    ASSERT_FALSE(backup.empty()) << "the older movie.002 is gone";
    EXPECT_EQ(readFile(dir + "/" + backup), older.at("movie.002"));
    ASSERT_FALSE(run.shown().empty());
    EXPECT_NE(run.shown().back().text.find("'" + dir + "/" + backup + "'"), std::string::npos)
        << run.shown().back().text;
}

// The join's commit replaces only what was at the output's name when it was asked about (or
// when the join began): a file another program put there afterwards stays.
class OutputTakenMeanwhile : public ::testing::TestWithParam<bool> {};

TEST_P(OutputTakenMeanwhile, IsNeverReplaced) {
    const bool existedWhenAsked = GetParam();
    ScratchDir scratch;
    const std::string dir = std::filesystem::canonical(scratch.path()).string();
    writeFile(dir + "/movie.avi", randomBytes(3000, 41));
    EngineRunner first;
    ASSERT_TRUE(first.split(dir + "/movie.avi", 1, "", {Yes, No}));
    std::filesystem::remove(dir + "/movie.avi");
    ScriptedMessageBox box = scriptedBox({Yes, MsgAnswer::Ok});
    FaultyFileSystem fs;
    OperationContext context{box, fs};
    JoinOptions options;
    if (existedWhenAsked) {
        writeFile(dir + "/movie.avi", "the file the user agreed to replace");
        struct stat st {};
        ASSERT_EQ(::lstat((dir + "/movie.avi").c_str(), &st), 0);
        options.outputSeen = SeenFile{true, st};
    }
    fs.beforeEachCall([&](FsCall kind, const std::string&) {
        if (kind != FsCall::Lock || exists(dir + "/movie.avi.was"))
            return;
        if (existedWhenAsked)
            std::filesystem::rename(dir + "/movie.avi", dir + "/movie.avi.was");
        else
            writeFile(dir + "/movie.avi.was", "");
        writeFile(dir + "/movie.avi", "another program's");
    });
    EXPECT_EQ(AssembleFile(dir + "/movie.000", "", context, options), JoinEnd::Refused);
    EXPECT_EQ(readFile(dir + "/movie.avi"), "another program's");
}

INSTANTIATE_TEST_SUITE_P(Output, OutputTakenMeanwhile, ::testing::Bool(),
                         [](const auto& row) { return row.param ? "Replaced" : "Created"; });

// A folder another process keeps locked is waited for a bounded time, then refused with a
// message naming it; nothing of the set is written.
TEST(FolderLock, HeldByAnotherProcessIsRefusedAfterTheWait) {
    ScratchDir dir;
    writeFile(dir / "movie.avi", randomBytes(3000, 51));
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        const char byte = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        char done = 0;
        (void)!::read(release[0], &done, 1);
        ::_exit(0);
    }
    char locked = 0;
    ASSERT_EQ(::read(ready[0], &locked, 1), 1);
    ASSERT_EQ(locked, 'y');
    const auto before = listDir(dir.path());

    ScriptedMessageBox box = scriptedBox({Yes, MsgAnswer::Ok});
    OperationContext context{box};
    context.lockWaitMilliseconds = 100;
    EXPECT_FALSE(SplitFile(dir / "movie.avi", 1, "", dir / "movie.avi", context));
    (void)!::write(release[1], "x", 1);
    int status = 0;
    ::waitpid(holder, &status, 0);
    for (const int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
    EXPECT_EQ(listDir(dir.path()), before);
    ASSERT_EQ(box.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(box.shown().back(), FailureKind::PermissionDenied,
                                {"another run", dir.path()}));
}

} // namespace
} // namespace tolvar::testing
