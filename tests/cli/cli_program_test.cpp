// tolvar-split driven as a user or a script would: the real executable, real files, and its
// exit status, standard output and standard error checked after each run.

#include "cli_test_support.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

namespace tolvar::clitest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kFilesLeft = 3;

std::string header(std::string_view part) {
    return readFile(std::string(part)).substr(0, 16);
}

std::uintmax_t sizeOf(const std::string& path) {
    return fs::file_size(path);
}

class CliTest : public ::testing::Test {
protected:
    ScratchDir scratch;

    // A source file of `size` random bytes in the scratch folder.
    std::string source(const std::string& name, std::size_t size, unsigned seed = 1) {
        const std::string path = scratch.path(name);
        writeFile(path, randomBytes(size, seed));
        return path;
    }

    // The listing of the scratch folder must not change across f: the run refused early.
    template <class F> RunResult expectNothingWritten(F&& run) {
        const std::vector<std::string> before = scratch.listing();
        RunResult result = run();
        EXPECT_EQ(scratch.listing(), before);
        return result;
    }
};

// ---------------------------------------------------------------------------------------------
// Splitting and joining real files

TEST_F(CliTest, SplitBySizeThenJoinRestoresTheSourceByteForByte) {
    const std::string movie = source("movie.avi", 30000);
    const std::string original = readFile(movie);

    const RunResult split = runProgram({"split", "--size", "1K", "--yes", movie});
    EXPECT_EQ(split.status, kDone) << split.err;
    EXPECT_THAT(split.err, HasSubstr("tolvar-split: Splitting done successfully."));
    // Not a terminal: no progress line and no prompt.
    EXPECT_THAT(split.err, Not(HasSubstr("\r")));
    EXPECT_THAT(split.err, Not(HasSubstr("[y/N]")));
    EXPECT_TRUE(split.out.empty());

    for (int i = 0; i < 29; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "movie.%03d", i);
        ASSERT_EQ(sizeOf(scratch.path(name)), 16u + 1024u) << name;
    }
    EXPECT_EQ(sizeOf(scratch.path("movie.029")), 16u + 304u);
    EXPECT_FALSE(exists(scratch.path("movie.030")));
    EXPECT_EQ(header(scratch.path("movie.002")), "SPLITKV002030avi");
    EXPECT_TRUE(exists(movie)) << "the source is kept unless --delete-source is given";

    fs::remove(movie);
    const RunResult join = runProgram({"join", scratch.path("movie.000"), "--yes"});
    EXPECT_EQ(join.status, kDone) << join.err;
    EXPECT_THAT(join.err, HasSubstr("tolvar-split: File assembled successfully."));
    ASSERT_TRUE(exists(movie));
    EXPECT_EQ(readFile(movie), original);
    EXPECT_TRUE(exists(scratch.path("movie.000"))) << "the parts are kept unless --delete-parts";
}

// Parts for where they must go: the table, a destination's parts within its limit and back
// byte for byte, and the largest part a folder holds.
TEST_F(CliTest, ForAndSizeMaxChooseTheSizeFromWhereThePartsGo) {
    const RunResult list = runProgram({"split", "--for", "list"});
    EXPECT_EQ(list.status, kDone) << list.err;
    for (const char* row : {"fat32", "cd", "dvd", "dvd-dl", "bd", "email", "email-10mb", "discord",
                            "telegram", "github"})
        EXPECT_THAT(list.out, HasSubstr(std::string("\n") + row + " ")) << row;
    EXPECT_THAT(list.out, HasSubstr("3 broken files per disc of 4700000000 bytes"));

    const std::string chat = source("chat.bin", 25 * 1000 * 1000, 11);
    const std::string original = readFile(chat);
    const RunResult split = runProgram({"split", "--for", "discord", "--yes", chat});
    ASSERT_EQ(split.status, kDone) << split.err;
    for (const char* part : {"chat.000", "chat.001"})
        EXPECT_EQ(sizeOf(scratch.path(part)), 10239u * 1024 + 16) << part;
    EXPECT_LE(sizeOf(scratch.path("chat.002")), 10485760u);
    fs::remove(chat);
    ASSERT_EQ(runProgram({"join", "--yes", scratch.path("chat.000")}).status, kDone);
    EXPECT_TRUE(readFile(chat) == original);

    // Where nothing limits a file, max is the format's largest part: this file is smaller.
    const RunResult max = runProgram({"split", "--size", "max", "--yes", chat});
    EXPECT_EQ(max.status, kRefused);
    EXPECT_THAT(max.err, HasSubstr("This file size is smaller than the selected split size."));
}

TEST_F(CliTest, SplitByPartsAndJoinUnderPrefixes) {
    const std::string film = source("film.avi", 1000000, 7);
    fs::create_directory(scratch.path("out"));
    fs::create_directory(scratch.path("rebuilt"));

    const RunResult split =
        runProgram({"split", film, "--parts", "3", "--prefix", scratch.path("out/piece"), "-y"});
    ASSERT_EQ(split.status, kDone) << split.err;
    for (const char* name : {"out/piece.000", "out/piece.001", "out/piece.002"})
        EXPECT_EQ(sizeOf(scratch.path(name)), 16u + 333333u) << name;
    EXPECT_EQ(sizeOf(scratch.path("out/piece.003")), 16u + 1u);
    EXPECT_EQ(header(scratch.path("out/piece.003")), "SPLITKV003004avi");
    EXPECT_FALSE(exists(scratch.path("film.000")))
        << "with a prefix nothing goes beside the source";

    // A prefix that already ends in "." gets no second one.
    const RunResult join = runProgram(
        {"join", "--prefix=" + scratch.path("rebuilt/copy."), "-y", scratch.path("out/piece.000")});
    ASSERT_EQ(join.status, kDone) << join.err;
    EXPECT_EQ(readFile(scratch.path("rebuilt/copy.avi")), readFile(film));
    EXPECT_FALSE(exists(scratch.path("rebuilt/copy..avi")));

    // Without a final "." one is added before the name tail.
    const RunResult again = runProgram(
        {"join", scratch.path("out/piece.000"), "--yes", "--prefix", scratch.path("rebuilt/film")});
    ASSERT_EQ(again.status, kDone) << again.err;
    EXPECT_EQ(readFile(scratch.path("rebuilt/film.avi")), readFile(film));
}

TEST_F(CliTest, APrefixThatIsAFolderKeepsTheNames) {
    fs::create_directories(scratch.path("dir"));
    fs::create_directories(scratch.path("rebuilt"));
    const std::string film = source("dir/movie.avi", 2500);
    ASSERT_EQ(
        runProgram({"split", "-s", "1", "-y", "--prefix", scratch.path("out") + "/", film}).status,
        kRefused)
        << "a folder that is not there is not made";
    fs::create_directories(scratch.path("out"));
    ASSERT_EQ(
        runProgram({"split", "-s", "1", "-y", "--prefix", scratch.path("out") + "/", film}).status,
        kDone);
    EXPECT_EQ(header(scratch.path("out/movie.002")), "SPLITKV002003avi");
    const RunResult join = runProgram(
        {"join", "-y", "--prefix", scratch.path("rebuilt"), scratch.path("out/movie.000")});
    EXPECT_EQ(join.status, kDone) << join.err;
    EXPECT_EQ(readFile(scratch.path("rebuilt/movie.avi")), readFile(film));
}

TEST_F(CliTest, AnEmptyPrefixPutsThePartsBesideTheSource) {
    const std::string file = source("data.bin", 5000);
    const RunResult split = runProgram({"split", "-s", "2K", "--prefix", "", "--yes", file});
    ASSERT_EQ(split.status, kDone) << split.err;
    EXPECT_EQ(sizeOf(scratch.path("data.000")), 16u + 2048u);
    EXPECT_EQ(sizeOf(scratch.path("data.002")), 16u + 904u);
}

