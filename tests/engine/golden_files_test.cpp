// Golden files: sets written once and checked in under tests/engine/golden, so that a change
// to the recovery code's matrix, its interleave of groups or a header's layout fails here
// instead of leaving every recovery file already on a user's disk unusable. Each build must
// split the same source into the same bytes, and repair the checked-in sets byte for byte.
//
// The files were made by GoldenFiles.DISABLED_WriteThem, run by hand:
//   tolvar_engine_tests --gtest_also_run_disabled_tests --gtest_filter='*WriteThem'
// Never run it to make a failing test pass: the files users already have do not change with
// the code.

#include "join_plan.h"
#include "recovery.h"
#include "repair.h"
#include "test_support.h"

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace tolvar::testing {
namespace {

const std::string kGoldenDir = TOLVAR_GOLDEN_DIR;

struct GoldenSet {
    const char* folder;  // under kGoldenDir
    std::size_t length;  // of the source, golden.bin
    std::int32_t parts;  // as asked of a split by number of parts
    bool partsCheckedIn; // false: only the recovery and checksum files are kept in git
    int format;          // of its checksum files: 1, one file with "#" lines; 2, two files
};

const GoldenSet kSets[] = {
    // Five broken files of 1080 bytes (no whole number of the code's 64-byte strides), the
    // last holding 3: one group.
    {"five-parts", 4323, 4, true, 1},
    // 254 broken files of 4 bytes: more data blocks than one group of 253 holds beside two
    // recovery blocks, so two interleaved groups.
    {"two-groups", 1013, 253, false, 1},
    // The five broken files again, with today's plain checksum file, its companion and the
    // join script.
    {"five-parts-format-2", 4323, 4, true, 2},
};
constexpr int kRecovery = 2;

// The source's bytes come from a fixed formula, as do its permission bits and time.
std::string goldenSource(std::size_t length) {
    std::string bytes(length, '\0');
    std::uint32_t state = 20260101;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Splits the set's source in dir with checksums and recovery files, as today's build does.
void splitGolden(const GoldenSet& set, const ScratchDir& dir) {
    const std::string source = dir / "golden.bin";
    writeFile(source, goldenSource(set.length));
    ASSERT_EQ(::chmod(source.c_str(), 0644), 0);
    const timespec modified[2] = {{1767225600, 0}, {1767225600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), modified, 0), 0);
    auto box = scriptedBox({MsgAnswer::Yes, MsgAnswer::No});
    OperationContext context{box};
    ASSERT_TRUE(SplitFile2(source, set.parts, "", source, context, {kRecovery, true, true}));
}

// golden.000 and on; not golden.r00, golden.sha256, golden.tolvar, golden.join.sh or the
// source.
bool isBrokenFileName(const std::string& name) {
    return name.find_first_not_of("0123456789", 7) == std::string::npos;
}

bool checkedIn(const GoldenSet& set, const std::string& name) {
    return name != "golden.bin" && (set.partsCheckedIn || !isBrokenFileName(name));
}

std::map<std::string, std::string> filesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& name : listDir(folder))
        files[name] = readFile(folder + "/" + name);
    return files;
}

// The lines of text that are checksums, without "#" lines.
std::vector<std::string> checksumLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (text[at] != '#')
            lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// A checksum file's lines, with the values that name where, when and by which version a split
// ran (and the self-check over them) left out.
std::vector<std::string> lastingLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        for (const std::string_view key : {"# program: ", "# source: ", "# self-sha256: "})
            if (line.starts_with(key))
                line.resize(key.size());
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

TEST(GoldenFiles, DISABLED_WriteThem) {
    for (const GoldenSet& set : kSets) {
        if (set.format != 2) // what earlier versions wrote stays as they wrote it
            continue;
        ScratchDir dir;
        splitGolden(set, dir);
        const std::string folder = kGoldenDir + "/" + set.folder;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        for (const auto& [name, bytes] : filesIn(dir.path()))
            if (checkedIn(set, name))
                writeFile(folder + "/" + name, bytes);
    }
}

