// Splitting in place: the set it leaves is a plain split's, byte for byte; every file call
// failed in turn, or a kill at every step, loses nothing and the same split finishes; what a
// stranger plants is never acted on; and on a real, nearly full tmpfs it fits where a plain
// split does not.

#include "room_check.h"
#include "split_in_place.h"
#include "test_support.h"

#include <map>
#include <sys/mount.h>
#include <sys/wait.h>

namespace tolvar::testing {
namespace {

constexpr std::size_t kLength = 5000;

struct Shape {
    const char* name;
    SplitRule rule;
    std::int32_t amount;
    int recoveryParts;
    bool checksums;
    bool joinScript;
};

// Named in test listings by its name, not its bytes.
void PrintTo(const Shape& shape, std::ostream* out) {
    *out << shape.name;
}

const Shape kShapes[] = {
    {"BySize", SplitRule::Kilobytes, 1, 0, false, false},
    {"ByNumberWithEverything", SplitRule::NumberOfParts, 3, 2, true, true},
    {"ExactMultipleWithChecksums", SplitRule::Kilobytes, 1, 0, true, false},
};

SplitOptions optionsOf(const Shape& shape, bool inPlace) {
    SplitOptions options;
    options.recoveryParts = shape.recoveryParts;
    options.writeChecksums = shape.checksums || shape.recoveryParts > 0;
    options.writeJoinScript = shape.joinScript;
    options.inPlace = inPlace;
    return options;
}

bool runSplit(FileSystem& fs, ScriptedMessageBox& box, const std::string& source,
              const Shape& shape, bool inPlace) {
    box.reset({MsgAnswer::Yes});
    box.answerRestWith(MsgAnswer::No);
    OperationContext context{box, fs};
    const SplitOptions options = optionsOf(shape, inPlace);
    return shape.rule == SplitRule::Kilobytes
               ? SplitFile(source, shape.amount, "", source, context, options)
               : SplitFile2(source, shape.amount, "", source, context, options);
}

std::string contentOf(const Shape& shape) {
    // The exact multiple ends with a header-only part, the shape a cut to nothing must keep.
    return randomBytes(shape.name[0] == 'E' ? 4096 : kLength, 7);
}

// Whether the folder holds exactly the files expected, byte for byte; names the first that
// differs.
::testing::AssertionResult holdsExactly(const ScratchDir& dir,
                                        const std::map<std::string, std::string>& expected) {
    std::set<std::string> names;
    for (const auto& entry : expected)
        names.insert(entry.first);
    if (listDir(dir.path()) != names)
        return ::testing::AssertionFailure()
               << "files " << ::testing::PrintToString(listDir(dir.path())) << ", expected "
               << ::testing::PrintToString(names);
    for (const auto& [name, content] : expected)
        if (readFile(dir / name) != content)
            return ::testing::AssertionFailure() << name << " differs";
    return ::testing::AssertionSuccess();
}

// The source as a plain split found it: same bytes, same time.
void plantSource(const ScratchDir& dir, const Shape& shape) {
    writeFile(dir / "movie.avi", contentOf(shape));
    const timespec times[2] = {{1700000000, 5}, {1700000000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "movie.avi").c_str(), times, 0), 0);
}

class InPlaceShape : public ::testing::TestWithParam<Shape> {
protected:
    void SetUp() override {
        ScratchDir reference;
        plantSource(reference, GetParam());
        ScopedStateFolder state;
        auto box = scriptedBox();
        ASSERT_TRUE(runSplit(defaultFileSystem(), box, reference / "movie.avi", GetParam(), false));
        for (const auto& name : listDir(reference.path()))
            if (name != "movie.avi")
                expected[name] = readFile(reference / name);
    }
    std::map<std::string, std::string> expected;
};

TEST_P(InPlaceShape, LeavesAPlainSplitsFilesAndNoSource) {
    StateFolder state;
    ScratchDir dir;
    plantSource(dir, GetParam());
    auto box = scriptedBox();
    ASSERT_TRUE(runSplit(defaultFileSystem(), box, dir / "movie.avi", GetParam(), true))
        << ::testing::PrintToString(box.shown());
    EXPECT_TRUE(holdsExactly(dir, expected));
    EXPECT_EQ(state.count(), 0u);
    // No question about the source: it is gone.
    EXPECT_EQ(box.shown().size(), 1u);
}

// Every file call failed in turn, with the errors a disk gives: whatever the first run did,
// the file's bytes are all still there, and the same split run again leaves the plain
// split's files.
TEST_P(InPlaceShape, EveryCallFailedLosesNothingAndTheSameSplitFinishes) {
    FaultyFileSystem fs;
    std::uint64_t calls = 0;
    {
        StateFolder state;
        ScratchDir dir;
        plantSource(dir, GetParam());
        auto box = scriptedBox();
        fs.resetCounts();
        ASSERT_TRUE(runSplit(fs, box, dir / "movie.avi", GetParam(), true));
        calls = fs.totalCalls();
    }
    for (const int err : {EIO, ENOSPC}) {
        for (std::uint64_t nth = 1; nth <= calls; ++nth) {
            StateFolder state;
            ScratchDir dir;
            plantSource(dir, GetParam());
            auto box = scriptedBox();
            fs.clearFaults();
            fs.resetCounts();
            fs.failNthCall(nth, err);
            const bool first = runSplit(fs, box, dir / "movie.avi", GetParam(), true);
            ASSERT_TRUE(fs.fault().has_value());
            SCOPED_TRACE("call " + std::to_string(nth) + " (" + fsCallName(fs.fault()->kind) +
                         ") failed with " + std::strerror(err));
            EXPECT_EQ(fs.openCount(), 0u);
            if (!first) {
                fs.clearFaults();
                auto again = scriptedBox();
                ASSERT_TRUE(runSplit(fs, again, dir / "movie.avi", GetParam(), true))
                    << ::testing::PrintToString(again.shown());
            }
            ASSERT_TRUE(holdsExactly(dir, expected));
            // The next command removes a finished split's journal that could not go.
            detail::finishInterruptedRuns(defaultFileSystem());
            EXPECT_EQ(state.count(), 0u);
        }
    }
}

// A layer that ends the process, as a kill would, at its nth step of those that change the
// disk: a file created, a rename, an unlink, a cut, a flush.
struct KillingFileSystem : PosixFileSystem {
    int countdown;
    explicit KillingFileSystem(int n) : countdown(n) {}
    void step() {
        if (--countdown == 0)
            ::_exit(9);
    }
    int openAt(int folder, const std::string& name, int flags, mode_t mode) override {
        if ((flags & O_CREAT) != 0)
            step();
        return PosixFileSystem::openAt(folder, name, flags, mode);
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
    int truncate(int fd, off_t length) override {
        step();
        return PosixFileSystem::truncate(fd, length);
    }
    int fsync(int fd) override {
        step();
        return PosixFileSystem::fsync(fd);
    }
};

// Killed at every step in turn, then killed again one step further into the same split run
// again: every other command says it is unfinished, and the same split finishes it.
TEST_P(InPlaceShape, KilledAtEveryStepTheSameSplitFinishes) {
    for (int step = 1;; ++step) {
        SCOPED_TRACE("killed at step " + std::to_string(step));
        StateFolder state;
        ScratchDir dir;
        plantSource(dir, GetParam());
        bool finished = false, firstFinished = false;
        for (int kill : {step, step + 1}) {
            const pid_t child = ::fork();
            if (child == 0) {
                KillingFileSystem fs(kill);
                auto box = ScriptedMessageBox({}, [](const std::string&) {});
                box.answerRestWith(MsgAnswer::Yes);
                ::_exit(runSplit(fs, box, dir / "movie.avi", GetParam(), true) ? 0 : 1);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            finished = WEXITSTATUS(status) == 0;
            firstFinished = firstFinished || (finished && kill == step);
            if (finished)
                break;
            ASSERT_EQ(WEXITSTATUS(status), 9);
            const auto notes = detail::finishInterruptedRuns(defaultFileSystem());
            const bool said = std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
                return n.find("is unfinished") != std::string::npos;
            });
            EXPECT_EQ(said, state.count() > 0);
        }
        if (!finished) {
            auto box = scriptedBox();
            ASSERT_TRUE(runSplit(defaultFileSystem(), box, dir / "movie.avi", GetParam(), true))
                << ::testing::PrintToString(box.shown());
        }
        EXPECT_TRUE(holdsExactly(dir, expected));
        EXPECT_EQ(state.count(), 0u);
        if (firstFinished)
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, InPlaceShape, ::testing::ValuesIn(kShapes),
                         [](const auto& row) { return std::string(row.param.name); });

// What a stranger can put in the folder is never acted on: a file at one of our hidden-looking
// names stays, and one at a name of the set stops the split before anything is cut. A journal
// of an in-place split of another file that had the same name is not gone on with.
TEST(InPlaceSplit, LeavesWhatOthersPutThereAlone) {
    const Shape& shape = kShapes[0];
    StateFolder state;
    ScratchDir dir;
    plantSource(dir, shape);
    const std::string content = readFile(dir / "movie.avi");
    writeFile(dir / ".tolvar-abc1234.tmp", "planted");
    writeFile(dir / "movie.003", "someone's");
    auto box = scriptedBox();
    EXPECT_FALSE(runSplit(defaultFileSystem(), box, dir / "movie.avi", shape, true));
    ASSERT_EQ(box.shown().size(), 2u);
    EXPECT_NE(box.shown()[1].text.find("movie.003"), std::string::npos);
    EXPECT_EQ(readFile(dir / "movie.avi"), content);
    EXPECT_EQ(listDir(dir.path()),
              (std::set<std::string>{".tolvar-abc1234.tmp", "movie.003", "movie.avi"}));
    EXPECT_EQ(state.count(), 0u);

    // A journal naming this file's name, but of another file, with a hidden name it began.
    std::filesystem::remove(dir / "movie.003");
    struct stat folder {};
    ASSERT_EQ(::stat(dir.path().c_str(), &folder), 0);
    detail::JournalContents other;
    other.owner.host = "elsewhere";
    other.operation = "split";
    other.folder = std::filesystem::canonical(dir.path());
    other.folderDevice = folder.st_dev;
    other.folderInode = folder.st_ino;
    other.intended = {".tolvar-abc1234.tmp"};
    other.inPlaceSplit = detail::InPlaceSplitRecord{};
    other.inPlaceSplit->source = "movie.avi";
    other.inPlaceSplit->original = {folder.st_dev, 1, 5000, std::string(64, 'a')};
    other.inPlaceSplit->amount = 1;
    other.inPlaceSplit->base = "movie.";
    state.plant(other);
    box.reset({MsgAnswer::Yes});
    box.answerRestWith(MsgAnswer::No);
    OperationContext context{box, defaultFileSystem()};
    SplitOptions options;
    options.inPlace = true;
    ASSERT_TRUE(SplitFile(dir / "movie.avi", 1, "", dir / "movie.avi", context, options));
    EXPECT_EQ(readFile(dir / ".tolvar-abc1234.tmp"), "planted");
    EXPECT_TRUE(isPartSet(dir / "movie.", content, 1024, "avi"));
    // Its journal is not this run's to remove.
    EXPECT_EQ(state.count(), 1u);
}

// Cut under one name, a file with hard links would be emptied under the others.
TEST(InPlaceSplit, RefusesAFileWithOtherNames) {
    StateFolder state;
    ScratchDir dir;
    plantSource(dir, kShapes[0]);
    const std::string content = readFile(dir / "movie.avi");
    ASSERT_EQ(::link((dir / "movie.avi").c_str(), (dir / "other.avi").c_str()), 0);
    auto box = scriptedBox();
    EXPECT_FALSE(runSplit(defaultFileSystem(), box, dir / "movie.avi", kShapes[0], true));
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"movie.avi", "other.avi"}));
    EXPECT_EQ(readFile(dir / "other.avi"), content);
    EXPECT_EQ(state.count(), 0u);
}