TEST_F(CliTest, SizesTakeUnitsAndRoundHalfToEven) {
    struct Row {
        const char* size;
        std::size_t sourceSize;
        std::uintmax_t partPayload;
        const char* partCount;
    };
    // Bare numbers are kilobytes; 2.5 K rounds to 2 K and 3.5 K to 4 K; 0.0005 M is 0.512 K.
    const Row rows[] = {{"2.5", 10000, 2048, "005"},
                        {"3.5k", 10000, 4096, "003"},
                        {"0.0005M", 10000, 1024, "010"},
                        {"1.5M", 1600000, 1536 * 1024, "002"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        const std::string file = source("sizes.dat", row.sourceSize);
        const RunResult split = runProgram({"split", "--size", row.size, "--yes", file});
        ASSERT_EQ(split.status, kDone) << split.err;
        EXPECT_EQ(sizeOf(scratch.path("sizes.000")), 16u + row.partPayload);
        EXPECT_EQ(header(scratch.path("sizes.000")).substr(10, 3), row.partCount);
    }
}

TEST_F(CliTest, DeleteFlagsDeleteTheSourceAndTheParts) {
    const std::string movie = source("clip.mp4", 20000);
    const std::string original = readFile(movie);

    const RunResult split =
        runProgram({"split", "--size", "8K", "--yes", "--delete-source", movie});
    ASSERT_EQ(split.status, kDone) << split.err;
    EXPECT_FALSE(exists(movie));

    const RunResult join =
        runProgram({"--delete-parts", "join", "--yes", scratch.path("clip.000")});
    ASSERT_EQ(join.status, kDone) << join.err;
    EXPECT_EQ(readFile(movie), original);
    for (const char* name : {"clip.000", "clip.001", "clip.002"})
        EXPECT_FALSE(exists(scratch.path(name))) << name;
}

TEST_F(CliTest, AJoinAsksBeforeReplacingAFileAndSaysWhatNoChecksumFileVouchedFor) {
    const std::string movie = source("keep.avi", 5000);
    const std::string original = readFile(movie);
    ASSERT_EQ(runProgram({"split", "-s", "1K", "--checksums", "-y", movie}).status, kDone);
    writeFile(movie, "the user's own file of that name");
    const std::string first = scratch.path("keep.000");

    // No, the default, keeps it: on a terminal, and without one when --yes is not given.
    const RunResult quiet = expectNothingWritten([&] { return runProgram({"join", first}); });
    EXPECT_EQ(quiet.status, kRefused);
    EXPECT_EQ(quiet.err,
              "tolvar-split: not confirmed: standard input is not a terminal; use --yes\n");
    if (terminalsAvailable()) {
        const RunResult no = expectNothingWritten([&] {
            return runOnTerminal(
                {"join", first},
                {{"tolvar-split: 'keep.avi' already exists. Replace it? [y/N] ", "\n"}});
        });
        EXPECT_EQ(no.status, kRefused);
        EXPECT_THAT(no.err, Not(HasSubstr("Are you sure")));
    }
    EXPECT_EQ(readFile(movie), "the user's own file of that name");

    // --yes answers it; the checksum file vouched for the parts, so nothing more is said.
    const RunResult yes = runProgram({"join", "--yes", first});
    EXPECT_EQ(yes.status, kDone);
    EXPECT_EQ(yes.err, "tolvar-split: File assembled successfully.\n");
    EXPECT_EQ(readFile(movie), original);

    // Without the checksum file, or told to leave it aside, nothing checked the contents.
    fs::remove(movie);
    const RunResult unchecked = runProgram({"join", "--yes", "--no-checksums", first});
    EXPECT_EQ(unchecked.status, kDone);
    EXPECT_EQ(unchecked.err,
              "tolvar-split: File assembled successfully.\nIts contents could not be checked: the "
              "broken files have no usable checksum file.\n");
    EXPECT_EQ(readFile(movie), original);
}

// A folder whose files cannot be deleted: a tmpfs mounted read-only where the tests run as root
// (which no permission bit stops), a folder without write permission otherwise.
class UndeletableFolder {
public:
    explicit UndeletableFolder(std::string where) : path(std::move(where)) {
        fs::create_directory(path);
        mounted = ::geteuid() == 0 && ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    void seal() {
        if (mounted)
            ASSERT_EQ(::mount("tmpfs", path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
        else
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_exec);
    }
    ~UndeletableFolder() {
        if (mounted)
            ::umount2(path.c_str(), MNT_DETACH);
        else
            fs::permissions(path, fs::perms::owner_all);
    }
    UndeletableFolder(const UndeletableFolder&) = delete;
    UndeletableFolder& operator=(const UndeletableFolder&) = delete;

    std::string path;
    bool mounted = false;
};

TEST_F(CliTest, AJoinWhosePartsCannotBeDeletedSaysWhatWasDoneAndWhatIsLeft) {
    UndeletableFolder sealed(scratch.path("sealed"));
    fs::create_directory(scratch.path("out"));
    const std::string movie = sealed.path + "/movie.avi";
    writeFile(movie, randomBytes(5000, 3));
    ASSERT_EQ(runProgram({"split", "-s", "1K", "--checksums", "-y", movie}).status, kDone);
    sealed.seal();
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(sealed.path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();

    const RunResult join = runProgram({"join", "-y", "--delete-parts", "--prefix",
                                       scratch.path("out"), sealed.path + "/movie.000"});
    EXPECT_EQ(join.status, kFilesLeft);
    EXPECT_EQ(readFile(scratch.path("out/movie.avi")), readFile(movie));
    EXPECT_EQ(listing(), before);
    const std::string first = sealed.path + "/movie.000";
    const std::string report = sealed.mounted
                                   ? "75: Read-only file system: cannot delete '" + first +
                                         "' (the file system is mounted read-only)"
                                   : "70: Permission denied: cannot delete '" + first + "' (" +
                                         std::strerror(EACCES) + ")";
    EXPECT_EQ(join.err,
              "Tolvar Files Splitter - " + report + "\ntolvar-split: The file was assembled as '" +
                  scratch.path("out/movie.avi") +
                  "', but these files could not be deleted and are still there: '" + sealed.path +
                  "/movie.000' to '" + sealed.path + "/movie.004', '" + sealed.path +
                  "/movie.sha256' and '" + sealed.path + "/movie.tolvar'.\n");
}

TEST_F(CliTest, OptionsMayComeAnywhereAndDoubleDashEndsThem) {
    source("-odd.txt", 3000);
    // Relative names in the working folder: "-odd.txt" would read as an option before "--".
    const RunResult split =
        runProgram({"--yes", "--size=1K", "split", "--", "-odd.txt"}, "", scratch.dir().string());
    ASSERT_EQ(split.status, kDone) << split.err;
    EXPECT_TRUE(exists(scratch.path("-odd.000")));
    EXPECT_TRUE(exists(scratch.path("-odd.002")));
}

// ---------------------------------------------------------------------------------------------
// info

// Recovery parts and the checksum file come with --recovery; repair rebuilds what they cover
// and refuses, changing nothing, what they do not.
TEST_F(CliTest, SplitWithRecoveryThenRepairRebuildsLostAndDamagedFiles) {
    const std::string movie = source("movie.avi", 30000);
    const RunResult split = runProgram({"split", "-s", "4K", "--recovery", "2", "-y", movie});
    ASSERT_EQ(split.status, kDone) << split.err;
    const std::string lost = scratch.path("movie.003");
    const std::string damaged = scratch.path("movie.r01");
    const std::string lostBytes = readFile(lost);
    const std::string damagedBytes = readFile(damaged);
    fs::remove(lost);
    writeFile(damaged, "not what was written");

    // The lost file's own name is enough to find its set.
    const RunResult repaired = runProgram({"repair", lost});
    EXPECT_EQ(repaired.status, kDone) << repaired.err;
    EXPECT_THAT(repaired.out, HasSubstr("movie.003: missing, rebuilt\n"));
    EXPECT_THAT(repaired.out, HasSubstr("movie.r01: damaged (its contents differ), rebuilt\n"));
    EXPECT_EQ(readFile(lost), lostBytes);
    EXPECT_EQ(readFile(damaged), damagedBytes);

    for (const char* name : {"movie.000", "movie.001", "movie.r00"})
        fs::remove(scratch.path(name));
    const RunResult beyond = expectNothingWritten([&] {
        return runProgram({"repair", scratch.path("movie.002")});
    });
    EXPECT_EQ(beyond.status, kRefused);
    EXPECT_THAT(beyond.out, HasSubstr("Not repaired: 3 files are missing or damaged"));
}

TEST_F(CliTest, InfoListsACompleteSetAndChangesNothing) {
    const std::string file = source("song.flac", 2500);
    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", file}).status, kDone);
    fs::remove(file);

    const std::vector<std::string> before = scratch.listing();
    const std::string firstBefore = readFile(scratch.path("song.f000"));
    const RunResult info = runProgram({"info", scratch.path("song.f001")});
    EXPECT_EQ(info.status, kDone) << info.err;
    EXPECT_EQ(scratch.listing(), before);
    EXPECT_EQ(readFile(scratch.path("song.f000")), firstBefore);

    EXPECT_THAT(info.out, HasSubstr("Index:       001 of a set of 3 parts\n"));
    EXPECT_THAT(info.out, HasSubstr("Restores to: " + scratch.path("song.flac") + "\n"));
    EXPECT_THAT(info.out, HasSubstr("Join from:   " + scratch.path("song.f000") + "\n"));
    EXPECT_THAT(info.out, HasSubstr("  000  1024 bytes"));
    EXPECT_THAT(info.out, HasSubstr("  002  452 bytes"));
    EXPECT_THAT(info.out, HasSubstr("Complete: 3 of 3 parts present, 2500 bytes in all.\n"));
    EXPECT_TRUE(info.err.empty()) << info.err;
}

TEST_F(CliTest, InfoNamesMissingWronglyNumberedAndForeignParts) {
    const std::string file = source("set.bin", 5000);
    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", file}).status, kDone);
    // Five parts: 000 stays, 001 goes, 002 claims index 005, 003 is plain text, 004 belongs
    // to a set of another size.
    fs::remove(scratch.path("set.001"));
    std::string second = readFile(scratch.path("set.002"));
    second.replace(7, 3, "005");
    writeFile(scratch.path("set.002"), second);
    writeFile(scratch.path("set.003"), "just some text, not a part");
    std::string fifth = readFile(scratch.path("set.004"));
    fifth.replace(10, 3, "009");
    writeFile(scratch.path("set.004"), fifth);

    const RunResult info = runProgram({"info", scratch.path("set.000")});
    EXPECT_EQ(info.status, kRefused);
    EXPECT_THAT(info.out, HasSubstr("  000  1024 bytes"));
    EXPECT_THAT(info.out, HasSubstr("  001  missing"));
    EXPECT_THAT(info.out, HasSubstr("  002  wrong index 005"));
    EXPECT_THAT(info.out, HasSubstr("  003  not a part (no part header)"));
    EXPECT_THAT(info.out, HasSubstr("  004  from another set (009 parts"));
    EXPECT_THAT(info.out, HasSubstr("Incomplete: 1 of 5 parts present, 1 missing, 1 with a "
                                    "wrong index, 2 not of this set.\n"));
}

TEST_F(CliTest, InfoJudgesSizesAndCountsAsJoinDoes) {
    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", source("cut.bin", 2500)}).status, kDone);
    std::string second = readFile(scratch.path("cut.001"));
    second.pop_back();
    writeFile(scratch.path("cut.001"), second);
    const RunResult cut = runProgram({"info", scratch.path("cut.000")});
    EXPECT_EQ(cut.status, kRefused);
    EXPECT_THAT(cut.out, HasSubstr("  001  wrong size (1023 bytes)"));
    EXPECT_THAT(cut.out, HasSubstr("Incomplete: 2 of 3 parts present, 1 of the wrong size.\n"));

    std::string first = readFile(scratch.path("cut.000"));
    first.replace(10, 3, "000");
    writeFile(scratch.path("cut.000"), first);
    const RunResult noSet = runProgram({"info", scratch.path("cut.000")});
    EXPECT_EQ(noSet.status, kRefused);
    EXPECT_THAT(noSet.out, HasSubstr("gives its set 0 parts; a split always writes at least 2."));
}

// Names and name tails come from files anyone may have made: none may reach the terminal as
// control bytes, whichever command prints them.
TEST_F(CliTest, NamesAndTailsAreEscapedForTheTerminal) {
    const std::string file = source("clip\x1b[31m.bin", 2500);
    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", "--recovery", "1", file}).status, kDone);
    std::string second = readFile(scratch.path("clip\x1b[31m.001"));
    second.replace(13, 3, "\x1b[J");
    writeFile(scratch.path("clip\x1b[31m.001"), second);
    const std::string shown = scratch.path("clip\\033[31m.");
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{"info", scratch.path("clip\x1b[31m.000")}, "tail '\\033[J'"},
        {{"verify", scratch.path("clip\x1b[31m.000")},
         "foreign (broken file 001 of another set)  " + shown + "001"},
        {{"join", "-y", scratch.path("clip\x1b[31m.001")}, "join from '" + shown + "000'"},
        {{"repair", scratch.path("clip\x1b[31m.000")}, "clip\\033[31m.001: foreign"},
        // Failure reports too: a name that clears the screen and rings the bell.
        {{"join", "-y", scratch.path("gone\x1b[2J\a.000")},
         "File not found: cannot open '" + scratch.path("gone\\033[2J\\a.000") + "'"},
        {{"split", "-s", "1", "-y", "-p", scratch.path("no\x1b[2J/x"), file},
         scratch.path("no\\033[2J")},
    };
    for (const auto& [args, expected] : runs) {
        SCOPED_TRACE(args.front());
        const RunResult run = runProgram(args);
        EXPECT_THAT(run.out + run.err, HasSubstr(expected));
        EXPECT_EQ((run.out + run.err).find_first_of("\x1b\a"), std::string::npos)
            << run.out << run.err;
    }
}

TEST_F(CliTest, VerifyChecksTheSetAgainstItsChecksumFile) {
    const std::string file = source("clip.mp4", 5000);
    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", "--checksums", file}).status, kDone);
    ASSERT_EQ(
        std::system(
            ("cd '" + scratch.dir().string() + "' && sha256sum --quiet -c clip.sha256").c_str()),
        0);
    const RunResult whole = runProgram({"verify", scratch.path("clip.002")});
    EXPECT_EQ(whole.status, kDone) << whole.err;
    EXPECT_THAT(whole.out, HasSubstr("  004  good"));
    EXPECT_THAT(whole.out, HasSubstr("Whole: 5 of 5 files good.\n"));

    // Part 000 loses its header: verify still finds the set through the checksum file.
    std::string first = readFile(scratch.path("clip.000"));
    first[0] = 'X';
    writeFile(scratch.path("clip.000"), first);
    fs::remove(scratch.path("clip.003"));
    const std::vector<std::string> before = scratch.listing();
    const RunResult damaged = runProgram({"verify", scratch.path("clip.000")});
    EXPECT_EQ(damaged.status, kRefused);
    EXPECT_EQ(scratch.listing(), before);
    EXPECT_THAT(damaged.out,
                HasSubstr("  000  foreign (not a broken file)  " + scratch.path("clip.000")));
    EXPECT_THAT(damaged.out, HasSubstr("  003  missing"));
    EXPECT_THAT(damaged.out, HasSubstr("Not whole: 3 of 5 files good, 1 missing, 1 foreign.\n"));

    // Its companion lost, the plain file still checks the parts, and says what it cannot.
    fs::remove(scratch.path("clip.tolvar"));
    const RunResult plain = runProgram({"verify", scratch.path("clip.001")});
    EXPECT_EQ(plain.status, kRefused);
    EXPECT_THAT(plain.err, HasSubstr("checked against '" + scratch.path("clip.sha256") +
                                     "' alone: its companion '" + scratch.path("clip.tolvar") +
                                     "' is missing"));
    EXPECT_THAT(plain.out, HasSubstr("  002  good"));
    EXPECT_THAT(plain.out, HasSubstr("  003  missing"));

    // Without a usable checksum file it says why and lists the set as info does.
    writeFile(scratch.path("clip.sha256"), "not ours\n");
    const RunResult fallback = runProgram({"verify", scratch.path("clip.001")});
    EXPECT_EQ(fallback.status, kRefused);
    EXPECT_THAT(fallback.err, HasSubstr("cannot be used: it was not written by"));
    EXPECT_THAT(fallback.out, HasSubstr("  003  missing"));
}

// ---------------------------------------------------------------------------------------------
// Checksum files from strangers: evidence about the set, never a list of files to write

// Every file in a folder, one level deep, with its bytes.
std::map<std::string, std::string> contents(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = readFile(entry.path().string());
    return files;
}

std::string sha256Hex(const std::string& text) {
    ScratchDir io;
    writeFile(io.path("text"), text);
    FILE* pipe = popen(("sha256sum < '" + io.path("text") + "'").c_str(), "r");
    char hex[65] = {};
    const bool read = pipe != nullptr && std::fread(hex, 1, 64, pipe) == 64;
    if (pipe != nullptr)
        pclose(pipe);
    return read ? hex : "";
}

// Edits a checksum file and, when resign is set, recomputes its self-check as anyone can.
void editChecksums(const std::string& path, std::string_view from, std::string_view to,
                   bool resign) {
    std::string text = readFile(path);
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    if (resign) {
        text.erase(text.rfind("# self-sha256: "));
        text += "# self-sha256: " + sha256Hex(text) + "\n";
    }
    writeFile(path, text);
}

TEST_F(CliTest, ChecksumFilesNeverChooseWhatIsWrittenAndDamageNeverTurnsChecksOff) {
    struct Attack {
        const char* name;
        const char* command; // repair, verify or join, on the set's first part
        const char* from;    // the checksum file's edit
        const char* to;
        bool resign;
        const char* refusal;
        std::size_t junk = 0;              // bytes appended after the edit
        const char* file = "movie.tolvar"; // the file edited: the companion, or the plain one
    };
    const Attack attacks[] = {
        {"a recovery line naming the user's file", "repair", "  movie.r01\n", "  thesis.txt\n",
         true, "it lists 'thesis.txt' where the set has 'movie.r01'"},
        {"a recovery line naming the checksum file", "repair", "  movie.r01\n", "  movie.sha256\n",
         true, "it lists 'movie.sha256' where the set has 'movie.r01'"},
        {"a recovery line naming a good part", "repair", "  movie.r01\n", "  movie.001\n", true,
         "it lists 'movie.001' where the set has 'movie.r01'"},
        {"a part line out of the set's range", "repair", "  movie.003\n", "  movie.009\n", true,
         "it lists 'movie.009' where the set has 'movie.003'"},
        {"a name in another folder", "repair", "  movie.r01\n", "  ../outside/victim.txt\n", true,
         "names a file outside its folder"},
        {"a damaged checksum file, verified", "verify", "part-size: 4", "part-size: 5", false,
         "is damaged: its own checksum does not match"},
        {"a damaged checksum file, joined", "join", "part-size: 4", "part-size: 5", false,
         "is damaged: its own checksum does not match its contents, so the broken files cannot "
         "be checked against it. Nothing was assembled. To join the broken files with their "
         "usual checks only, give --no-checksums, or move the checksum file away."},
        {"a damaged first line, joined", "join", "# Tolvar", "# Tolvir", false, "is damaged"},
        // Past the size bound, as below it, a file that opens as ours is ours and damaged.
        {"5 MB of junk appended, verified", "verify", "", "", false, "is damaged", 5'000'000},
        {"5 MB of junk appended, joined", "join", "", "", false, "is damaged", 5'000'000},
        {"the plain file grown by 5 MB, joined", "join", "", "", false,
         "movie.sha256' is damaged: it is too large", 5'000'000, "movie.sha256"},
        {"the plain file altered, verified", "verify", "movie.001", "movie.002", false,
         "movie.sha256' is damaged: it is not as", 0, "movie.sha256"},
    };
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.name);
        ScratchDir root;
        const std::string dir = root.path("set");
        const std::string outside = root.path("outside");
        fs::create_directory(dir);
        fs::create_directory(outside);
        writeFile(outside + "/victim.txt", "a file beside the set's folder\n");
        writeFile(dir + "/thesis.txt", "the user's own file\n");
        writeFile(dir + "/movie.avi", randomBytes(30000, 3));
        ASSERT_EQ(runProgram({"split", "-s", "4K", "-r", "2", "-y", dir + "/movie.avi"}).status,
                  kDone);
        fs::remove(dir + "/movie.avi");
        // One part damaged as a copy damages it: a good checksum file would catch it.
        std::string part = readFile(dir + "/movie.001");
        part[2000] ^= 1;
        writeFile(dir + "/movie.001", part);
        const std::string edited = dir + "/" + attack.file;
        editChecksums(edited, attack.from, attack.to, attack.resign);
        if (attack.junk > 0)
            writeFile(edited, readFile(edited) + randomBytes(attack.junk, 5));
        const auto folderBefore = contents(dir);
        const auto outsideBefore = contents(outside);

        const RunResult run = runProgram({attack.command, "--yes", dir + "/movie.000"});
        EXPECT_EQ(run.status, kRefused);
        EXPECT_THAT(run.err, HasSubstr(attack.refusal));
        EXPECT_TRUE(contents(dir) == folderBefore);
        EXPECT_TRUE(contents(outside) == outsideBefore);
    }
}

