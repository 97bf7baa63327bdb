// Joining in place: whatever stops the run (a failing file call, a kill at any call), the next
// command finishes it and the file comes out byte for byte; nothing planted in the folder is
// ever taken for the run's own files.

#include "faulty_file_system.h"
#include "files.h"
#include "in_place_join.h"
#include "interrupted_runs.h"
#include "join_plan.h"
#include "run_journal.h"
#include "scratch_dir.h"
#include "test_support.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvar::testing {
namespace {

constexpr std::size_t kFileSize = 9000; // five parts of 2 KiB

// A set in a folder of its own: five broken files of one file, with or without checksum and
// recovery files.
struct InPlaceSet {
    ScratchDir dir;
    std::string where;
    std::string original = randomBytes(kFileSize, 7);

    explicit InPlaceSet(bool withChecksums) : where(dir.path()) {
        const std::string& at = where;
        writeFile(at + "/movie.avi", original);
        auto box = scriptedBox({MsgAnswer::Yes, MsgAnswer::Yes});
        OperationContext context{box};
        SplitOptions options;
        options.writeChecksums = withChecksums;
        options.recoveryParts = withChecksums ? 1 : 0;
        EXPECT_TRUE(SplitFile(at + "/movie.avi", 2, "", at + "/movie.avi", context, options));
        EXPECT_FALSE(std::filesystem::exists(at + "/movie.avi"));
    }
    std::string chosen() const { return where + "/movie.000"; }
};

// The command a user runs: join the set whose first broken file is chosen in place, Yes to
// every question. True when the file is in place.
bool joinInPlaceAgain(FileSystem& fs, const std::string& chosen,
                      std::vector<ShownMessage>* shown = nullptr) {
    auto box = scriptedBox();
    box.answerRestWith(MsgAnswer::Yes);
    OperationContext context{box, fs};
    JoinPlan plan = planJoin(fs, {chosen, {}, PlanFor::Join, PlanDepth::Headers});
    InPlaceOptions options;
    options.uncheckedConfirmed = true;
    const JoinEnd end = joinInPlace(plan, context, options);
    if (shown != nullptr)
        *shown = box.shown();
    return end == JoinEnd::Joined;
}

// The file whole under its name, nothing else in the folder, no journal left.
::testing::AssertionResult joinedWhole(const InPlaceSet& set, const StateFolder& state) {
    const auto left = listDir(set.where);
    if (left != std::set<std::string>{"movie.avi"})
        return ::testing::AssertionFailure() << "left: " << ::testing::PrintToString(left);
    if (readFile(set.where + "/movie.avi") != set.original)
        return ::testing::AssertionFailure() << "the rebuilt file differs";
    if (state.count() != 0)
        return ::testing::AssertionFailure() << state.count() << " journals left";
    return ::testing::AssertionSuccess();
}

class InPlaceJoinFaults : public ::testing::TestWithParam<bool> {};

// Every file call failing in turn, then the same join again through the real file layer.
TEST_P(InPlaceJoinFaults, EveryCallFailingIsFinishedByTheNextJoin) {
    FaultyFileSystem fs;
    std::uint64_t calls = 0;
    {
        StateFolder state;
        InPlaceSet set(GetParam());
        fs.resetCounts();
        ASSERT_TRUE(joinInPlaceAgain(fs, set.chosen()));
        calls = fs.totalCalls();
        ASSERT_TRUE(joinedWhole(set, state));
    }
    for (const int err : {EIO}) {
        for (std::uint64_t nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE("call " + std::to_string(nth) + " failing with " + std::to_string(err));
            StateFolder state;
            InPlaceSet set(GetParam());
            fs.clearFaults();
            fs.resetCounts();
            fs.failNthCall(nth, err);
            std::vector<ShownMessage> shown;
            const bool joined = joinInPlaceAgain(fs, set.chosen(), &shown);
            ASSERT_TRUE(fs.fault().has_value());
            SCOPED_TRACE(std::string(fsCallName(fs.fault()->kind)) + " of " +
                         ::testing::PrintToString(fs.fault()->paths));
            // A failure is said, never swallowed; a fault the run could do without is none.
            if (!joined) {
                EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const ShownMessage& m) {
                    return m.style == MsgStyle::Critical;
                })) << ::testing::PrintToString(shown);
            }
            // The next command: its clean-up first, then, unless the file is in place, the
            // same join again.
            finishInterruptedRuns(defaultFileSystem());
            if (std::filesystem::exists(set.chosen()) || state.count() != 0) {
                EXPECT_TRUE(joinInPlaceAgain(defaultFileSystem(), set.chosen(), &shown))
                    << ::testing::PrintToString(shown);
            }
            EXPECT_TRUE(joinedWhole(set, state));
            if (HasFailure())
                return;
        }
    }
    std::printf("%llu fault points, each followed by the next command\n",
                static_cast<unsigned long long>(calls));
}