TEST(GoldenFiles, ASplitOfTheSameSourceWritesTheSameBytes) {
    for (const GoldenSet& set : kSets) {
        SCOPED_TRACE(set.folder);
        ScratchDir dir;
        splitGolden(set, dir);
        const auto golden = filesIn(kGoldenDir + "/" + set.folder);
        ASSERT_EQ(golden.size(), (set.partsCheckedIn ? 8u : 3u) + (set.format == 2 ? 2u : 0u));
        for (const auto& [name, bytes] : golden) {
            const std::string written = readFile(dir / name);
            if (name == "golden.sha256" && set.format == 1)
                EXPECT_EQ(checksumLines(written), checksumLines(bytes));
            else if (name == "golden.tolvar")
                EXPECT_EQ(lastingLines(written), lastingLines(bytes));
            else
                EXPECT_TRUE(written == bytes) << name << " differs";
        }
    }
}

enum class Harm { Lost, Altered, Cut };

struct RepairCase {
    const char* what;
    const GoldenSet& set;
    std::vector<std::pair<std::string, Harm>> harms;
};

TEST(GoldenFiles, CheckedInSetsAreRepairedByteForByteAndJoin) {
    const GoldenSet& five = kSets[0];
    const GoldenSet& wide = kSets[1];
    const RepairCase cases[] = {
        {"a middle part lost", five, {{"golden.002", Harm::Lost}}},
        {"the first part altered, the short last one cut",
         five,
         {{"golden.000", Harm::Altered}, {"golden.004", Harm::Cut}}},
        {"a part lost, a recovery file altered",
         five,
         {{"golden.003", Harm::Lost}, {"golden.r01", Harm::Altered}}},
        {"both recovery files", five, {{"golden.r00", Harm::Lost}, {"golden.r01", Harm::Cut}}},
        {"neighbours, one in each group",
         wide,
         {{"golden.100", Harm::Lost}, {"golden.101", Harm::Altered}}},
        {"two of one group", wide, {{"golden.007", Harm::Lost}, {"golden.253", Harm::Lost}}},
        {"today's format: a part lost, another cut",
         kSets[2],
         {{"golden.001", Harm::Lost}, {"golden.004", Harm::Cut}}},
    };
    for (const RepairCase& test : cases) {
        SCOPED_TRACE(test.what);
        // Broken files not kept in git come from this build's split: their checksums in the
        // checked-in checksum file hold them to the golden bytes.
        ScratchDir dir;
        splitGolden(test.set, dir);
        for (const auto& [name, bytes] : filesIn(dir.path()))
            if (!isBrokenFileName(name))
                std::filesystem::remove(dir / name);
        for (const auto& [name, bytes] : filesIn(kGoldenDir + "/" + test.set.folder))
            writeFile(dir / name, bytes);
        const auto whole = filesIn(dir.path());
        for (const auto& [name, harm] : test.harms) {
            std::string bytes = readFile(dir / name);
            std::filesystem::remove(dir / name);
            if (harm == Harm::Cut)
                bytes.pop_back();
            else if (harm == Harm::Altered)
                bytes.back() = static_cast<char>(~bytes.back());
            if (harm != Harm::Lost)
                writeFile(dir / name, bytes);
        }

        const auto report = RepairSet(dir / "golden.000", defaultFileSystem());
        ASSERT_TRUE(report) << report.failure().description;
        EXPECT_EQ(report.value().outcome, RepairReport::Outcome::Repaired)
            << report.value().message;
        EXPECT_TRUE(filesIn(dir.path()) == whole) << "the repaired set differs";

        const JoinPlan verified =
            planJoin(defaultFileSystem(), {dir / "golden.002", {}, PlanFor::Check});
        ASSERT_EQ(verified.outcome, JoinOutcome::Ready);
        EXPECT_TRUE(verified.verdict.contentsChecked);
        for (const PartVerdict& verdict : verified.verdict.verdicts)
            EXPECT_EQ(verdict.condition, PartCondition::Good) << verdict.path;

        // Joined with its parts deleted, the set leaves nothing behind but the file.
        auto box = scriptedBox({MsgAnswer::Yes, MsgAnswer::Yes});
        OperationContext context{box};
        ASSERT_TRUE(AssembleFile(dir / "golden.000", "", context));
        EXPECT_TRUE(readFile(dir / "golden.bin") == goldenSource(test.set.length));
        EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"golden.bin"}));
    }
}

} // namespace
} // namespace tolvar::testing