// With the checksum file set aside by the user, a join has the checks every set has.
TEST_F(CliTest, ASplitOverALargerOlderSetTakesAwayThatSetsOtherFilesAndNothingElse) {
    // Each file by name and digest: a failure lists what differs, not every byte.
    const auto digests = [](const std::string& folder) {
        std::map<std::string, std::string> files;
        for (const auto& [name, bytes] : contents(folder))
            files[name] = sha256Hex(bytes);
        return files;
    };
    const std::string set = scratch.path("set");
    const std::string next = scratch.path("next");
    fs::create_directory(set);
    fs::create_directory(next);
    writeFile(next + "/movie.004", "a neighbour's file");
    const std::string movie = set + "/movie.avi";
    writeFile(movie, randomBytes(7000, 5));
    // The older set: movie.000 to movie.006, movie.r00 to movie.r02 and its checksum file.
    ASSERT_EQ(runProgram({"split", "-s", "1K", "-r", "3", "-y", movie}).status, kDone);
    // Strangers' files at three of its names: no part at all, a part of another set (its count
    // is 9), no recovery part.
    writeFile(set + "/movie.004", "not a broken file");
    std::string otherSet = readFile(set + "/movie.005");
    otherSet.replace(10, 3, "009");
    writeFile(set + "/movie.005", otherSet);
    writeFile(set + "/movie.r02", "not a recovery part");
    const auto before = digests(set);
    const auto neighbours = digests(next);

    // The new set, movie.000 to movie.002 and movie.r00, takes the older set's movie.003,
    // movie.006 and movie.r01 with it; the strangers' files stay byte for byte.
    writeFile(movie, randomBytes(3000, 6));
    ASSERT_EQ(runProgram({"split", "-s", "1K", "-r", "1", "-y", movie}).status, kDone);
    auto expected = before;
    for (const char* gone : {"movie.003", "movie.006", "movie.r01"})
        expected.erase(gone);
    for (const char* written : {"movie.avi", "movie.000", "movie.001", "movie.002", "movie.r00",
                                "movie.sha256", "movie.tolvar"})
        expected[written] = sha256Hex(readFile(set + "/" + written));
    EXPECT_EQ(digests(set), expected);
    EXPECT_EQ(digests(next), neighbours);
    EXPECT_EQ(runProgram({"verify", set + "/movie.000"}).status, kDone);
}

