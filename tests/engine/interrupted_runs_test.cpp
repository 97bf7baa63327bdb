// Files a stranger put in a folder never choose what a run writes, renames or deletes, and a
// killed run is finished or undone by the next one from its own journal, kept outside the
// folder.

#include "folder.h"
#include "folder_files.h"
#include "path_parts.h"
#include "repair.h"
#include "run_journal.h"
#include "test_support.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvar::testing {
namespace {

using detail::FileIdentity;
using detail::JournalContents;
constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;

// Every entry below root, a symlink as its target, a file as its bytes (a large sparse file by
// its size): what "nothing changed" is checked against.
std::map<std::string, std::string> tree(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = std::filesystem::relative(entry.path(), root).string();
        if (entry.is_symlink())
            entries[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            entries[name] = entry.file_size() > (1u << 20) ? std::to_string(entry.file_size())
                                                           : readFile(entry.path().string());
        else
            entries[name] = "folder";
    }
    return entries;
}

// Everything but the names of one set (base + three digits, its checksum file).
std::map<std::string, std::string> outsideSet(std::map<std::string, std::string> entries,
                                              const std::string& base) {
    std::erase_if(entries, [&](const auto& entry) {
        const std::string& name = entry.first;
        return name == base + "sha256" ||
               (name.size() == base.size() + 3 && name.rfind(base, 0) == 0 &&
                std::isdigit(static_cast<unsigned char>(name.back())));
    });
    return entries;
}

pid_t reapedChild() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// A folder beside the set's, with a file of the user's in it: a planted file must not reach it.
struct Neighbourhood {
    ScratchDir root;
    std::string dir = root / "set";
    std::string home = root / "home";
    Neighbourhood() {
        std::filesystem::create_directory(dir);
        std::filesystem::create_directory(home);
        writeFile(home + "/.bashrc", "the user's own");
        writeFile(dir + "/thesis.txt", "years of work");
        writeFile(dir + "/movie.avi", randomBytes(5000, 3));
    }
};

struct PlantedFiles {
    const char* name;
    std::function<void(Neighbourhood&)> plant;
};

void PrintTo(const PlantedFiles& row, std::ostream* out) {
    *out << row.name;
}

class HostileFolder : public ::testing::TestWithParam<PlantedFiles> {};

// Whatever lies in the folder, a split and a join there succeed, and every file that is not
// one of the set's names, here and beside it, stays byte for byte and name for name.
TEST_P(HostileFolder, SplitAndJoinTouchNothingButTheSet) {
    StateFolder state;
    Neighbourhood n;
    GetParam().plant(n);
    const auto before = outsideSet(tree(n.root.path()), "set/movie.");
    EngineRunner run;
    ASSERT_TRUE(run.split(n.dir + "/movie.avi", 1, "", {Yes, No}));
    ASSERT_TRUE(run.assemble(n.dir + "/movie.000", n.root / "joined.", {Yes, No}));
    auto after = outsideSet(tree(n.root.path()), "set/movie.");
    after.erase("joined.avi");
    EXPECT_EQ(after, before);
    EXPECT_EQ(readFile(n.root / "joined.avi"), readFile(n.dir + "/movie.avi"));
}

const std::string dead = ".tolvar-" + std::to_string(reapedChild()) + "-";

INSTANTIATE_TEST_SUITE_P(
    Planted, HostileFolder,
    ::testing::Values(
        PlantedFiles{"JournalNamingAFileOutsideTheFolder",
                     [](Neighbourhood& n) {
                         writeFile(n.dir + "/" + dead + "x.undo",
                                   std::string("../home/.bashrc\0") + dead + "b.bak\0" + "0\0");
                         writeFile(n.dir + "/" + dead + "b.bak", "the stranger's");
                     }},
        PlantedFiles{"JournalNamingAFileOfTheFolderByInode",
                     [](Neighbourhood& n) {
                         struct stat st {};
                         ::stat((n.dir + "/thesis.txt").c_str(), &st);
                         writeFile(n.dir + "/" + dead + "y.undo",
                                   "thesis.txt" + std::string(1, '\0') + dead + "none.bak" +
                                       std::string(1, '\0') + std::to_string(st.st_ino) +
                                       std::string(1, '\0'));
                     }},
        PlantedFiles{"JournalThroughASymlinkedFolder",
                     [](Neighbourhood& n) {
                         std::filesystem::create_directory_symlink(n.home, n.dir + "/link");
                         writeFile(n.dir + "/" + dead + "z.undo",
                                   std::string("link/.bashrc\0", 13) + dead + "c.bak" +
                                       std::string(1, '\0') + "0" + std::string(1, '\0'));
                     }},
        PlantedFiles{"SparseTebibyteJournal",
                     [](Neighbourhood& n) {
                         const std::string path = n.dir + "/" + dead + "s.undo";
                         writeFile(path, "");
                         std::filesystem::resize_file(path, std::uintmax_t{1} << 40);
                     }},
        PlantedFiles{"UsersFileThatLooksLikeATemporary",
                     [](Neighbourhood& n) {
                         writeFile(n.dir + "/.tolvar-12345-my-notes.tmp", "notes");
                         writeFile(n.dir + "/" + dead + "abcdefghij.tmp", "also the user's");
                     }}),
    [](const auto& row) { return std::string(row.param.name); });

// One dead run's journal and the files its commit had moved: movie.000 holds the new part,
// the backup the old one.
struct DeadCommit {
    Neighbourhood n;
    std::string backup = ".tolvar-1-abcdefghij.bak";
    JournalContents journal;

