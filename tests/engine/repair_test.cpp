// Repairing a set: any N lost or damaged files of it come back byte for byte and in place;
// more than N, or anything that cannot be trusted, changes nothing.

#include "join_plan.h"
#include "recovery.h"
#include "repair.h"
#include "run_journal.h"
#include "sha256.h"
#include "test_support.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

namespace tolvar::testing {
namespace {

using Outcome = RepairReport::Outcome;
using Files = std::map<std::string, std::string>;

Files snapshot(const ScratchDir& dir) {
    Files files;
    for (const auto& name : listDir(dir.path()))
        files[name] = std::filesystem::is_directory(dir / name) ? "<folder>" : readFile(dir / name);
    return files;
}

// A split set with its recovery parts and a checksum file listing both, written beside them.
struct RepairableSet {
    RepairableSet(std::size_t length, std::int32_t kilobytes, int recovery, std::uint32_t seed)
        : source(randomBytes(length, seed)), recovery(recovery) {
        writeFile(dir / "movie.avi", source);
        auto box = scriptedBox({MsgAnswer::Yes, MsgAnswer::No});
        OperationContext context{box};
        EXPECT_TRUE(
            SplitFile(dir / "movie.avi", kilobytes, "", dir / "movie.avi", context, {recovery}));
        std::filesystem::remove(dir / "movie.avi");
        partSize = std::uint64_t(kilobytes) * 1024;
        writeChecksums();
        names.clear();
        for (const auto& [name, bytes] : snapshot(dir))
            if (name != "movie.sha256")
                names.push_back(name);
        whole = snapshot(dir);
    }

    void writeChecksums() {
        ChecksumFile file;
        file.program = checksumProgramName();
        file.sourcePath = dir / "movie.avi";
        file.sourceSize = source.size();
        file.partSize = partSize;
        file.wholeDigest = sha256Of(source);
        const int count = int(source.size() / partSize + 1);
        for (int i = 0; i < count; ++i)
            file.parts.push_back(
                {partName("movie.", i), sha256Of(readFile(partName(dir / "movie.", i)))});
        for (int j = 0; j < recovery; ++j) {
            const std::string name = RecoveryFileName("movie.", j);
            file.recovery.push_back({name, sha256Of(readFile(dir / name))});
        }
        writeFile(dir / "movie.sha256", formatChecksumFile(file));
    }

    // Damages the file in one of the ways a copy goes wrong.
    void damage(const std::string& name, std::mt19937& random) {
        const std::string path = dir / name;
        std::string bytes = readFile(path);
        switch (random() % 6) {
        case 0:
            std::filesystem::remove(path);
            return;
        case 1:
            bytes[random() % bytes.size()] ^= char(1 + random() % 255);
            break;
        case 2:
            bytes.resize(random() % bytes.size());
            break;
        case 3:
            bytes += "appended";
            break;
        case 4:
            bytes = "no broken file at all";
            break;
        case 5: { // another file of the set under this name
            const auto at =
                std::size_t(std::find(names.begin(), names.end(), name) - names.begin());
            bytes = whole.at(names[(at + 1) % names.size()]);
            if (bytes == readFile(path))
                bytes += "x";
            break;
        }
        }
        writeFile(path, bytes);
    }

    Result<RepairReport> repair(FileSystem& fs = defaultFileSystem()) const {
        return RepairSet(dir / names.front(), fs);
    }