TEST_F(CliTest, AJoinWithoutChecksumsGoesOnWithTheUsualChecks) {
    const std::string file = source("clip.mp4", 5000);
    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", "--checksums", file}).status, kDone);
    const std::string original = readFile(file);
    fs::remove(file);
    editChecksums(scratch.path("clip.tolvar"), "part-size: 1", "part-size: 2", false);
    const RunResult joined = runProgram({"join", "-y", "--no-checksums", scratch.path("clip.000")});
    EXPECT_EQ(joined.status, kDone) << joined.err;
    EXPECT_EQ(readFile(file), original);
    EXPECT_EQ(runProgram({"verify", "--no-checksums", scratch.path("clip.000")}).status, kUsage);
}

// In place, an unchecked set needs --no-checksums, which --yes does not stand for; a checked
// one joins with --yes alone and leaves nothing of the set behind.
TEST_F(CliTest, AnInPlaceJoinAsksForNoChecksumsWhereContentsCannotBeChecked) {
    const std::string file = source("clip.mp4", 5000);
    const std::string original = readFile(file);
    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", "--delete-source", file}).status, kDone);
    const RunResult refused = expectNothingWritten([&] {
        return runProgram({"join", "--in-place", "-y", scratch.path("clip.000")});
    });
    EXPECT_EQ(refused.status, kRefused);
    EXPECT_THAT(refused.err, HasSubstr("give --no-checksums"));
    const RunResult unchecked =
        runProgram({"join", "--in-place", "-y", "--no-checksums", scratch.path("clip.000")});
    EXPECT_EQ(unchecked.status, kDone) << unchecked.err;
    EXPECT_EQ(scratch.listing(), std::vector<std::string>{"clip.mp4"});
    EXPECT_EQ(readFile(file), original);

    ASSERT_EQ(runProgram({"split", "-s", "1", "-y", "-r", "1", "--delete-source", file}).status,
              kDone);
    const RunResult checked = runProgram({"join", "--in-place", "-y", scratch.path("clip.000")});
    EXPECT_EQ(checked.status, kDone) << checked.err;
    EXPECT_THAT(checked.err, HasSubstr("File assembled successfully."));
    EXPECT_EQ(scratch.listing(), std::vector<std::string>{"clip.mp4"});
    EXPECT_EQ(readFile(file), original);
}