INSTANTIATE_TEST_SUITE_P(Sets, InPlaceJoinFaults, ::testing::Values(true, false),
                         [](const auto& row) { return row.param ? "Checked" : "Unchecked"; });

// Killed at every file call of the run, then the next command: the file comes out whole.
TEST(InPlaceJoinKilled, AtEveryCallIsFinishedByTheSameJoin) {
    std::uint64_t calls = 0;
    {
        StateFolder state;
        InPlaceSet set(true);
        FaultyFileSystem fs;
        ASSERT_TRUE(joinInPlaceAgain(fs, set.chosen()));
        calls = fs.totalCalls();
    }
    int killedMidway = 0;
    for (std::uint64_t step = 1; step <= calls; ++step) {
        SCOPED_TRACE("killed at call " + std::to_string(step));
        StateFolder state;
        InPlaceSet set(true);
        const pid_t child = ::fork();
        if (child == 0) {
            FaultyFileSystem fs;
            std::uint64_t count = 0;
            fs.beforeEachCall([&](FsCall, const std::string&) {
                if (++count == step)
                    ::_exit(9);
            });
            ::_exit(joinInPlaceAgain(fs, set.chosen()) ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 1);
        // The next command is, in turn, another one (whose clean-up leaves the run's files
        // alone and says how to finish it) before the same join, or the same join at once.
        const bool partsGone = !std::filesystem::exists(set.chosen());
        if (step % 2 == 0) {
            const auto notes = finishInterruptedRuns(defaultFileSystem());
            if (partsGone && state.count() != 0) {
                ++killedMidway;
                ASSERT_EQ(notes.size(), 1u);
            }
        }
        if (std::filesystem::exists(set.chosen()) || state.count() != 0) {
            EXPECT_TRUE(joinInPlaceAgain(defaultFileSystem(), set.chosen()));
        }
        EXPECT_TRUE(joinedWhole(set, state));
        if (HasFailure())
            return;
    }
    EXPECT_GT(killedMidway, 5);
    std::printf("killed at %llu calls; another command found %d of them unfinished\n",
                static_cast<unsigned long long>(calls), killedMidway);
}

// The name of the run's hidden temporary in folder, the one hidden file there not planted.
std::string hiddenIn(const std::string& folder, const std::string& planted) {
    for (const auto& name : listDir(folder))
        if (name.starts_with(".tolvar-") && name != planted)
            return name;
    return {};
}

// Stopped after its second broken file; the set and the journal as the run left them.
void stopAfterTwoParts(const InPlaceSet& set) {
    const pid_t child = ::fork();
    if (child == 0) {
        FaultyFileSystem fs;
        fs.beforeEachCall([&](FsCall kind, const std::string& path) {
            if (kind == FsCall::Unlink && path.ends_with("movie.001"))
                ::_exit(9);
        });
        ::_exit(joinInPlaceAgain(fs, set.chosen()) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

// Files that look like the run's own, planted in the folder (a hidden temporary, a journal)
// or put at the run's hidden name after it stopped: never acted on.
TEST(InPlaceJoinHostile, PlantedFilesAreNeverTakenForTheRunsOwn) {
    StateFolder state;
    InPlaceSet set(true);
    writeFile(set.where + "/.tolvar-abcdefg.tmp", "someone's");
    writeFile(set.where + "/run-1-abcdefghij.journal", "tolvar-journal-2");
    stopAfterTwoParts(set);
    ASSERT_FALSE(std::filesystem::exists(set.chosen()));
    const std::string hidden = hiddenIn(set.where, ".tolvar-abcdefg.tmp");
    ASSERT_FALSE(hidden.empty());
    const std::string temporary = set.where + "/" + hidden;
    const std::string written = readFile(temporary);

    // Another file at the run's hidden name, of the same length: the join refuses to pick up
    // and changes nothing; no clean-up removes it either.
    const std::string stranger = randomBytes(written.size(), 99);
    std::filesystem::remove(temporary);
    writeFile(temporary, stranger);
    const auto before = listDir(set.where);
    std::vector<ShownMessage> shown;
    EXPECT_FALSE(joinInPlaceAgain(defaultFileSystem(), set.chosen(), &shown));
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const ShownMessage& m) {
        return m.text.find("cannot be picked up") != std::string::npos;
    })) << ::testing::PrintToString(shown);
    finishInterruptedRuns(defaultFileSystem());
    EXPECT_EQ(listDir(set.where), before);
    EXPECT_EQ(readFile(temporary), stranger);

    // The run's own file back at its name: the join finishes, and the planted files stay.
    writeFile(temporary, written);
    EXPECT_TRUE(joinInPlaceAgain(defaultFileSystem(), set.chosen()));
    EXPECT_EQ(readFile(set.where + "/.tolvar-abcdefg.tmp"), "someone's");
    EXPECT_EQ(readFile(set.where + "/run-1-abcdefghij.journal"), "tolvar-journal-2");
    EXPECT_EQ(readFile(set.where + "/movie.avi"), set.original);
}

// A set whose contents cannot be checked is joined in place only on a second Yes.
TEST(InPlaceJoinChecks, WithoutAChecksumFileTheUserIsAskedAgain) {
    StateFolder state;
    InPlaceSet set(false);
    const auto before = listDir(set.where);
    auto box = scriptedBox({MsgAnswer::Yes, MsgAnswer::No});
    OperationContext context{box};
    JoinPlan plan = planJoin(context.fs, {set.chosen(), {}, PlanFor::Join, PlanDepth::Headers});
    EXPECT_EQ(joinInPlace(plan, context, {}), JoinEnd::Declined);
    ASSERT_EQ(box.shown().size(), 2u);
    EXPECT_EQ(box.shown()[1].question, QuestionKind::InPlaceUnchecked);
    EXPECT_EQ(listDir(set.where), before);
    EXPECT_EQ(state.count(), 0u);
}

// A damaged broken file is found before any is deleted: repaired from the recovery file when
// it can be, else the join refuses and changes nothing.
TEST(InPlaceJoinChecks, DamageIsRepairedFirstOrRefusedWithNothingChanged) {
    for (const bool repairable : {true, false}) {
        SCOPED_TRACE(repairable ? "repairable" : "beyond repair");
        StateFolder state;
        InPlaceSet set(true);
        for (const char* name : {"/movie.003", "/movie.001"}) {
            std::string bytes = readFile(set.where + name);
            bytes[100] = static_cast<char>(bytes[100] ^ 1);
            writeFile(set.where + name, bytes);
            if (repairable)
                break;
        }
        const auto before = listDir(set.where);
        const bool joined = joinInPlaceAgain(defaultFileSystem(), set.chosen());
        EXPECT_EQ(joined, repairable);
        if (repairable)
            EXPECT_TRUE(joinedWhole(set, state));
        else
            EXPECT_EQ(listDir(set.where), before);
    }
}

// A real small disk: room for the set and one broken file more, not for the set and the file.
TEST(InPlaceJoinRoom, JoinsOnADiskWithRoomForOneMorePart) {
    StateFolder state;
    ScratchDir root;
    const std::string disk = root / "disk";
    std::filesystem::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=400k") != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{disk};
    // Split elsewhere (the source and its set would not fit together), then moved in: five
    // broken files of 60 KiB take 320 KiB of the disk's pages, the checksum files 8 KiB.
    ScratchDir elsewhere;
    const std::string original = randomBytes(300 * 1024, 5);
    writeFile(elsewhere / "movie.avi", original);
    auto box = scriptedBox({MsgAnswer::Yes, MsgAnswer::Yes});
    OperationContext context{box};
    SplitOptions options;
    options.writeChecksums = true;
    ASSERT_TRUE(
        SplitFile(elsewhere / "movie.avi", 60, "", elsewhere / "movie.avi", context, options));
    for (const auto& name : listDir(elsewhere.path()))
        std::filesystem::copy_file(elsewhere / name, disk + "/" + name);
    JoinPlan plan =
        planJoin(context.fs, {disk + "/movie.000", {}, PlanFor::Join, PlanDepth::Headers});
    const JoinRoom room = roomForJoin(context.fs, plan);
    EXPECT_TRUE(room.fitsOnlyInPlace())
        << room.plain << " " << room.inPlace << " " << room.free.value_or(0);
    // Rebuilt into another folder, even on the same disk, deleting the broken files as they
    // go cannot be offered: an in-place join puts the file beside them.
    std::filesystem::create_directory(disk + "/out");
    const JoinPlan elsewherePlan = planJoin(
        context.fs, {disk + "/movie.000", disk + "/out/movie.", PlanFor::Join, PlanDepth::Headers});
    ASSERT_EQ(elsewherePlan.output, disk + "/out/movie.avi");
    EXPECT_FALSE(roomForJoin(context.fs, elsewherePlan).fitsOnlyInPlace());
    std::filesystem::remove(disk + "/out");
    EXPECT_TRUE(joinInPlaceAgain(context.fs, disk + "/movie.000"));
    EXPECT_EQ(listDir(disk), std::set<std::string>{"movie.avi"});
    EXPECT_EQ(readFile(disk + "/movie.avi"), original);
}

} // namespace
} // namespace tolvar::testing
