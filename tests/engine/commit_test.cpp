// The commit layer on its own: the journal's format, the one commit that puts a set in place,
// and what a folder is asked before anything is written to it.

#include "folder.h"
#include "pending_set.h"
#include "portable_names.h"
#include "run_journal.h"
#include "test_support.h"

#include <cctype>
#include <filesystem>
#include <optional>

namespace tolvar::testing {
namespace {

using detail::FileIdentity;
using detail::Folder;
using detail::JournalContents;
using detail::PendingSet;

// ---- The journal's format -------------------------------------------------------------------

JournalContents everyKindOfRecord() {
    JournalContents run;
    run.owner = {"host", "boot-id", "pid:[4026531836]", 4242, 987654};
    run.operation = "join";
    run.folder = "/home/user/films";
    run.folderDevice = 2049;
    run.folderInode = 131;
    const FileIdentity identity{2049, 77, 5000, std::string(64, 'a')};
    run.temporaries.push_back({".tolvar-abc1234.tmp", identity});
    run.intended.push_back(".tolvar-zzz9999.tmp");
    run.moves.push_back({"movie.avi", ".tolvar-bak0001.bak", ".tolvar-abc1234.tmp", identity,
                         FileIdentity{2049, 78, 10, std::string(64, 'b')}});
    run.moves.push_back({"movie.003", ".tolvar-bak0002.bak", "", identity, std::nullopt});
    run.deletions.push_back({"movie.000", identity});
    run.committed = true;
    return run;
}

TEST(JournalFormat, ReadsBackWhatWasWrittenAndWhateverAKillLeftOfIt) {
    const std::string text = detail::formatJournal(everyKindOfRecord());
    const auto whole = detail::parseJournal(text);
    ASSERT_TRUE(whole);
    EXPECT_EQ(detail::formatJournal(*whole), text);
    EXPECT_TRUE(whole->committed);
    ASSERT_EQ(whole->moves.size(), 2u);
    EXPECT_TRUE(whole->moves[0].old.has_value());
    EXPECT_FALSE(whole->moves[1].old.has_value());

    // A kill may stop the writing at any byte: once the header is whole, what it left reads as
    // the records before the one cut short, never as more or other records.
    JournalContents headerOnly = everyKindOfRecord();
    headerOnly.temporaries.clear();
    headerOnly.intended.clear();
    headerOnly.moves.clear();
    headerOnly.deletions.clear();
    headerOnly.committed = false;
    const std::size_t headerSize = detail::formatJournal(headerOnly).size();
    for (std::size_t cut = headerSize; cut <= text.size(); ++cut) {
        const auto part = detail::parseJournal(text.substr(0, cut));
        ASSERT_TRUE(part) << "cut at " << cut;
        EXPECT_TRUE(text.starts_with(detail::formatJournal(*part))) << "cut at " << cut;
    }
    for (std::size_t cut = 0; cut < headerSize; ++cut)
        EXPECT_FALSE(detail::parseJournal(text.substr(0, cut))) << "cut at " << cut;
}

struct Tampered {
    const char* name;
    std::function<void(JournalContents&)> change;
};

void PrintTo(const Tampered& row, std::ostream* out) {
    *out << row.name;
}

class TamperedJournal : public ::testing::TestWithParam<Tampered> {};

// A journal is only ever read from the user's own state folder, but one that names a file
// outside its folder, or a file of the user's as one of its hidden ones, is refused whole.
TEST_P(TamperedJournal, IsRefusedWhole) {
    JournalContents run = everyKindOfRecord();
    GetParam().change(run);
    EXPECT_FALSE(detail::parseJournal(detail::formatJournal(run)));
}

INSTANTIATE_TEST_SUITE_P(
    Records, TamperedJournal,
    ::testing::Values(
        Tampered{"MoveOutOfTheFolder", [](JournalContents& r) { r.moves[0].name = "../x"; }},
        Tampered{"MoveIntoASubfolder", [](JournalContents& r) { r.moves[0].name = "a/x"; }},
        Tampered{"BackupNotOurs", [](JournalContents& r) { r.moves[0].backup = "thesis.txt"; }},
        Tampered{"TemporaryNotOurs",
                 [](JournalContents& r) { r.temporaries[0].name = "thesis.txt"; }},
        Tampered{"IntendedNotOurs", [](JournalContents& r) { r.intended[0] = ".bashrc"; }},
        Tampered{"DeletionOfAHiddenName",
                 [](JournalContents& r) { r.deletions[0].name = ".tolvar-abc1234.tmp"; }},
        Tampered{"DeletionOfTheFolder", [](JournalContents& r) { r.deletions[0].name = ".."; }},
        Tampered{"RelativeFolder", [](JournalContents& r) { r.folder = "films"; }},
        Tampered{"UnknownOperation", [](JournalContents& r) { r.operation = "erase"; }}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- The commit -----------------------------------------------------------------------------

// Commits "a" (replacing the old one) and the new "b" through fs, and retires "c"; "b" is
// expected to be absent and "a" as it was when looked at.
Result<void> commitNewSet(FileSystem& fs, const ScratchDir& dir) {
    auto folder = Folder::open(fs, dir.path());
    if (!folder)
        return folder.failure();
    PendingSet set(fs, folder.value(), "split");
    struct stat oldA {};
    ::stat((dir / "a").c_str(), &oldA);
    set.expect(dir / "a", oldA);
    set.expect(dir / "b", std::nullopt);
    for (const char* name : {"a", "b"}) {
        auto added = set.add(dir / name, 0644);
        if (!added)
            return added.failure();
        const std::string bytes = std::string("new ") + name;
        auto written = detail::writeAll(fs, set.file(added.value()).get(), bytes.data(),
                                        bytes.size(), dir / name);
        if (!written)
            return written;
    }
    set.retire(dir / "c");
    return set.commit();
}

const std::vector<std::string> kOldSet = {"a", "c", "thesis.txt"};
const std::vector<std::string> kNewSet = {"a", "b", "thesis.txt"};

void writeOldSet(const ScratchDir& dir) {
    writeFile(dir / "a", "old a");
    writeFile(dir / "c", "old c");
    writeFile(dir / "thesis.txt", "years of work");
}

TEST(PendingSet, EitherPutsTheWholeNewSetInPlaceOrLeavesTheOldOneAsItWas) {
    StateFolder state;
    // Every move of the commit failed in turn, then none: each run ends with the one set or
    // the other, byte for byte, no hidden file and no journal left. Moves aside are renames,
    // moves onto a free name are renames that never replace.
    for (const FsCall move : {FsCall::Rename, FsCall::RenameNoReplace}) {
        for (std::uint64_t nth = 1;; ++nth) {
            SCOPED_TRACE(std::string(fsCallName(move)) + " " + std::to_string(nth) + " fails");
            ScratchDir dir;
            writeOldSet(dir);
            FaultyFileSystem fs;
            fs.failNth(move, nth, EIO);
            const auto committed = commitNewSet(fs, dir);
            EXPECT_EQ(state.count(), 0u);
            EXPECT_EQ(fs.openCount(), 0u);
            if (!committed) {
                ASSERT_TRUE(fs.fault().has_value()) << committed.failure().description;
                EXPECT_EQ(dir.listing(), kOldSet);
                EXPECT_EQ(readFile(dir / "a"), "old a");
                EXPECT_EQ(readFile(dir / "c"), "old c");
                continue;
            }
            EXPECT_EQ(dir.listing(), kNewSet);
            EXPECT_EQ(readFile(dir / "a"), "new a");
            EXPECT_EQ(readFile(dir / "b"), "new b");
            EXPECT_EQ(readFile(dir / "thesis.txt"), "years of work");
            EXPECT_FALSE(fs.fault().has_value()) << "the commit hid a failed move";
            // Two old files go aside ("a" and the retired "c") and two new ones onto free
            // names, so at least two moves of each kind failed in the runs before.
            EXPECT_GE(nth, 3u);
            break;
        }
    }
}

TEST(PendingSet, ANameChangedSinceItWasLookedAtStopsTheCommitBeforeAnyMove) {
    StateFolder state;
    ScratchDir dir;
    writeOldSet(dir);
    FaultyFileSystem fs;
    // Another program puts a "b" there between the look and the commit.
    fs.beforeEachCall([&](FsCall kind, const std::string&) {
        if (kind == FsCall::Lock && !exists(dir / "b"))
            writeFile(dir / "b", "someone else's b");
    });
    ASSERT_FALSE(commitNewSet(fs, dir));
    EXPECT_EQ(fs.calls(FsCall::Rename), 0u);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"a", "b", "c", "thesis.txt"}));
    EXPECT_EQ(readFile(dir / "a"), "old a");
    EXPECT_EQ(readFile(dir / "b"), "someone else's b");
    EXPECT_EQ(state.count(), 0u);
}

// ---- What a folder can hold -----------------------------------------------------------------

// A folder as some removable media present it: no name may hold '?', and (optionally) case is
// not told apart, so "Movie.avi" is found under "MOVIE.AVI" too.
class PickyFolder : public FaultyFileSystem {
public:
    bool ignoresCase = false;