TEST_F(CliTest, InfoRefusesWhatIsNotAPart) {
    const std::string plain = scratch.path("notes.txt");
    writeFile(plain, "SPLITKV0"); // the tag, but shorter than a header
    const RunResult shortFile = runProgram({"info", plain});
    EXPECT_EQ(shortFile.status, kRefused);
    EXPECT_EQ(shortFile.err, "tolvar-split: This is not a split file.\n");
    EXPECT_TRUE(shortFile.out.empty());

    const RunResult missing = runProgram({"info", scratch.path("nowhere.000")});
    EXPECT_EQ(missing.status, kRefused);
    EXPECT_THAT(missing.err, HasSubstr("Tolvar Files Splitter - 53: File not found: cannot open '" +
                                       scratch.path("nowhere.000") + "'"));

    const RunResult folder = runProgram({"info", scratch.dir().string()});
    EXPECT_EQ(folder.status, kRefused);
    EXPECT_THAT(folder.err, HasSubstr("Tolvar Files Splitter - 57: "));
}

// ---------------------------------------------------------------------------------------------
// A set anyone can receive: checked with the recipient's own tools, joined without this program

struct ToolRun {
    int status = -1;
    std::string output; // standard output and error together
};

// Runs argv (argv[0] a full path) in dir with nothing in its environment but PATH.
ToolRun runTool(const std::string& dir, const std::vector<std::string>& argv,
                const std::string& path = "/usr/bin:/bin") {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::close(pipeFds[0]);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        std::string pathVar = "PATH=" + path;
        char* env[] = {pathVar.data(), nullptr};
        if (::chdir(dir.c_str()) == 0)
            ::execve(argv[0].c_str(), args.data(), env);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ToolRun run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        run.output.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    return run;
}

// The name of a source a recipient gets, with a space, both quotes and letters beyond ASCII.
const std::string kSentName = "Ann's \"best\" \xc3\xa9t\xc3\xa9 movie.avi";
const std::string kSentBase = "Ann's \"best\" \xc3\xa9t\xc3\xa9 movie.";

// Splits kSentName in dir, a folder of the sender's, with every file a set may have.
void splitForRecipients(const std::string& dir) {
    fs::create_directories(dir);
    writeFile(dir + "/" + kSentName, randomBytes(70000, 9));
    ASSERT_EQ(runProgram({"split", "-s", "16K", "--checksums", "-r", "1", "--join-script", "-y",
                          dir + "/" + kSentName})
                  .status,
              kDone);
}

TEST_F(CliTest, RecipientsCheckANewSetWithTheirOwnToolsAndLearnNoFolderOfTheSender) {
    const std::string folder = scratch.path("home/ann/Private Films");
    splitForRecipients(folder);
    const std::string sums = kSentBase + "sha256";
    for (const auto& [name, bytes] : contents(folder)) {
        EXPECT_EQ(bytes.find(folder), std::string::npos) << name << " holds the sender's folder";
        EXPECT_EQ(bytes.find("Private Films"), std::string::npos) << name;
    }
    const std::vector<std::vector<std::string>> checkers = {
        {"/usr/bin/sha256sum", "-c", sums},
        {"/usr/bin/shasum", "-a", "256", "-c", sums},
        {"/usr/lib/cargo/bin/coreutils/sha256sum", "-c", sums},
        {"/usr/bin/busybox", "sha256sum", "-c", sums},
        {"/usr/bin/7zz", "t", "-thash", sums},
    };
    for (const auto& checker : checkers) {
        SCOPED_TRACE(checker[0] + " " + checker[1]);
        const ToolRun intact = runTool(folder, checker);
        EXPECT_EQ(intact.status, 0) << intact.output;
        for (const char* complaint : {"improperly", "WARNING", "FAILED", "Error", "ERROR"})
            EXPECT_THAT(intact.output, Not(HasSubstr(complaint)));
    }
    std::string part = readFile(folder + "/" + kSentBase + "002");
    part[5000] ^= 1;
    writeFile(folder + "/" + kSentBase + "002", part);
    for (const auto& checker : checkers) {
        SCOPED_TRACE(checker[0] + " " + checker[1]);
        const ToolRun damaged = runTool(folder, checker);
        // uutils 0.0.17 (Debian 12) says FAILED but exits 0; the others exit non-zero too.
        if (checker[0].find("cargo") == std::string::npos) {
            EXPECT_NE(damaged.status, 0);
        }
        EXPECT_THAT(damaged.output, ::testing::AnyOf(HasSubstr("FAILED"), HasSubstr("Errors: 1")));
    }
}