    DeadCommit() {
        writeFile(n.dir + "/movie.000", "new part");
        writeFile(n.dir + "/" + backup, "old part");
        struct stat folder {};
        ::stat(n.dir.c_str(), &folder);
        journal.owner = currentProcess();
        journal.owner.pid = reapedChild();
        journal.operation = "split";
        journal.folder = n.dir;
        journal.folderDevice = folder.st_dev;
        journal.folderInode = folder.st_ino;
        journal.moves.push_back({"movie.000", backup, ".tolvar-1-0123456789.tmp",
                                 identity("movie.000"), identity(backup)});
    }
    FileIdentity identity(const std::string& name) const {
        struct stat st {};
        ::lstat((n.dir + "/" + name).c_str(), &st);
        FileIdentity identity = FileIdentity::of(st);
        const int folder = ::open(n.dir.c_str(), O_RDONLY | O_DIRECTORY);
        identity.fingerprint =
            detail::fingerprintAt(defaultFileSystem(), folder, name, st).value_or("");
        ::close(folder);
        return identity;
    }
};

// The bytes an earlier version wrote: identities without fingerprints, no deletions.
std::string firstFormatJournal(const JournalContents& run) {
    std::string text;
    const auto add = [&](const std::string& value) { text += value + '\0'; };
    const auto identity = [&](const FileIdentity& id) {
        add(std::to_string(id.device));
        add(std::to_string(id.inode));
        add(std::to_string(id.size));
    };
    for (const std::string& value :
         {std::string("tolvar-journal-1"), run.owner.host, run.owner.boot, run.owner.pidNamespace,
          std::to_string(run.owner.pid), std::to_string(run.owner.startTime), run.operation,
          run.folder, std::to_string(run.folderDevice), std::to_string(run.folderInode)})
        add(value);
    for (const auto& move : run.moves) {
        for (const std::string& value : {std::string("M"), move.name, move.backup, move.temporary})
            add(value);
        identity(move.replacement);
        add(move.old ? "1" : "0");
        identity(move.old.value_or(FileIdentity{}));
    }
    if (run.committed)
        add("C");
    return text;
}

struct JournalCase {
    const char* name;
    std::function<void(DeadCommit&)> edit;
    const char* movie000; // what movie.000 holds afterwards
    bool backupStays;
    const char* note;         // the start of the line the clean-up gives; empty: none
    bool journalStays = true; // without a note: whether it is kept for a later run
    bool firstFormat = false; // planted as an earlier version wrote it
};

void PrintTo(const JournalCase& row, std::ostream* out) {
    *out << row.name;
}

class KilledRunJournals : public ::testing::TestWithParam<JournalCase> {};

// The next run of any command settles a dead run's commit by its journal, and only the files
// whose identity the journal proves.
TEST_P(KilledRunJournals, AreSettledOnlyWhenProvablyOursAndOver) {
    StateFolder state;
    DeadCommit run;
    GetParam().edit(run);
    state.plant(run.journal);
    if (GetParam().firstFormat)
        writeFile(state.journals() + "/run-1-planted.journal", firstFormatJournal(run.journal));
    const auto home = tree(run.n.home);
    const auto notes = detail::finishInterruptedRuns(defaultFileSystem());
    EXPECT_EQ(readFile(run.n.dir + "/movie.000"), GetParam().movie000);
    EXPECT_EQ(std::filesystem::exists(run.n.dir + "/" + run.backup), GetParam().backupStays);
    EXPECT_EQ(readFile(run.n.dir + "/thesis.txt"), "years of work");
    EXPECT_EQ(tree(run.n.home), home);
    const std::string note = GetParam().note;
    if (note.empty()) {
        EXPECT_TRUE(notes.empty());
        EXPECT_EQ(state.count(), GetParam().journalStays ? 1u : 0u);
    } else {
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].rfind(note, 0), 0u) << notes[0];
        EXPECT_NE(notes[0].find(run.n.dir), std::string::npos) << notes[0];
        EXPECT_EQ(state.count(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Journals, KilledRunJournals,
    ::testing::Values(JournalCase{"KilledBeforeTheCommitPointIsUndone", [](DeadCommit&) {},
                                  "old part", false, "Undid an interrupted split"},
                      JournalCase{"KilledAfterTheCommitPointIsFinished",
                                  [](DeadCommit& r) { r.journal.committed = true; }, "new part",
                                  false, "Completed an interrupted split"},
                      JournalCase{"ReusedProcessNumberIsNoLiveOwner",
                                  [](DeadCommit& r) {
                                      r.journal.owner = identityOf(::getppid());
                                      r.journal.owner.startTime += 1;
                                  },
                                  "old part", false, "Undid"},
                      JournalCase{"ALiveOwnerIsLeftAlone",
                                  [](DeadCommit& r) { r.journal.owner = identityOf(::getppid()); },
                                  "new part", true, ""},
                      JournalCase{"AnotherPidNamespaceIsLeftAlone",
                                  [](DeadCommit& r) { r.journal.owner.pidNamespace = "pid:[1]"; },
                                  "new part", true, ""},
                      JournalCase{"AnotherHostIsLeftAlone",
                                  [](DeadCommit& r) { r.journal.owner.host += "-elsewhere"; },
                                  "new part", true, ""},
                      // FUSE drivers number a node afresh once the kernel forgets it, and
                      // a folder after a remount: what the files hold still tells.
                      JournalCase{"AHiddenFileRenumberedByItsFileSystemIsStillTheRuns",
                                  [](DeadCommit& r) { r.journal.moves[0].old->inode += 1000; },
                                  "old part", false, "Undid"},
                      JournalCase{"ARenumberedFolderIsKnownByTheRunsHiddenFiles",
                                  [](DeadCommit& r) {
                                      r.journal.folderDevice += 1;
                                      r.journal.folderInode += 1;
                                      r.journal.moves[0].old->inode += 1000;
                                      r.journal.moves[0].replacement.inode += 1000;
                                  },
                                  "old part", false, "Undid"},
                      JournalCase{"AHiddenFileWithOtherContentsIsNotTheRuns",
                                  [](DeadCommit& r) {
                                      r.journal.moves[0].old->inode += 1000;
                                      writeFile(r.n.dir + "/" + r.backup, "old pert");
                                  },
                                  "new part", true, "", false},
                      // An undo never replaces: the other file keeps the name, and the line
                      // says where the old one is.
                      JournalCase{"AFileReplacedSinceIsNotTheRunsToRemove",
                                  [](DeadCommit& r) {
                                      writeFile(r.n.dir + "/replacement", "someone's");
                                      std::filesystem::rename(r.n.dir + "/replacement",
                                                              r.n.dir + "/movie.000");
                                  },
                                  "someone's", true, "Partly undid an interrupted split"},
                      JournalCase{
                          "ANameLeadingOutOfTheFolderMakesTheJournalVoid",
                          [](DeadCommit& r) { r.journal.moves[0].name = "../home/.bashrc"; },
                          "new part", true, ""},
                      JournalCase{"AFirstFormatJournalIsSettledByInode", [](DeadCommit&) {},
                                  "old part", false, "Undid", true, true},
                      JournalCase{"AFirstFormatJournalTakesARenumberedBackupOfOneName",
                                  [](DeadCommit& r) { r.journal.moves[0].old->inode += 1000; },
                                  "old part", false, "Undid", true, true},
                      JournalCase{"AFirstFormatJournalOfAnotherFolderIsDropped",
                                  [](DeadCommit& r) { r.journal.folderInode += 1; }, "new part",
                                  true, "", false, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(KilledRunJournalsBounds, AnOversizedJournalIsNeverRead) {
    StateFolder state;
    DeadCommit run;
    state.plant(run.journal);
    const std::string path = state.journals() + "/run-1-planted.journal";
    std::filesystem::resize_file(path, std::uintmax_t{8} << 30);
    EXPECT_TRUE(detail::finishInterruptedRuns(defaultFileSystem()).empty());
    EXPECT_EQ(readFile(run.n.dir + "/movie.000"), "new part");
}

// A name a run was about to create a file at is settled by what is there: only a file still
// as O_EXCL made it (empty, one name) goes; one that has bytes or another name is not the
// run's to judge.
TEST(KilledRunJournalsBounds, AnIntendedNameRemovesOnlyAFileAsItWasBorn) {
    StateFolder state;
    DeadCommit run;
    const std::string born = ".tolvar-1-bornbornbo.probe", filled = ".tolvar-1-filledfill.tmp",
                      linked = ".tolvar-1-linkedlink.tmp";
    writeFile(run.n.dir + "/" + born, "");
    writeFile(run.n.dir + "/" + filled, "not empty");
    std::filesystem::create_hard_link(run.n.dir + "/thesis.txt", run.n.dir + "/" + linked);
    run.journal.intended = {born, filled, linked};
    state.plant(run.journal);
    EXPECT_EQ(detail::finishInterruptedRuns(defaultFileSystem()).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(run.n.dir + "/" + born));
    EXPECT_EQ(readFile(run.n.dir + "/" + filled), "not empty");
    EXPECT_EQ(readFile(run.n.dir + "/" + linked), "years of work");
}

// What the next run treats as a run's own hidden name: today's and earlier versions' forms,
// and nothing a user's own file may be called that merely looks alike.
TEST(HiddenNames, AreRecognisedInEveryFormARunWroteAndNoOther) {
    const std::string made = detail::newHiddenName();
    EXPECT_TRUE(detail::isOurTemporaryName(made)) << made;
    EXPECT_LE(made.size(), std::size_t{19}) << made;
    for (const char* ours : {".tolvar-abc1234.tmp", ".tolvar-abc1234.bak", ".tolvar-abc1234:.probe",
                             ".tolvar-12345-abcdefghij.tmp", ".tolvar-1-0123456789.bak"})
        EXPECT_TRUE(detail::isOurTemporaryName(ours)) << ours;
    for (const char* users :
         {".tolvar-abc123.tmp", ".tolvar-ABC1234.tmp", ".tolvar-abc1234.txt",
          ".tolvar-12345-my-notes.tmp", ".tolvar-12345-abcdefghi.tmp", ".tolvar--abcdefghij.tmp",
          "tolvar-abc1234.tmp", "../.tolvar-abc1234.tmp"})
        EXPECT_FALSE(detail::isOurTemporaryName(users)) << users;
}

// A file layer on which the first hidden name a run looks at is already taken by an empty
// file of the user's, as a random name may once be.
struct TakenNameFileSystem : PosixFileSystem {
    std::string folder;
    std::string taken;
    void takeFirst(const std::string& name) {
        if (taken.empty() && name.starts_with(".tolvar-")) {
            taken = folder + "/" + name;
            writeFile(taken, "");
        }
    }
    int lstatAt(int at, const std::string& name, struct stat* st) override {
        takeFirst(name);
        return PosixFileSystem::lstatAt(at, name, st);
    }
    int openAt(int at, const std::string& name, int flags, mode_t mode) override {
        if ((flags & O_EXCL) != 0)
            takeFirst(name);
        return PosixFileSystem::openAt(at, name, flags, mode);
    }
};

// A run killed after it picked another name: the next run must leave the user's file alone,
// though it is as empty as a file the run had just made.
TEST(KilledRunJournalsBounds, ANameTakenBeforeTheRunPickedItIsNeverTheRuns) {
    StateFolder state;
    ScratchDir dir;
    const std::string folder = dir.path();
    const std::string takenFile = dir / "taken";
    const pid_t child = ::fork();
    if (child == 0) {
        TakenNameFileSystem fs;
        fs.folder = folder;
        auto held = detail::Folder::open(fs, folder);
        auto journal = detail::RunJournal::start(fs, held.value(), "split", folder + "/movie.avi");
        std::string temporary;
        const bool made =
            journal && detail::createTemporary(fs, *journal.value(), held.value(),
                                               folder + "/movie.000", temporary, 0600);
        writeFile(takenFile, fileNameOf(fs.taken));
        ::_exit(made && temporary != fileNameOf(fs.taken) ? 9 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 9);
    const std::string taken = readFile(takenFile);
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(detail::finishInterruptedRuns(defaultFileSystem()).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir / taken));
    for (const auto& name : listDir(dir.path()))
        EXPECT_TRUE(name.front() != '.' || name == taken) << name;
    EXPECT_EQ(state.count(), 0u);
}

// A file layer that ends the process, as a kill would, at its nth rename or unlink, or right
// after its nth file is created or linked into place; without unnamed files in folders other
// than the journals', if asked, so the hidden names are made by create.
struct KillingFileSystem : PosixFileSystem {
    int countdown;
    bool unnamedFiles;
    std::string journals;
    KillingFileSystem(int n, bool unnamed, std::string journals)
        : countdown(n), unnamedFiles(unnamed), journals(std::move(journals)) {}
    void step() {
        if (--countdown == 0)
            ::_exit(9);
    }
    int open(const std::string& path, int flags, mode_t mode) override {
        if ((flags & O_TMPFILE) == O_TMPFILE && !unnamedFiles && path != journals) {
            errno = EOPNOTSUPP;
            return -1;
        }
        const int fd = PosixFileSystem::open(path, flags, mode);
        if (fd >= 0 && (flags & O_CREAT) != 0)
            step();
        return fd;
    }
    int linkOpenFile(int fd, const std::string& to) override {
        const int linked = PosixFileSystem::linkOpenFile(fd, to);
        step();
        return linked;
    }
    int rename(const std::string& from, const std::string& to) override {
        step();
        return PosixFileSystem::rename(from, to);
    }
    int renameNoReplace(const std::string& from, const std::string& to) override {
        step();
        return PosixFileSystem::renameNoReplace(from, to);
    }
    int unlink(const std::string& path) override {
        step();
        return PosixFileSystem::unlink(path);
    }
    // The run's own folder is reached through its descriptor.
    int openAt(int folder, const std::string& name, int flags, mode_t mode) override {
        if ((flags & O_TMPFILE) == O_TMPFILE && !unnamedFiles) {
            errno = EOPNOTSUPP;
            return -1;
        }
        const int fd = PosixFileSystem::openAt(folder, name, flags, mode);
        if (fd >= 0 && (flags & O_CREAT) != 0)
            step();
        return fd;
    }
    int linkOpenFileAt(int fd, int folder, const std::string& to) override {
        const int linked = PosixFileSystem::linkOpenFileAt(fd, folder, to);
        step();
        return linked;
    }
    int renameAt(int folder, const std::string& from, const std::string& to) override {
        step();
        return PosixFileSystem::renameAt(folder, from, to);
    }
    int renameNoReplaceAt(int folder, const std::string& from, const std::string& to) override {
        step();
        return PosixFileSystem::renameNoReplaceAt(folder, from, to);
    }
    int unlinkAt(int folder, const std::string& name) override {
        step();
        return PosixFileSystem::unlinkAt(folder, name);
    }
};

// A split over an older set killed at each file it creates and each move of its commit: the
// next command finds the old set or the new one whole, never a mix, and no hidden file of the
// run is left.
class KilledSplit : public ::testing::TestWithParam<bool> {};

TEST_P(KilledSplit, AtEveryStepIsFinishedOrUndoneByTheNextCommand) {
    StateFolder state;
    ScratchDir dir;
    const std::string oldContent = randomBytes(3000, 1), newContent = randomBytes(2500, 2);
    for (int step = 1;; ++step) {
        SCOPED_TRACE("killed at step " + std::to_string(step));
        for (const auto& name : listDir(dir.path()))
            std::filesystem::remove(dir / name);
        writeFile(dir / "movie.avi", oldContent);
        EngineRunner first;
        ASSERT_TRUE(first.split(dir / "movie.avi", 1, "", {Yes, No}));
        writeFile(dir / "movie.avi", newContent);
        const pid_t child = ::fork();
        if (child == 0) {
            KillingFileSystem fs(step, GetParam(), state.journals());
            EngineRunner killed(fs);
            ::_exit(killed.split(dir / "movie.avi", 1, "", {Yes, No}) ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        const bool finished = WEXITSTATUS(status) == 0;
        // What every command does first; the join then reads whatever set is there.
        const auto notes = detail::finishInterruptedRuns(defaultFileSystem());
        EXPECT_LE(notes.size(), 1u);
        EngineRunner next;
        ASSERT_TRUE(next.assemble(dir / "movie.000", dir / "joined.", {Yes, No}))
            << ::testing::PrintToString(next.shown());
        const std::string joined = readFile(dir / "joined.avi");
        EXPECT_TRUE(joined == oldContent || joined == newContent);
        for (const auto& name : listDir(dir.path()))
            EXPECT_NE(name.front(), '.') << name;
        EXPECT_EQ(state.count(), 0u);
        if (finished) {
            EXPECT_EQ(joined, newContent);
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, KilledSplit, ::testing::Values(true, false),
                         [](const auto& row) { return row.param ? "Unnamed" : "HiddenNames"; });

// A file layer that ends the process, as a kill would, at the first move or delete for which
// `at` says so (call: "move" or "delete"; name: the plain name moved onto or deleted).
struct KillAtFileSystem : PosixFileSystem {
    std::function<bool(const std::string& call, const std::string& name)> at;
    void maybeDie(const std::string& call, const std::string& path) {
        if (at(call, fileNameOf(path)))
            ::_exit(9);
    }
    int rename(const std::string& from, const std::string& to) override {
        maybeDie("move", to);
        return PosixFileSystem::rename(from, to);
    }
    int renameNoReplace(const std::string& from, const std::string& to) override {
        maybeDie("move", to);
        return PosixFileSystem::renameNoReplace(from, to);
    }
    int renameAt(int folder, const std::string& from, const std::string& to) override {
        maybeDie("move", to);
        return PosixFileSystem::renameAt(folder, from, to);
    }
    int renameNoReplaceAt(int folder, const std::string& from, const std::string& to) override {
        maybeDie("move", to);
        return PosixFileSystem::renameNoReplaceAt(folder, from, to);
    }
    int unlink(const std::string& path) override {
        maybeDie("delete", path);
        return PosixFileSystem::unlink(path);
    }
    int unlinkAt(int folder, const std::string& name) override {
        maybeDie("delete", name);
        return PosixFileSystem::unlinkAt(folder, name);
    }
};

// Runs work on a file layer in a child that the layer kills; true when the kill came.
bool killedDuring(const std::function<void(KillAtFileSystem&)>& work,
                  std::function<bool(const std::string&, const std::string&)> at) {
    const pid_t child = ::fork();
    if (child == 0) {
        KillAtFileSystem fs;
        fs.at = std::move(at);
        work(fs);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 9;
}

// A stick pulled and put back, or whose cached inodes the kernel dropped: every file and
// folder reports another inode number, and another device, from now on.
struct RenumberedFileSystem : PosixFileSystem {
    static void renumber(int result, struct stat* st) {
        if (result == 0) {
            st->st_ino += 1000;
            st->st_dev += 7;
        }
    }
    int stat(const std::string& path, struct stat* st) override {
        const int result = PosixFileSystem::stat(path, st);
        renumber(result, st);
        return result;
    }
    int lstat(const std::string& path, struct stat* st) override {
        const int result = PosixFileSystem::lstat(path, st);
        renumber(result, st);
        return result;
    }
    int fstat(int fd, struct stat* st) override {
        const int result = PosixFileSystem::fstat(fd, st);
        renumber(result, st);
        return result;
    }
    int lstatAt(int folder, const std::string& name, struct stat* st) override {
        const int result = PosixFileSystem::lstatAt(folder, name, st);
        renumber(result, st);
        return result;
    }
};

// A mount that stopped answering: any look at the folder sleeps in the kernel. Here it sleeps
// in a child for at most a minute (a look from the test's own process fails at once and is
// counted, so a command that waited on it would fail the test rather than hang it).
struct SilentFileSystem : PosixFileSystem {
    std::string folder;
    pid_t owner = ::getpid();
    bool lookedFromOwner = false;
    bool silent(const std::string& path) {
        if (path.rfind(folder, 0) != 0)
            return false;
        if (::getpid() == owner)
            lookedFromOwner = true;
        else
            ::sleep(60);
        errno = EIO;
        return true;
    }
    int stat(const std::string& path, struct stat* st) override {
        return silent(path) ? -1 : PosixFileSystem::stat(path, st);
    }
    int lstat(const std::string& path, struct stat* st) override {
        return silent(path) ? -1 : PosixFileSystem::lstat(path, st);
    }
    int open(const std::string& path, int flags, mode_t mode) override {
        return silent(path) ? -1 : PosixFileSystem::open(path, flags, mode);
    }
    int listFolder(const std::string& path, std::vector<std::string>& names) override {
        return silent(path) ? -1 : PosixFileSystem::listFolder(path, names);
    }
};

// A split over an older set killed during its commit, with its folder out of reach for a
// while or its file system renumbered, as happens to a stick.
struct KilledOnAStick {
    StateFolder state;
    ScratchDir root, elsewhere;
    std::string dir = root / "set";
    std::string oldContent = randomBytes(3000, 7), newContent = randomBytes(2500, 8);
    KilledOnAStick() {
        std::filesystem::create_directory(dir);
        std::filesystem::create_directory(root / "home");
        writeFile(root / "home/.bashrc", "the user's own");
        writeFile(dir + "/thesis.txt", "years of work");
        writeFile(dir + "/movie.avi", oldContent);
    }
};

struct Aftermath {
    const char* name;
    bool afterCommitPoint; // the kill came after it: the new set is whole afterwards
    // What happens between the kill and the first command, and the file layer it runs on.
    std::function<void(KilledOnAStick&)> meanwhile;
    std::function<std::unique_ptr<FileSystem>(KilledOnAStick&)> layer;
    const char* waiting; // why the first command leaves the run for later; null: it settles it
    std::function<void(KilledOnAStick&)> back; // the folder back, renumbered
};

void PrintTo(const Aftermath& row, std::ostream* out) {
    *out << row.name;
}

class KilledOnAStickTest : public ::testing::TestWithParam<Aftermath> {};

// The next command that reaches the folder settles the run to the old or the new set whole,
// by what the files hold; until then the journal waits, untouched, with one line; nothing
// outside the set's names changes, here, beside it or in another folder at its path.
TEST_P(KilledOnAStickTest, EndsWithTheOldOrTheNewSetWhole) {
    KilledOnAStick stick;
    const Aftermath& row = GetParam();
    EngineRunner first;
    ASSERT_TRUE(first.split(stick.dir + "/movie.avi", 1, "", {Yes, No}));
    writeFile(stick.dir + "/movie.avi", stick.newContent);
    const auto before = outsideSet(tree(stick.root.path()), "set/movie.");
    ASSERT_TRUE(killedDuring(
        [&](KillAtFileSystem& fs) {
            EngineRunner killed(fs);
            killed.split(stick.dir + "/movie.avi", 1, "", {Yes, No});
        },
        [&, backups = 0](const std::string& call, const std::string& name) mutable {
            if (row.afterCommitPoint)
                return call == "delete" && name.ends_with(".bak") && ++backups == 2;
            return call == "move" && name == "movie.002";
        }));
    ASSERT_EQ(stick.state.count(), 1u);
    if (row.meanwhile)
        row.meanwhile(stick);
    RenumberedFileSystem renumbered;
    auto notes = detail::finishInterruptedRuns(row.layer ? *row.layer(stick) : renumbered);
    if (row.waiting != nullptr) {
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_NE(notes[0].find("waits for that folder (" + std::string(row.waiting)),
                  std::string::npos)
            << notes[0];
        EXPECT_NE(notes[0].find(stick.dir), std::string::npos) << notes[0];
        EXPECT_EQ(stick.state.count(), 1u);
        row.back(stick);
        notes = detail::finishInterruptedRuns(renumbered);
    }
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].rfind(row.afterCommitPoint ? "Completed" : "Undid", 0), 0u) << notes[0];
    EXPECT_EQ(stick.state.count(), 0u);
    for (const auto& name : listDir(stick.dir))
        EXPECT_NE(name.front(), '.') << name;
    EngineRunner next;
    ASSERT_TRUE(next.assemble(stick.dir + "/movie.000", stick.elsewhere / "joined.", {Yes, No}));
    EXPECT_EQ(readFile(stick.elsewhere / "joined.avi"),
              row.afterCommitPoint ? stick.newContent : stick.oldContent);
    EXPECT_EQ(outsideSet(tree(stick.root.path()), "set/movie."), before);
}

INSTANTIATE_TEST_SUITE_P(
    Sticks, KilledOnAStickTest,
    ::testing::Values(
        Aftermath{"RemountedBeforeTheCommitPoint", false, nullptr, nullptr, nullptr, nullptr},
        Aftermath{"RemountedAfterTheCommitPoint", true, nullptr, nullptr, nullptr, nullptr},
        Aftermath{"PulledOutThenBack", false,
                  [](KilledOnAStick& s) {
                      std::filesystem::rename(s.dir, s.elsewhere / "set");
                      // Any command meanwhile, of a file elsewhere.
                  },
                  [](KilledOnAStick&) { return std::make_unique<PosixFileSystem>(); },
                  "it is not there now",
                  [](KilledOnAStick& s) { std::filesystem::rename(s.elsewhere / "set", s.dir); }},
        Aftermath{"AnotherFolderAtItsPathMeanwhile", false,
                  [](KilledOnAStick& s) {
                      std::filesystem::rename(s.dir, s.elsewhere / "set");
                      std::filesystem::create_directory(s.dir);
                      writeFile(s.dir + "/movie.000", "someone else's");
                  },
                  [](KilledOnAStick&) { return std::make_unique<PosixFileSystem>(); },
                  "another folder is at that path now",
                  [](KilledOnAStick& s) {
                      EXPECT_EQ(listDir(s.dir), std::set<std::string>{"movie.000"});
                      EXPECT_EQ(readFile(s.dir + "/movie.000"), "someone else's");
                      std::filesystem::rename(s.dir, s.elsewhere / "stranger");
                      std::filesystem::rename(s.elsewhere / "set", s.dir);
                  }},
        Aftermath{"ItsMountStopsAnswering", false, nullptr,
                  [](KilledOnAStick& s) -> std::unique_ptr<FileSystem> {
                      auto fs = std::make_unique<SilentFileSystem>();
                      fs->folder = s.dir;
                      return fs;
                  },
                  "it does not answer", [](KilledOnAStick&) {}}),
    [](const auto& row) { return std::string(row.param.name); });

// A join that deletes its parts, killed midway: the next command deletes the rest, but only
// files that still hold what the join read, found by what they hold after a remount.
TEST(KilledDeletions, AreFinishedByTheNextCommandForFilesStillAsRead) {
    StateFolder state;
    ScratchDir root;
    const std::string content = randomBytes(3000, 9);
    writeFile(root / "movie.avi", content);
    writeFile(root / "thesis.txt", "years of work");
    EngineRunner split;
    ASSERT_TRUE(split.split(root / "movie.avi", 1, "", {Yes, No}));
    std::filesystem::rename(root / "movie.avi", root / "original.avi");
    ASSERT_TRUE(killedDuring(
        [&](KillAtFileSystem& fs) {
            EngineRunner join(fs);
            join.assemble(root / "movie.000", root / "joined.", {Yes, Yes});
        },
        [](const std::string& call, const std::string& name) {
            return call == "delete" && name == "movie.001";
        }));
    // Another program's file at one of the names meanwhile.
    writeFile(root / "movie.002", "someone else's");
    RenumberedFileSystem renumbered;
    const auto notes = detail::finishInterruptedRuns(renumbered);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].rfind("Finished the deletions of an interrupted join", 0), 0u) << notes[0];
    EXPECT_EQ(listDir(root.path()),
              (std::set<std::string>{"joined.avi", "movie.002", "original.avi", "thesis.txt"}));
    EXPECT_EQ(readFile(root / "joined.avi"), content);
    EXPECT_EQ(readFile(root / "movie.002"), "someone else's");
    EXPECT_EQ(state.count(), 0u);
}

// A split that commits while a repair of the same set runs: the repair, which read the older
// set, puts nothing in place, and the new set stays whole.
TEST(RepairRace, ASplitCommittedMeanwhileMakesTheRepairChangeNothing) {
    StateFolder state;
    ScratchDir dir;
    const std::string content = randomBytes(6000, 4);
    writeFile(dir / "movie.avi", content);
    EngineRunner split;
    split.box.reset({Yes, No});
    OperationContext context{split.box};
    ASSERT_TRUE(SplitFile(dir / "movie.avi", 1, "", dir / "movie.avi", context, {1, true}));
    std::filesystem::remove(dir / "movie.002");
    const std::string newer = randomBytes(6100, 5);
    struct Interleaving : PosixFileSystem {
        std::function<void()> during;
        int fchmod(int fd, mode_t mode) override {
            if (auto run = std::exchange(during, nullptr))
                run();
            return PosixFileSystem::fchmod(fd, mode);
        }
    } fs;
    fs.during = [&] {
        writeFile(dir / "movie.avi", newer);
        split.box.reset({Yes, No});
        EXPECT_TRUE(SplitFile(dir / "movie.avi", 1, "", dir / "movie.avi", context));
    };
    const auto repaired = RepairSet(dir / "movie.002", fs);
    EXPECT_FALSE(repaired && repaired.value().outcome == RepairReport::Outcome::Repaired);
    EngineRunner join;
    ASSERT_TRUE(join.assemble(dir / "movie.000", dir / "joined.", {Yes, No}));
    EXPECT_EQ(readFile(dir / "joined.avi"), newer);
}

// A private set stays private: a rebuilt file takes the bits of the set's good files, whatever
// the umask would allow.
TEST(RepairCommit, RebuiltFilesKeepThePrivateBitsOfTheSet) {
    ScratchDir dir;
    writeFile(dir / "movie.avi", randomBytes(5000, 6));
    std::filesystem::permissions(dir / "movie.avi", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
    EngineRunner split;
    split.box.reset({Yes, No});
    OperationContext context{split.box};
    ASSERT_TRUE(SplitFile(dir / "movie.avi", 1, "", dir / "movie.avi", context, {1, true}));
    std::filesystem::remove(dir / "movie.001");
    const mode_t mask = ::umask(0);
    const auto repaired = RepairSet(dir / "movie.001", defaultFileSystem());
    ::umask(mask);
    ASSERT_TRUE(repaired);
    EXPECT_EQ(repaired.value().outcome, RepairReport::Outcome::Repaired);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "movie.001").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
} // namespace tolvar::testing