// A real tmpfs with room for the file and one broken file more: a plain split runs out of
// room, the room check says only in place fits, and in place the set is whole.
TEST(InPlaceSplit, FitsOnANearlyFullTmpfs) {
    ScratchDir dir;
    const std::string mount = dir / "small";
    std::filesystem::create_directory(mount);
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=2200k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mount};
    StateFolder state;
    const std::string content = randomBytes(1800 * 1024, 3);
    writeFile(mount + "/movie.avi", content);
    SplitOptions options;
    EXPECT_EQ(
        splitRoom(defaultFileSystem(), mount + "/movie.avi", "", SplitRule::Kilobytes, 256, options)
            .verdict,
        SplitRoom::FitsOnlyInPlace);

    auto box = scriptedBox();
    box.reset({MsgAnswer::Yes});
    box.answerRestWith(MsgAnswer::No);
    OperationContext context{box, defaultFileSystem()};
    EXPECT_FALSE(SplitFile(mount + "/movie.avi", 256, "", mount + "/movie.avi", context, options));
    EXPECT_EQ(readFile(mount + "/movie.avi"), content);

    // The command line's way: refused before anything is written, naming what the plain split
    // needs, what is free and what in place needs, which is less.
    options.whenOnlyInPlace = SplitOptions::WhenOnlyInPlace::Suggest;
    box.reset({});
    EXPECT_FALSE(SplitFile(mount + "/movie.avi", 256, "", mount + "/movie.avi", context, options));
    const SplitRoomCheck room = splitRoom(defaultFileSystem(), mount + "/movie.avi", "",
                                          SplitRule::Kilobytes, 256, options);
    EXPECT_LT(room.inPlace, room.free);
    EXPECT_LT(room.free, room.plain);
    ASSERT_EQ(box.shown().size(), 1u);
    EXPECT_EQ(box.shown()[0].text,
              "There is no room to split '" + mount +
                  "/movie.avi' beside it: the broken files need " + roomInWords(room.plain) +
                  ", and " + roomInWords(room.free) +
                  " are free. Shortened as each broken file is written, it needs room only for its "
                  "largest broken file plus the recovery and checksum files: " +
                  roomInWords(room.inPlace) +
                  ". Add --in-place to split it that way; the original file is gone when the split "
                  "ends.");
    EXPECT_EQ(readFile(mount + "/movie.avi"), content);

    // The window's way: the question, No by default, stands for the confirmation.
    options.whenOnlyInPlace = SplitOptions::WhenOnlyInPlace::Ask;
    box.reset({MsgAnswer::Yes});
    ASSERT_TRUE(SplitFile(mount + "/movie.avi", 256, "", mount + "/movie.avi", context, options))
        << ::testing::PrintToString(box.shown());
    ASSERT_FALSE(box.shown().empty());
    EXPECT_EQ(box.shown()[0].question, QuestionKind::SplitInPlace);
    EXPECT_EQ(box.shown()[0].style, MsgStyle::QuestionDefaultNo);
    EXPECT_TRUE(isPartSet(mount + "/movie.", content, 256 * 1024, "avi"));
    EXPECT_FALSE(exists(mount + "/movie.avi"));
}

} // namespace
} // namespace tolvar::testing