// A folder in which every busybox applet, and nothing else, is on the PATH.
std::string busyboxApplets(const ScratchDir& scratch) {
    const std::string dir = scratch.path("busybox-bin");
    fs::create_directories(dir);
    const ToolRun list = runTool("/", {"/usr/bin/busybox", "--list"});
    std::istringstream names(list.output);
    for (std::string name; std::getline(names, name);)
        fs::create_symlink("/usr/bin/busybox", dir + "/" + name);
    return dir;
}

TEST_F(CliTest, TheJoinScriptRebuildsTheFileUnderDashAndBusyboxAndRefusesBeforeWriting) {
    const std::string sender = scratch.path("sender");
    splitForRecipients(sender);
    const std::string original = readFile(sender + "/" + kSentName);
    fs::remove(sender + "/" + kSentName);
    const std::string applets = busyboxApplets(scratch);
    struct Shell {
        const char* name;
        std::string program;
        std::string path;
    };
    const Shell shells[] = {{"dash", "/usr/bin/dash", "/usr/bin:/bin"},
                            {"busybox sh", applets + "/sh", applets}};
    struct Case {
        const char* what;
        std::function<void(const std::string&)> harm; // done to the recipient's folder
        std::string refusal;                          // empty: the join succeeds
    };
    const Case cases[] = {
        {"an intact set", [](const std::string&) {}, ""},
        {"a damaged part",
         [](const std::string& dir) {
             std::string part = readFile(dir + "/" + kSentBase + "001");
             part[100] ^= 1;
             writeFile(dir + "/" + kSentBase + "001", part);
         },
         kSentBase + "001 is damaged: ask the sender for it again."},
        {"a missing part",
         [](const std::string& dir) { fs::remove(dir + "/" + kSentBase + "003"); },
         kSentBase + "003 is missing: ask the sender for it again."},
        {"an existing output",
         [](const std::string& dir) { writeFile(dir + "/" + kSentName, "the recipient's own"); },
         kSentName + " already exists"},
    };
    for (const Shell& shell : shells) {
        for (const Case& test : cases) {
            SCOPED_TRACE(std::string(shell.name) + ": " + test.what);
            ScratchDir recipient;
            fs::copy(sender, recipient.path("set"));
            const std::string dir = recipient.path("set");
            test.harm(dir);
            const auto before = contents(dir);
            // Run from another folder, as "sh /media/usb/movie.join.sh" would be.
            const ToolRun run =
                runTool(recipient.dir().string(), {shell.program, "set/" + kSentBase + "join.sh"},
                        shell.path);
            if (test.refusal.empty()) {
                EXPECT_EQ(run.status, 0) << run.output;
                EXPECT_TRUE(readFile(dir + "/" + kSentName) == original);
                auto after = contents(dir);
                after.erase(kSentName);
                EXPECT_TRUE(after == before) << "a temporary file was left";
            } else {
                EXPECT_NE(run.status, 0);
                EXPECT_THAT(run.output, HasSubstr(test.refusal));
                EXPECT_THAT(run.output, HasSubstr("Nothing was written."));
                EXPECT_TRUE(contents(dir) == before);
            }
        }
    }
}

// The companion and the join script are names of the set: a stranger's file at one of them is
// never replaced, deleted or trusted.
TEST_F(CliTest, StrangersFilesAtTheSetsOtherNamesAreNeverReplacedOrDeleted) {
    const std::string movie = source("movie.avi", 9000);
    const std::string script = scratch.path("movie.join.sh");
    writeFile(script, "#!/bin/sh\necho the user's own script\n");
    const RunResult refused = expectNothingWritten([&] {
        return runProgram({"split", "-s", "2", "--join-script", "-y", movie});
    });
    EXPECT_EQ(refused.status, kRefused);
    EXPECT_THAT(refused.err, HasSubstr("'" + script + "' is already there and was not written by"));

    ASSERT_EQ(runProgram({"split", "-s", "2", "--checksums", "-y", movie}).status, kDone);
    const std::string companion = scratch.path("movie.tolvar");
    writeFile(companion, "# the user's own notes\n");
    fs::rename(movie, scratch.path("original.avi"));
    const RunResult joined =
        runProgram({"join", "-y", "--delete-parts", scratch.path("movie.000")});
    EXPECT_EQ(joined.status, kDone) << joined.err;
    EXPECT_THAT(joined.err, HasSubstr("'" + companion + "' cannot be used: it was not written by"));
    EXPECT_TRUE(readFile(movie) == readFile(scratch.path("original.avi")));
    EXPECT_EQ(readFile(script), "#!/bin/sh\necho the user's own script\n");
    EXPECT_EQ(readFile(companion), "# the user's own notes\n");
    EXPECT_FALSE(exists(scratch.path("movie.000")));
}

// ---------------------------------------------------------------------------------------------
// Refusals: each with its message, status 1 and nothing written

TEST_F(CliTest, WithoutATerminalAndWithoutYesTheConfirmationIsNo) {
    const std::string file = source("quiet.avi", 5000);
    const RunResult split = expectNothingWritten([&] {
        return runProgram({"split", "--size", "1K", file}, "y\n");
    });
    EXPECT_EQ(split.status, kRefused);
    EXPECT_EQ(split.err,
              "tolvar-split: not confirmed: standard input is not a terminal; use --yes\n");

    ASSERT_EQ(runProgram({"split", "--size", "1K", "--yes", file}).status, kDone);
    fs::remove(file);
    const RunResult join = expectNothingWritten([&] {
        return runProgram({"join", scratch.path("quiet.000")});
    });
    EXPECT_EQ(join.status, kRefused);
    EXPECT_EQ(join.err,
              "tolvar-split: not confirmed: standard input is not a terminal; use --yes\n");
}

TEST_F(CliTest, TheEngineRefusalsKeepTheirWords) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
        std::string message;
    };
    const std::string exact = source("exact.bin", 2048);
    const std::string tooMany = source("many.bin", 1100000);
    const std::string looksLikePart = source("ends.000", 5000);
    ASSERT_EQ(runProgram({"split", "-s", "1K", "-y", source("whole.avi", 5000)}).status, kDone);
    const std::string part = scratch.path("whole.000");
    const std::string plain = source("plain.txt", 100);

    const Row rows[] = {
        {"source no larger than a part",
         {"split", "--size", "2K", "--yes", exact},
         "tolvar-split: This file size is smaller than the selected split size.\n"},
        {"source is already a part",
         {"split", "--size", "1K", "--yes", part},
         "tolvar-split: This file is already splited.\n"},
        {"join from a file that is no part",
         {"join", "--yes", plain},
         "tolvar-split: This is not a split file.\n"},
        {"split needing more than 999 parts",
         {"split", "--size", "1K", "--yes", tooMany},
         "tolvar-split: This split would need 1075 broken files, but a set can hold at most "
         "999. Choose a larger size or fewer broken files.\n"},
        {"more than 999 parts, said before the question it would follow",
         {"split", "--size", "1K", tooMany},
         "tolvar-split: This split would need 1075 broken files, but a set can hold at most "
         "999. Choose a larger size or fewer broken files.\n"},
        {"first part would replace the source",
         {"split", "--size", "1K", "--yes", looksLikePart},
         "tolvar-split: A broken file would replace the file you are splitting. Choose another "
         "place to save the broken files.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const RunResult result = expectNothingWritten([&] { return runProgram(row.args); });
        EXPECT_EQ(result.status, kRefused);
        EXPECT_EQ(result.err, row.message);
    }
}