    ScratchDir dir;
    std::string source;
    int recovery;
    std::uint64_t partSize = 0;
    std::vector<std::string> names; // broken files and recovery parts
    Files whole;
};

TEST(Repair, AnyNDamagedOrLostFilesAreRebuiltInPlace) {
    std::mt19937 random(20261208);
    for (int run = 0; run < 30; ++run) {
        const std::int32_t kilobytes = 1 + std::int32_t(random() % 16);
        const std::size_t length = 1 + random() % (std::size_t(kilobytes) * 1024 * 30);
        if (length <= std::size_t(kilobytes) * 1024)
            continue;
        const int recovery = 1 + int(random() % 4);
        RepairableSet set(length, kilobytes, recovery, std::uint32_t(random()));
        SCOPED_TRACE("run " + std::to_string(run) + ": " + std::to_string(length) + " bytes in " +
                     std::to_string(kilobytes) + " KB parts, " + std::to_string(recovery) +
                     " recovery parts");
        std::vector<std::string> victims = set.names;
        std::shuffle(victims.begin(), victims.end(), random);
        // Up to N: all rebuilt. One more: beyond repair, nothing touched.
        const bool tooMany = run % 4 == 3 && int(set.names.size()) > recovery;
        victims.resize(tooMany ? std::size_t(recovery + 1) : 1 + random() % std::size_t(recovery));
        for (const auto& name : victims)
            set.damage(name, random);
        const Files damaged = snapshot(set.dir);

        const auto report = set.repair();
        ASSERT_TRUE(report) << report.failure().description;
        if (tooMany) {
            EXPECT_EQ(report.value().outcome, Outcome::BeyondRepair);
            EXPECT_TRUE(snapshot(set.dir) == damaged);
            continue;
        }
        EXPECT_EQ(report.value().outcome, Outcome::Repaired) << report.value().message;
        EXPECT_EQ(report.value().rebuilt.size(), victims.size());
        EXPECT_TRUE(snapshot(set.dir) == set.whole) << "the set differs after repair";
    }
}

// Each file is looked at by opening it: no stat before the open, which would be a second
// look-up of every name and a window for the file to change between the two.
TEST(Repair, WholeSetIsLeftAlone) {
    RepairableSet set(50000, 8, 2, 3);
    FaultyFileSystem fs;
    const auto report = set.repair(fs);
    ASSERT_TRUE(report);
    EXPECT_EQ(report.value().outcome, Outcome::Whole);
    EXPECT_EQ(report.value().verdicts.size(), set.names.size());
    EXPECT_TRUE(snapshot(set.dir) == set.whole);
    EXPECT_EQ(fs.calls(FsCall::Stat) + fs.calls(FsCall::Lstat), 0u);

    fs.resetCounts();
    const auto found = findRecoveryParts(fs, set.dir / "movie.", 7);
    ASSERT_TRUE(found);
    EXPECT_EQ(found.value().size(), 2u);
    EXPECT_EQ(fs.calls(FsCall::Open), 2u);
    EXPECT_EQ(fs.calls(FsCall::Stat) + fs.calls(FsCall::Lstat), 0u);
}

// The one plan of a set reaches one verdict whichever file of it is chosen, and whether it is
// read in one call or planned to its headers first and deepened.
TEST(Repair, EveryFileOfASetLeadsItsPlanToOneVerdict) {
    RepairableSet set(50000, 8, 2, 17);
    std::filesystem::remove(set.dir / "movie.002");
    FileSystem& fs = defaultFileSystem();
    const auto conditions = [](const JoinPlan& plan) {
        std::vector<PartCondition> found;
        for (const PartVerdict& verdict : plan.verdict.verdicts)
            found.push_back(verdict.condition);
        return found;
    };
    const JoinPlan join = planJoin(fs, {set.dir / "movie.000", "", PlanFor::Join});
    EXPECT_EQ(join.outcome, JoinOutcome::RebuildPossible);
    EXPECT_TRUE(join.verdict.contentsChecked && join.verdict.repairable);
    EXPECT_EQ(join.lostBrokenFiles(), std::vector<std::string>{"movie.002"});

    JoinPlan deepened =
        planJoin(fs, {set.dir / "movie.000", "", PlanFor::Join, PlanDepth::Headers});
    EXPECT_EQ(deepened.outcome, JoinOutcome::Ready);
    EXPECT_FALSE(deepened.verdict.contentsChecked);
    checkJoinContents(fs, deepened, nullptr);
    EXPECT_EQ(deepened.outcome, JoinOutcome::RebuildPossible);
    EXPECT_EQ(conditions(deepened), conditions(join));

    for (const char* chosen : {"movie.000", "movie.004", "movie.r01"}) {
        SCOPED_TRACE(chosen);
        const JoinPlan check = planJoin(fs, {set.dir / chosen, "", PlanFor::Check});
        EXPECT_EQ(check.outcome, JoinOutcome::Ready);
        EXPECT_TRUE(check.verdict.contentsChecked && check.verdict.repairable);
        EXPECT_EQ(conditions(check), conditions(join));
    }
}

// A lost file is named by its set's names; a name outside the set changes nothing.
TEST(Repair, TheChosenNameMayBeALostFileButMustBeOneOfTheSets) {
    RepairableSet set(50000, 8, 2, 7);
    std::filesystem::remove(set.dir / "movie.003");
    const Files lost = snapshot(set.dir);

    const auto outside = RepairSet(set.dir / "movie.009", defaultFileSystem());
    ASSERT_TRUE(outside) << outside.failure().description;
    EXPECT_EQ(outside.value().outcome, Outcome::Refused);
    EXPECT_NE(outside.value().message.find("is not a file of the set"), std::string::npos);
    const auto nothing = RepairSet(set.dir / "other.000", defaultFileSystem());
    ASSERT_FALSE(nothing);
    EXPECT_EQ(nothing.failure().kind, FailureKind::FileNotFound);
    EXPECT_TRUE(snapshot(set.dir) == lost);

    const auto repaired = RepairSet(set.dir / "movie.003", defaultFileSystem());
    ASSERT_TRUE(repaired) << repaired.failure().description;
    EXPECT_EQ(repaired.value().outcome, Outcome::Repaired) << repaired.value().message;
    EXPECT_TRUE(snapshot(set.dir) == set.whole);
}

// A recovery part's own header names its set, with the set's first part gone.
TEST(Repair, ARecoveryPartNamesItsSetWhenTheFirstPartIsLost) {
    RepairableSet set(50000, 8, 2, 13);
    std::filesystem::remove(set.dir / "movie.000");
    const auto report = RepairSet(set.dir / "movie.r01", defaultFileSystem());
    ASSERT_TRUE(report) << report.failure().description;
    EXPECT_EQ(report.value().outcome, Outcome::Repaired) << report.value().message;
    EXPECT_TRUE(snapshot(set.dir) == set.whole);
}

// The checksum file and recovery parts of an earlier split agree with each other; when the
// chosen part of the newer set under the same names has lost its header, the newer set's other
// parts still say the checksum file is not theirs, and none of them is rewritten.
TEST(Repair, AnEarlierSplitsChecksumsNeverRewriteANewerSet) {
    RepairableSet older(4500, 1, 5, 11); // five parts, as many recovery parts
    ScratchDir newer;
    writeFile(newer / "movie.avi", randomBytes(2500, 12));
    auto box = scriptedBox({MsgAnswer::Yes, MsgAnswer::No});
    OperationContext context{box};
    ASSERT_TRUE(SplitFile(newer / "movie.avi", 1, "", newer / "movie.avi", context));
    for (int i = 0; i < 5; ++i)
        std::filesystem::remove(partName(older.dir / "movie.", i));
    for (int i = 0; i < 3; ++i)
        writeFile(partName(older.dir / "movie.", i), readFile(partName(newer / "movie.", i)));
    std::string first = readFile(older.dir / "movie.000");
    first[0] = 'X';
    writeFile(older.dir / "movie.000", first);
    const Files before = snapshot(older.dir);

    // Nor when the name chosen is one of the earlier split's own recovery parts, whose header
    // agrees with the checksum file.
    for (const char* chosen : {"movie.000", "movie.001", "movie.r00"}) {
        const auto report = RepairSet(older.dir / chosen, defaultFileSystem());
        ASSERT_TRUE(report) << report.failure().description;
        EXPECT_EQ(report.value().outcome, Outcome::Refused) << chosen;
        EXPECT_TRUE(snapshot(older.dir) == before) << chosen;
    }
}

// A chosen part whose header was damaged to name another count is what the user wants
// repaired: the set's other parts bear the checksum file out.
TEST(Repair, AChosenPartWhoseHeaderNamesAnotherSetIsRebuilt) {
    RepairableSet set(50000, 8, 2, 14);
    std::string part = readFile(set.dir / "movie.001");
    part.replace(10, 3, "009");
    writeFile(set.dir / "movie.001", part);
    const auto report = RepairSet(set.dir / "movie.001", defaultFileSystem());
    ASSERT_TRUE(report) << report.failure().description;
    EXPECT_EQ(report.value().outcome, Outcome::Repaired) << report.value().message;
    EXPECT_TRUE(snapshot(set.dir) == set.whole);
}

// Without trustworthy checksums, or with a rebuilt file that fails them, nothing changes.
TEST(Repair, RefusesWhatItCannotTrust) {
    const std::vector<std::pair<const char*, std::function<void(RepairableSet&)>>> cases = {
        {"no checksum file",
         [](RepairableSet& s) { std::filesystem::remove(s.dir / "movie.sha256"); }},
        {"a damaged checksum file",
         [](RepairableSet& s) {
             std::string text = readFile(s.dir / "movie.sha256");
             text[text.size() / 2] ^= 1;
             writeFile(s.dir / "movie.sha256", text);
         }},
        {"a folder at a part's name",
         [](RepairableSet& s) {
             std::filesystem::remove(s.dir / "movie.002");
             std::filesystem::create_directory(s.dir / "movie.002");
         }},
        {"recovery parts of another shape",
         [](RepairableSet& s) {
             const int count = int(s.source.size() / s.partSize + 1);
             std::vector<std::string> parts, created;
             for (int i = 0; i < count; ++i)
                 parts.push_back(partName(s.dir / "movie.", i));
             const RecoveryLayout other{count, 2, std::int64_t(s.partSize),
                                        std::int64_t(s.source.size()) - 1, "avi"};
             ASSERT_TRUE(
                 writeRecoveryParts(defaultFileSystem(), other, parts, s.dir / "movie.", created));
             s.writeChecksums();
         }},
        {"a checksum the rebuilt file cannot match",
         [](RepairableSet& s) {
             writeFile(s.dir / "movie.003", "not what was split");
             s.writeChecksums();
         }},
    };
    for (const auto& [name, spoil] : cases) {
        SCOPED_TRACE(name);
        RepairableSet set(50000, 8, 2, 5);
        spoil(set);
        std::filesystem::remove(set.dir / "movie.003");
        const Files before = snapshot(set.dir);
        const auto report = set.repair();
        ASSERT_TRUE(report) << report.failure().description;
        EXPECT_EQ(report.value().outcome, Outcome::Refused);
        EXPECT_FALSE(report.value().message.empty());
        EXPECT_TRUE(snapshot(set.dir) == before);
    }
}

// Every file call of a repair failed in turn: each file is then as damaged or as rebuilt, no
// temporary file is left and no descriptor stays open.
TEST(Repair, EveryFailedCallLeavesEachFileDamagedOrWhole) {
    RepairableSet set(10000, 4, 2, 9);
    std::filesystem::remove(set.dir / "movie.001");
    writeFile(set.dir / "movie.r01", "damaged");
    const Files damaged = snapshot(set.dir);
    FaultyFileSystem fs;
    ASSERT_TRUE(set.repair(fs));
    const std::uint64_t calls = fs.totalCalls();
    // Which error it is matters to the message only, which each point checks; one will do.
    for (const int err : {EIO}) {
        for (std::uint64_t nth = 1; nth <= calls; ++nth) {
            for (const auto& [name, bytes] : snapshot(set.dir))
                if (damaged.count(name) == 0)
                    std::filesystem::remove(set.dir / name);
            for (const auto& [name, bytes] : damaged)
                writeFile(set.dir / name, bytes);
            fs.clearFaults();
            fs.resetCounts();
            fs.failNthCall(nth, err);
            const int descriptors = openDescriptorCount();
            const auto report = set.repair(fs);
            ASSERT_TRUE(fs.fault()) << "call " << nth;
            SCOPED_TRACE(std::string(fsCallName(fs.fault()->kind)) + " call " +
                         std::to_string(nth) + " failed with " + std::strerror(err));
            EXPECT_EQ(openDescriptorCount(), descriptors);
            EXPECT_EQ(fs.openCount(), 0u);
            if (!report) {
                EXPECT_EQ(report.failure().err, err);
            }
            // A backup that would not go is the next run's to remove; nothing else is left.
            detail::finishInterruptedRuns(defaultFileSystem());
            const Files now = snapshot(set.dir);
            for (const auto& [name, bytes] : now) {
                const auto was = damaged.find(name);
                const auto good = set.whole.find(name);
                EXPECT_TRUE((was != damaged.end() && was->second == bytes) ||
                            (good != set.whole.end() && good->second == bytes))
                    << name;
            }
            if (report && report.value().outcome == Outcome::Repaired) {
                EXPECT_TRUE(now == set.whole);
            }
        }
    }
}

} // namespace
} // namespace tolvar::testing