    int openAt(int folder, const std::string& name, int flags, mode_t mode = 0) override {
        if (name.find('?') != std::string::npos) {
            errno = EINVAL;
            return -1;
        }
        return FaultyFileSystem::openAt(folder, name, flags, mode);
    }
    int lstatAt(int folder, const std::string& name, struct stat* st) override {
        const int found = FaultyFileSystem::lstatAt(folder, name, st);
        if (found == 0 || !ignoresCase)
            return found;
        std::vector<std::string> names;
        FaultyFileSystem::listFolderAt(folder, names);
        for (const auto& other : names)
            if (folded(other) == folded(name))
                return FaultyFileSystem::lstatAt(folder, other, st);
        errno = ENOENT;
        return -1;
    }

private:
    static std::string folded(std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }
};

struct Asked {
    const char* name;
    std::vector<std::string> names;
    bool ignoresCase;
    // What the answer must contain; empty: no refusal.
    std::string refusal;
};

void PrintTo(const Asked& row, std::ostream* out) {
    *out << row.name;
}

class NameRefusal : public ::testing::TestWithParam<Asked> {};

TEST_P(NameRefusal, NamesWhatTheFolderCannotHoldAndLeavesNoProbeBehind) {
    StateFolder state;
    ScratchDir dir;
    writeFile(dir / "Movie.avi", "the user's own film");
    writeFile(dir / "Film.000", expectedHeader(0, 2, "avi") + "payload");
    const auto before = dir.listing();
    PickyFolder fs;
    fs.ignoresCase = GetParam().ignoresCase;
    auto folder = Folder::open(fs, dir.path());
    ASSERT_TRUE(folder);
    auto journal = detail::RunJournal::start(fs, folder.value(), "split", dir.path());
    ASSERT_TRUE(journal);

    auto refusal = detail::nameRefusal(fs, folder.value(), GetParam().names, *journal.value());
    ASSERT_TRUE(refusal) << refusal.failure().description;
    if (GetParam().refusal.empty())
        EXPECT_EQ(refusal.value(), std::nullopt);
    else
        EXPECT_NE(refusal.value().value_or("").find(GetParam().refusal), std::string::npos)
            << refusal.value().value_or("(none)");
    EXPECT_EQ(dir.listing(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, NameRefusal,
    ::testing::Values(Asked{"PlainNames", {"clip.avi", "clip.000"}, true, ""},
                      Asked{"CharactersTheFolderTakes", {"mo:vie é.avi", "trailing."}, false, ""},
                      Asked{"ACharacterTheFolderRefuses", {"what?.avi"}, false, "'?' in a name"},
                      Asked{"ANameDifferingInCaseFromTheUsersFile",
                            {"movie.avi"},
                            true,
                            "'movie.avi' would replace 'Movie.avi'"},
                      Asked{"TheSameNameInACaseSensitiveFolder", {"movie.avi"}, false, ""},
                      Asked{"ANameDifferingInCaseFromAPart", {"film.000"}, true, ""}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tolvar::testing