// The words follow the user's language, arguments in their places; the size is read as ever.
TEST_F(CliTest, SpeaksTheLanguageOfTheUsersLocale) {
    const std::string tooMany = source("many.bin", 1100000);
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("LANGUAGE", "de", 1);
    const RunResult german = runProgram({"split", "--size", "1K", "--yes", tooMany});
    const RunResult help = runProgram({"--help"});
    unsetenv("LANGUAGE");
    unsetenv("LC_ALL");
    EXPECT_EQ(german.status, kRefused);
    EXPECT_EQ(german.err, "tolvar-split: Diese Teilung bräuchte 1075 Teildateien, aber ein Satz "
                          "kann höchstens 999 haben. Wählen Sie eine größere Größe oder weniger "
                          "Teildateien.\n");
    EXPECT_THAT(help.out,
                StartsWith("Aufruf: tolvar-split split (--size GRÖSSE | --parts N | --for NAME)"));
    EXPECT_THAT(help.out, HasSubstr("\n\nRückgabewert:\n  0  erledigt"));
}

TEST_F(CliTest, AJoinStopsAtAPartThatIsNotABrokenFile) {
    ASSERT_EQ(runProgram({"split", "-s", "1K", "-y", source("three.avi", 2500)}).status, kDone);
    fs::remove(scratch.path("three.avi"));
    writeFile(scratch.path("three.001"), "replaced by something else entirely");
    const RunResult join = expectNothingWritten([&] {
        return runProgram({"join", "-y", scratch.path("three.000")});
    });
    EXPECT_EQ(join.status, kRefused);
    EXPECT_EQ(join.err, "tolvar-split: This is not a broken file.\n");
}

TEST_F(CliTest, AJoinStoppedByAWrongIndexSaysWhichPart) {
    ASSERT_EQ(runProgram({"split", "-s", "1K", "-y", source("four.avi", 3500)}).status, kDone);
    fs::remove(scratch.path("four.avi"));

    const RunResult notFirst = expectNothingWritten([&] {
        return runProgram({"join", "-y", scratch.path("four.001")});
    });
    EXPECT_EQ(notFirst.status, kRefused);
    EXPECT_EQ(notFirst.err, "tolvar-split: Not assembled: '" + scratch.path("four.001") +
                                "' is broken file 001 of its set, not the first one; join from '" +
                                scratch.path("four.000") + "'.\n");

    std::string third = readFile(scratch.path("four.002"));
    third.replace(7, 3, "005");
    writeFile(scratch.path("four.002"), third);
    const RunResult wrongIndex = expectNothingWritten([&] {
        return runProgram({"join", "-y", scratch.path("four.000")});
    });
    EXPECT_EQ(wrongIndex.status, kRefused);
    EXPECT_EQ(wrongIndex.err, "tolvar-split: Not assembled: '" + scratch.path("four.002") +
                                  "' carries the index 005 instead of 002.\n");
}

TEST_F(CliTest, AJoinThatWouldOverwriteAPartOrEscapeItsFolderIsRefused) {
    // A source named like a part keeps "001" as its name tail, so the rebuilt file of
    // p.000, p.001, p.002 would be p.001 itself.
    const std::string digits = source("x.001", 2500);
    ASSERT_EQ(runProgram({"split", "-s", "1K", "-y", "-p", scratch.path("p"), digits}).status,
              kDone);
    const RunResult clash = expectNothingWritten([&] {
        return runProgram({"join", "-y", scratch.path("p.000")});
    });
    EXPECT_EQ(clash.status, kRefused);
    EXPECT_EQ(clash.err, "tolvar-split: The assembled file would replace one of its own broken "
                         "files. Choose another place to save the assembled file.\n");

    // A forged header whose name tail would put the rebuilt file in another folder.
    std::string first = readFile(scratch.path("p.000"));
    first.replace(13, 3, "/..");
    writeFile(scratch.path("p.000"), first);
    const RunResult escape = expectNothingWritten([&] {
        return runProgram({"join", "-y", scratch.path("p.000")});
    });
    EXPECT_EQ(escape.status, kRefused);
    EXPECT_EQ(escape.err, "tolvar-split: The broken files carry a name that cannot be used for "
                          "the assembled file.\n");
}

TEST_F(CliTest, ValuesTheWindowRefusesGetItsMessages) {
    const std::string file = source("values.bin", 5000);
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const Row rows[] = {
        {{"split", "--size", "0", "-y", file}, "tolvar-split: Invalid size.\n"},
        {{"split", "--size", "-5K", "-y", file}, "tolvar-split: Invalid size.\n"},
        {{"split", "--parts", "1", "-y", file},
         "tolvar-split: Choose a number between 2 and 50.\n"},
        {{"split", "--parts", "51", "-y", file},
         "tolvar-split: Choose a number between 2 and 50.\n"},
        {{"split", "--parts", "-3", "-y", file},
         "tolvar-split: Choose a number between 2 and 50.\n"},
        {{"split", "--recovery", "101", "-s", "1K", "-y", file},
         "tolvar-split: Choose a number of recovery parts between 1 and 100.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[2] + " " + row.args[3]);
        const RunResult result = expectNothingWritten([&] { return runProgram(row.args); });
        EXPECT_EQ(result.status, kRefused);
        EXPECT_EQ(result.err, row.message);
    }
}

// What the engine would meet only after the confirmation, or after copying, is said first in
// the command line's words: sizes in the unit typed (the rule's bounds are the engine's tests),
// a source named as what it is.
TEST_F(CliTest, InputsNoSetCanComeFromAreRefusedInTheirOwnWords) {
    const std::string file = source("big.bin", 5000);
    ASSERT_EQ(::mkfifo(scratch.path("pipe.avi").c_str(), 0600), 0);
    fs::create_directories(scratch.path("folder.avi"));
    fs::create_directories(scratch.path("out"));
    source("ab", 5000);
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const Row rows[] = {
        {{"split", "-s", "0.4", file}, "A broken file holds at least 1 KB; 0.4 KB rounds to 0 KB."},
        {{"split", "-s", "99999999M", file},
         "A broken file holds at most 2047.999 MB, not 99999999 MB."},
        {{"split", "-s", "1K", scratch.path("pipe.avi")},
         "'" + scratch.path("pipe.avi") + "' is a FIFO, not an ordinary file."},
        {{"split", "-s", "1K", scratch.path("folder.avi")},
         "'" + scratch.path("folder.avi") + "' is a folder, not an ordinary file."},
        {{"join", scratch.path("folder.avi")},
         "'" + scratch.path("folder.avi") + "' is a folder, not an ordinary file."},
        {{"split", "-n", "2", "-p", "out/", "ab"},
         "'ab' cannot be split: its name has fewer than three characters, and the broken files "
         "keep the last three to restore it. Rename the file first."},
    };
    for (Row row : rows) {
        SCOPED_TRACE(row.message);
        row.args.push_back("-y");
        const RunResult result =
            expectNothingWritten([&] { return runProgram(row.args, "", scratch.path("")); });
        EXPECT_EQ(result.status, kRefused);
        EXPECT_EQ(result.err, "tolvar-split: " + row.message + "\n");
    }
}

TEST_F(CliTest, FileFailuresAreReportedWithTheirNumber) {
    const std::string file = source("lost.bin", 5000);
    const RunResult missing = expectNothingWritten([&] {
        return runProgram({"split", "-s", "1K", "-y", scratch.path("absent.bin")});
    });
    EXPECT_EQ(missing.status, kRefused);
    EXPECT_EQ(missing.err, "Tolvar Files Splitter - 53: File not found: cannot open '" +
                               scratch.path("absent.bin") + "' (No such file or directory)\n");

    const RunResult missingPart = expectNothingWritten([&] {
        return runProgram({"join", "-y", scratch.path("absent.000")});
    });
    EXPECT_EQ(missingPart.status, kRefused);
    EXPECT_THAT(missingPart.err, HasSubstr("Tolvar Files Splitter - 53: File not found"));

    const RunResult noFolder = expectNothingWritten([&] {
        return runProgram({"split", "-s", "1K", "-y", "-p", scratch.path("no/such/dir/x"), file});
    });
    EXPECT_EQ(noFolder.status, kRefused);
    EXPECT_THAT(noFolder.err,
                ::testing::StartsWith("Tolvar Files Splitter - 76: Path not found: "));
}

// ---------------------------------------------------------------------------------------------
// The command line itself

TEST_F(CliTest, BadCommandLinesGiveUsageAndStatusTwo) {
    const std::string file = source("args.bin", 5000);
    struct Row {
        std::vector<std::string> args;
        std::string problem;
    };
    const Row rows[] = {
        {{}, "missing command (split, join, info, verify or repair)"},
        {{"join", "--recovery", "2", file}, "--recovery applies to split only"},
        {{"split", "-s", "1K", "--recovery", "two", file},
         "invalid number of recovery parts 'two'"},
        {{"cut", file}, "unknown command 'cut'"},
        {{"split", "--force", "-s", "1K", file}, "unknown option '--force'"},
        {{"split", "-x", "-s", "1K", file}, "unknown option '-x'"},
        {{"split", file, "--size"}, "--size needs a value"},
        {{"split", file}, "split needs --size SIZE, --parts N or --for NAME"},
        {{"split", "--for", "dvd", "-s", "1K", file},
         "--for chooses the size itself: give it without --size and --parts"},
        {{"split", "--for", "floppy", file}, "unknown destination 'floppy' (see --for list)"},
        {{"join", "--for", "dvd", file}, "--for applies to split only"},
        {{"split", file, "-s", "1K", "-n", "3"}, "split takes either --size or --parts, not both"},
        {{"split", "-s", "1K"}, "split needs FILE"},
        {{"split", "-s", "1K", file, file}, "unexpected argument '" + file + "'"},
        {{"split", "-s", "1K", "--delete-parts", file}, "--delete-parts applies to join only"},
        {{"join", "--delete-source", file}, "--delete-source applies to split only"},
        {{"join", "--size", "1K", file}, "--size applies to split only"},
        {{"info", "--prefix", "x", file}, "--prefix applies to split and join only"},
        {{"split", "--yes=1", "-s", "1K", file}, "--yes takes no value"},
        {{"split", "-s", "abc", "-y", file},
         "invalid size 'abc' (a number with an optional unit K or M)"},
        {{"split", "-s", "10G", "-y", file},
         "invalid size '10G' (a number with an optional unit K or M)"},
        {{"split", "-n", "2.5", "-y", file}, "invalid number of parts '2.5'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.problem);
        const RunResult result = expectNothingWritten([&] { return runProgram(row.args); });
        EXPECT_EQ(result.status, kUsage);
        EXPECT_THAT(result.err, ::testing::StartsWith("tolvar-split: " + row.problem + "\n"));
        EXPECT_THAT(result.err, HasSubstr("Usage: tolvar-split split"));
        EXPECT_THAT(result.err, HasSubstr("Try 'tolvar-split --help'"));
        EXPECT_TRUE(result.out.empty());
    }
}

TEST_F(CliTest, HelpAndVersion) {
    const RunResult help = runProgram({"--help"});
    EXPECT_EQ(help.status, kDone);
    EXPECT_TRUE(help.err.empty());
    for (const char* topic : {"Usage: tolvar-split split", "tolvar-split join", "tolvar-split info",
                              "tolvar-split verify", "--checksums", "--size SIZE", "--parts N",
                              "--prefix PREFIX", "--delete-source", "--delete-parts", "--for NAME",
                              "--for list", "\"max\"", "Exit status:"})
        EXPECT_THAT(help.out, HasSubstr(topic));

    // --help wins over a line that is otherwise wrong, as with most tools.
    const RunResult helpAmongJunk = runProgram({"cut", "--bogus", "-h"});
    EXPECT_EQ(helpAmongJunk.status, kDone);
    EXPECT_EQ(helpAmongJunk.out, help.out);

    const RunResult version = runProgram({"--version"});
    EXPECT_EQ(version.status, kDone);
    EXPECT_EQ(version.out, "tolvar-split 2.0\n");
    EXPECT_TRUE(version.err.empty());
}

// ---------------------------------------------------------------------------------------------
// On a terminal

TEST_F(CliTest, OnATerminalTheQuestionsAreAskedAndProgressIsShown) {
    if (!terminalsAvailable())
        GTEST_SKIP() << "no pseudo-terminal available";
    const std::string movie = source("tty.avi", 30000);
    const RunResult split =
        runOnTerminal({"split", "--size", "1K", movie},
                      {{"Are you sure you want to split this file? [y/N] ", "y\n"},
                       {"Would you like to delete the original file? [y/N] ", "n\n"}});
    EXPECT_EQ(split.status, kDone) << split.err;
    EXPECT_THAT(split.err, HasSubstr("Splitting done successfully."));
    // The progress line: bytes done and total, redrawn in place.
    EXPECT_THAT(split.err, HasSubstr("\r0 B / 29.3 KiB"));
    EXPECT_THAT(split.err, HasSubstr("29.3 KiB / 29.3 KiB"));
    EXPECT_TRUE(exists(movie));
    EXPECT_TRUE(exists(scratch.path("tty.029")));

    fs::remove(movie);
    const RunResult join =
        runOnTerminal({"join", scratch.path("tty.000")},
                      {{"Are you sure you want to assemble these files? [y/N] ", "yes\n"},
                       {"Do you want to delete the broken files? [y/N] ", "Y\n"}});
    EXPECT_EQ(join.status, kDone) << join.err;
    EXPECT_EQ(sizeOf(movie), 30000u);
    EXPECT_FALSE(exists(scratch.path("tty.000")));
}

TEST_F(CliTest, OnATerminalNoOrCtrlCDeclines) {
    if (!terminalsAvailable())
        GTEST_SKIP() << "no pseudo-terminal available";
    const std::string movie = source("decline.avi", 5000);
    const std::vector<std::string> before = scratch.listing();

    const RunResult no =
        runOnTerminal({"split", "--size", "1K", movie},
                      {{"Are you sure you want to split this file? [y/N] ", "\n"}});
    EXPECT_EQ(no.status, kRefused);
    EXPECT_THAT(no.err, HasSubstr("tolvar-split: not confirmed"));
    EXPECT_EQ(scratch.listing(), before);

    // Ctrl+C typed at the prompt: the terminal sends SIGINT, which answers No.
    const RunResult interrupted =
        runOnTerminal({"split", "--size", "1K", movie},
                      {{"Are you sure you want to split this file? [y/N] ", "\x03"}});
    EXPECT_EQ(interrupted.status, kRefused);
    EXPECT_THAT(interrupted.err, HasSubstr("tolvar-split: interrupted"));
    EXPECT_EQ(scratch.listing(), before);

    // --yes on a terminal answers the confirmation and keeps the source without asking.
    const RunResult yes = runOnTerminal({"split", "--size", "1K", "--yes", movie}, {});
    EXPECT_EQ(yes.status, kDone) << yes.err;
    EXPECT_THAT(yes.err, Not(HasSubstr("[y/N]")));
    EXPECT_TRUE(exists(movie));
}

} // namespace
} // namespace tolvar::clitest
