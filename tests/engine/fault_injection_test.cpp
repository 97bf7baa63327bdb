// Every file-layer call of every split and assembly path made to fail in turn, with each of
// the errors a disk can give; and the descriptor count after every kind of refusal and
// failure.

#include "checksum_file.h"
#include "file_exists.h"
#include "path_parts.h"
#include "recovery.h"
#include "run_journal.h"
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>

namespace tolvar::testing {
namespace {

constexpr auto Yes = MsgAnswer::Yes;
constexpr auto No = MsgAnswer::No;
constexpr auto Ok = MsgAnswer::Ok;
constexpr int kErrors[] = {ENOSPC, EIO, EACCES, ENOENT};

// Fault points tried by every test of this process, printed when it ends for the record.
std::uint64_t totalFaultPoints = 0;

class FaultCountPrinter : public ::testing::Environment {
public:
    void TearDown() override {
        if (totalFaultPoints > 0)
            std::printf("Fault points tried in all: %llu\n",
                        static_cast<unsigned long long>(totalFaultPoints));
    }
};
[[maybe_unused]] const auto* const printer =
    ::testing::AddGlobalTestEnvironment(new FaultCountPrinter);

enum class Kind { SplitBySize, SplitByNumber, Assemble };
// The ways the engine copies, each forced by refusing the ways before it.
enum class CopyMode { Splice, CopyFileRange, UserSpace };

struct Scenario {
    const char* name;
    Kind kind;
    std::size_t length;
    std::int32_t amount; // KB, or number of parts
    bool answerDelete;
    bool elsewhere = false;      // parts or output in the folder "out"
    bool existingOutput = false; // an old file at the output's name
    bool observe = false;        // a progress observer listens
    int recovery = 0;            // recovery parts beside the set
    bool checksums = false;      // a checksum file beside the set
};

class NeverStop : public ProgressObserver {
public:
    bool onProgress(const Progress&) override { return true; }
};

// One scenario's files, made afresh for each fault point.
class Stage {
public:
    explicit Stage(const Scenario& scenario) : sc(scenario) {
        bytes = randomBytes(sc.length, 31);
        partSize = sc.kind == Kind::SplitByNumber ? sc.length / std::size_t(sc.amount)
                                                  : std::size_t(sc.amount) * 1024;
        partCount = int(sc.length / partSize + 1);
        if (sc.elsewhere)
            std::filesystem::create_directory(dir / "out");
        source = dir / "movie.avi";
        if (sc.kind == Kind::Assemble) {
            // The set is written by hand so that a splitter fault cannot hide here.
            for (int index = 0; index < partCount; ++index) {
                const std::string name = partName(dir / "movie.", index);
                parts.push_back(expectedHeader(index, partCount, "avi") +
                                bytes.substr(std::size_t(index) * partSize, partSize));
                writeFile(name, parts.back());
            }
            recoveryParts = codeRecovery(dir / "movie.");
            prefix = sc.elsewhere ? dir / "out/movie." : "";
            output = sc.elsewhere ? dir / "out/movie.avi" : source;
            if (sc.existingOutput)
                writeFile(output, kOldOutput);
            if (sc.checksums)
                for (const auto& [name, text] : checksumFiles(dir / "movie."))
                    writeFile(name, text);
        } else {
            writeFile(source, bytes);
            prefix = sc.elsewhere ? dir / "out/movie." : "";
            // What the split's recovery parts must hold, computed beside the scratch folder.
            ScratchDir reference;
            for (int index = 0; index < partCount; ++index)
                writeFile(partName(reference / "movie.", index),
                          expectedHeader(index, partCount, "avi") +
                              bytes.substr(std::size_t(index) * partSize, partSize));
            recoveryParts = codeRecovery(reference / "movie.");
            ::stat(source.c_str(), &sourceStat);
            // An older set at the parts' names, one part longer: the split must cost none of it
            // unless it completes, and never the part beyond its own.
            if (sc.existingOutput)
                for (int index = 0; index <= partCount; ++index)
                    writeFile(partName(base(), index), "old part " + std::to_string(index));
        }
        initial = snapshot();
    }

    // The checksum files of the set named after setBase, as a split with checksums writes
    // them: the plain one, then its companion.
    std::vector<std::pair<std::string, std::string>>
    checksumFiles(const std::string& setBase) const {
        ChecksumFile file;
        file.program = checksumProgramName();
        file.sourcePath = fileNameOf(source);
        file.sourceSize = bytes.size();
        file.modifiedSeconds = sourceStat.st_mtim.tv_sec;
        file.modifiedNanoseconds = sourceStat.st_mtim.tv_nsec;
        file.mode = sourceStat.st_mode & 07777;
        file.partSize = partSize;
        file.wholeDigest = sha256Of(bytes);
        for (int index = 0; index < partCount; ++index)
            file.parts.push_back({fileNameOf(partName(setBase, index)),
                                  sha256Of(expectedHeader(index, partCount, "avi") +
                                           bytes.substr(std::size_t(index) * partSize, partSize))});
        for (std::size_t j = 0; j < recoveryParts.size(); ++j)
            file.recovery.push_back(
                {fileNameOf(RecoveryFileName(setBase, int(j))), sha256Of(recoveryParts[j])});
        const std::string plain = formatPlainChecksums(file);
        file.plainDigest = sha256Of(plain);
        return {{checksumFilePath(setBase), plain},
                {companionFilePath(setBase), formatChecksumFile(file)}};
    }

    // The recovery parts the engine writes for the set named after base, already on disk.
    std::vector<std::string> codeRecovery(const std::string& setBase) const {
        if (sc.recovery == 0)
            return {};
        const RecoveryLayout layout{partCount, sc.recovery, std::int64_t(partSize),
                                    std::int64_t(sc.length), "avi"};
        std::vector<std::string> paths, created, contents;
        for (int index = 0; index < partCount; ++index)
            paths.push_back(partName(setBase, index));
        EXPECT_TRUE(writeRecoveryParts(defaultFileSystem(), layout, paths, setBase, created));
        for (const auto& path : created)
            contents.push_back(readFile(path));
        return contents;
    }

    std::string base() const {
        return sc.kind == Kind::Assemble || !sc.elsewhere ? dir / "movie." : prefix;
    }

    bool run(FaultyFileSystem& fs, ScriptedMessageBox& box) {
        NeverStop observer;
        OperationContext context{box, fs, sc.observe ? &observer : nullptr};
        const SplitOptions options{sc.recovery, sc.checksums};
        switch (sc.kind) {
        case Kind::SplitBySize:
            return SplitFile(source, sc.amount, prefix, source, context, options);
        case Kind::SplitByNumber:
            return SplitFile2(source, sc.amount, prefix, source, context, options);
        case Kind::Assemble:
            return AssembleFile(dir / "movie.000", prefix, context);
        }
        return false;
    }

    // Every file below the scratch folder, by path relative to it, with its bytes.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
            const std::string rel = entry.path().lexically_relative(dir.path()).string();
            files[rel] = entry.is_directory() ? "<folder>" : readFile(entry.path().string());
        }
        return files;
    }

    // What a completed operation leaves.
    std::map<std::string, std::string> completed() const {
        std::map<std::string, std::string> files;
        if (sc.elsewhere)
            files["out"] = "<folder>";
        if (sc.kind == Kind::Assemble) {
            files[relative(output)] = bytes;
            if (!sc.answerDelete) {
                for (int index = 0; index < partCount; ++index)
                    files[relative(partName(dir / "movie.", index))] = parts[std::size_t(index)];
                for (std::size_t j = 0; j < recoveryParts.size(); ++j)
                    files[relative(RecoveryFileName(dir / "movie.", int(j)))] = recoveryParts[j];
                if (sc.checksums)
                    for (const auto& [name, text] : checksumFiles(dir / "movie."))
                        files[relative(name)] = text;
            }
            return files;
        }
        if (!sc.answerDelete)
            files["movie.avi"] = bytes;
        for (int index = 0; index < partCount; ++index)
            files[relative(partName(base(), index))] =
                expectedHeader(index, partCount, "avi") +
                bytes.substr(std::size_t(index) * partSize, partSize);
        for (std::size_t j = 0; j < recoveryParts.size(); ++j)
            files[relative(RecoveryFileName(base(), int(j)))] = recoveryParts[j];
        if (sc.checksums)
            for (const auto& [name, text] : checksumFiles(base()))
                files[relative(name)] = text;
        if (sc.existingOutput)
            files[relative(partName(base(), partCount))] = "old part " + std::to_string(partCount);
        return files;
    }

    std::string relative(const std::string& path) const {
        return path.substr(dir.path().size() + 1);
    }

    static constexpr const char* kOldOutput = "the old output, which must survive";
    const Scenario& sc;
    ScratchDir dir;
    std::string bytes, source, prefix, output;
    std::size_t partSize = 0;
    int partCount = 0;
    std::vector<std::string> parts, recoveryParts;
    std::map<std::string, std::string> initial;
    struct stat sourceStat {};
};

std::string describe(const InjectedFault& fault) {
    std::string text = std::string(fsCallName(fault.kind)) + " call " +
                       std::to_string(fault.callNumber) + " failed with " +
                       std::strerror(fault.err) + " on";
    for (const auto& path : fault.paths)
        text += " '" + path + "'";
    return text;
}

// The failure numbers that fit an errno met in a given call.
std::set<int> numbersFor(const InjectedFault& fault) {
    switch (fault.err) {
    case ENOSPC:
        return {61};
    case EIO:
        return {57};
    case EACCES:
        return {70};
    default:
        break;
    }
    // A folder told missing makes a file in it missing, or its path not found.
    if (fault.kind == FsCall::Open && (fault.openFlags & O_TMPFILE) != O_TMPFILE &&
        (fault.openFlags & O_DIRECTORY) != 0)
        return {53, 76};
    if (fault.kind == FsCall::Open)
        return {(fault.openFlags & O_CREAT) != 0 || (fault.openFlags & O_TMPFILE) == O_TMPFILE
                    ? 76
                    : 53};
    if (fault.kind == FsCall::Unlink)
        return {53};
    return {53, 76};
}

// Calls whose failure the engine may shrug off, as long as the result is then right: probes
// for what a name holds, a failed close of a file only read, a file already gone, a pipe for
// splicing (the next way copies), a reservation refused for any reason but a lack of room.
// A file that may be missing from a set (its checksum file, a recovery part) is looked for by
// opening it, so an open told that it is not there is such a probe too.
bool isProbeForOptionalFile(const InjectedFault& fault) {
    if (fault.kind != FsCall::Open || fault.err != ENOENT ||
        (fault.openFlags & O_ACCMODE) != O_RDONLY || fault.paths.empty())
        return false;
    const std::string name = std::filesystem::path(fault.paths.front()).filename().string();
    return name.ends_with(".sha256") || name.ends_with(".tolvar") || name.ends_with(".join.sh") ||
           (name.size() > 4 && name[name.size() - 3] == 'r');
}

// The name rules' probe files, made and removed before an operation writes anything.
bool isNameProbe(const InjectedFault& fault) {
    return std::any_of(fault.paths.begin(), fault.paths.end(), [](const std::string& path) {
        return path.find("/.tolvar-") != std::string::npos &&
               path.find(".probe") != std::string::npos;
    });
}

// A run's journal is a safety net kept outside the folder: removing or closing it, or reading
// one an earlier point left for the next run, may fail without costing the result.
bool touchesOnlyAJournal(const InjectedFault& fault) {
    if (fault.paths.empty())
        return false;
    const std::string name = std::filesystem::path(fault.paths.front()).filename().string();
    if (!name.starts_with("run-") || !name.ends_with(".journal"))
        return false;
    return fault.kind == FsCall::Unlink || fault.kind == FsCall::Close ||
           fault.kind == FsCall::Pread || fault.kind == FsCall::Fstat ||
           (fault.kind == FsCall::Open && (fault.openFlags & O_CREAT) == 0);
}

// What was written is read back through a second descriptor, and once more through a fresh
// one when that read fails (as it does on some FUSE drivers): one failed read there costs
// nothing.
bool readsBackWhatWasWritten(const InjectedFault& fault) {
    if (fault.kind != FsCall::Pread || fault.paths.empty())
        return false;
    const std::string& path = fault.paths.front();
    return path.starts_with("/proc/self/fd/") ||
           std::filesystem::path(path).filename().string().starts_with(".tolvar-");
}

// A join looks for the set's recovery files only to delete them with the parts; one it cannot
// open is named if the user chooses to delete, and costs nothing otherwise.
bool isLookForRecoveryFileKept(const Scenario& sc, const InjectedFault& fault) {
    if (sc.kind != Kind::Assemble || sc.answerDelete || fault.kind != FsCall::Open ||
        (fault.openFlags & O_ACCMODE) != O_RDONLY || fault.paths.empty())
        return false;
    const std::string name = std::filesystem::path(fault.paths.front()).filename().string();
    return name.size() > 4 && name[name.size() - 3] == 'r';
}

bool mayBeAbsorbed(const InjectedFault& fault) {
    if (isNameProbe(fault) || fault.kind == FsCall::Statfs || touchesOnlyAJournal(fault) ||
        readsBackWhatWasWritten(fault))
        return true;
    // Also: the look for leftovers of killed runs, a rename told its file is not there (the
    // next move then refuses to replace what is), and a backup of a replaced file that stays.
    if (fault.kind == FsCall::ListFolder ||
        ((fault.kind == FsCall::Rename || fault.kind == FsCall::RenameNoReplace) &&
         fault.err == ENOENT) ||
        (fault.kind == FsCall::Unlink && fault.paths[0].size() > 4 &&
         fault.paths[0].substr(fault.paths[0].size() - 4) == ".bak"))
        return true;
    return fault.kind == FsCall::Stat || fault.kind == FsCall::Lstat ||
           isProbeForOptionalFile(fault) || fault.kind == FsCall::Pipe ||
           fault.kind == FsCall::SetPipeSize ||
           (fault.kind == FsCall::Preallocate && fault.err != ENOSPC) ||
           (fault.kind == FsCall::Close && (fault.openFlags & O_ACCMODE) == O_RDONLY) ||
           (fault.kind == FsCall::Unlink && fault.err == ENOENT);
}

::testing::AssertionResult reportFits(const Stage& stage, const InjectedFault& fault,
                                      const ShownMessage& report) {
    // A plain checksum file that is not there while its companion lists it is damage to the
    // set's checksums: the join refuses, naming it, before it writes anything.
    const std::string& first = fault.paths.empty() ? std::string() : fault.paths.front();
    if (fault.kind == FsCall::Open && fault.err == ENOENT && first.ends_with(".sha256") &&
        report.style == MsgStyle::Critical && report.title == kTitle &&
        report.text.find(std::filesystem::path(first).filename().string() + "' is damaged") !=
            std::string::npos)
        return ::testing::AssertionSuccess();
    if (report.style != MsgStyle::Critical || report.title.rfind(kTitle + " - ", 0) != 0)
        return ::testing::AssertionFailure()
               << "no failure report: " << ::testing::PrintToString(report);
    std::vector<std::string> paths;
    for (std::string path : fault.paths) {
        // A call on a folder held open is about "<folder>/.", which messages call the folder.
        if (path.ends_with("/."))
            path.resize(path.size() - 2);
        paths.push_back(path);
        // A write to a hidden temporary file, or to an unnamed one (known by its folder), is
        // reported under the name it is written for.
        const std::string folder =
            std::filesystem::path(stage.sc.kind == Kind::Assemble ? stage.output
                                                                  : stage.base() + "000")
                .parent_path()
                .string();
        if (std::filesystem::path(path).filename().string().rfind('.', 0) == 0 || path == folder ||
            path.rfind("/proc/self/fd/", 0) == 0) {
            if (stage.sc.kind == Kind::Assemble)
                paths.push_back(stage.output);
            else
                for (const auto& [name, bytes] : stage.completed())
                    paths.push_back(stage.dir / name);
        }
        // A missing folder is reported as its file missing: the source of a split, the chosen
        // part of a join.
        if (path == stage.dir.path() && fault.err == ENOENT)
            paths.push_back(stage.sc.kind == Kind::Assemble ? stage.dir / "movie.000"
                                                            : stage.source);
    }
    if (std::none_of(paths.begin(), paths.end(), [&](const std::string& path) {
            return !path.empty() && report.text.find("'" + path + "'") != std::string::npos;
        }))
        return ::testing::AssertionFailure() << "\"" << report.text << "\" names none of the files";
    if (mayBeAbsorbed(fault))
        return ::testing::AssertionSuccess();
    const auto numbers = numbersFor(fault);
    const bool numberFits = std::any_of(numbers.begin(), numbers.end(), [&](int number) {
        return report.title == kTitle + " - " + std::to_string(number);
    });
    if (!numberFits)
        return ::testing::AssertionFailure()
               << "title \"" << report.title << "\" has the wrong number";
    if (report.text.find(std::strerror(fault.err)) == std::string::npos)
        return ::testing::AssertionFailure()
               << "\"" << report.text << "\" does not give the reason";
    return ::testing::AssertionSuccess();
}

// Whether a failed run left the files as they must be: nothing lost, nothing half-made.
::testing::AssertionResult filesFit(const Stage& stage, bool deleteAsked) {
    const auto now = stage.snapshot();
    if (!deleteAsked)
        return now == stage.initial
                   ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "files differ from before the operation";
    // Past the copy: the whole result is in place, the source or the parts kept, except that
    // an assembly may have deleted its first parts before failing on the next.
    auto expected = stage.completed();
    if (stage.sc.kind != Kind::Assemble) {
        expected["movie.avi"] = stage.bytes;
        return now == expected ? ::testing::AssertionSuccess()
                               : ::testing::AssertionFailure() << "split set or source wrong";
    }
    bool deletedSoFar = true;
    for (int index = 0; index < stage.partCount; ++index) {
        const std::string name = stage.relative(partName(stage.dir / "movie.", index));
        const bool present = now.count(name) != 0;
        if (present)
            expected[name] = stage.parts[std::size_t(index)];
        if (present && deletedSoFar)
            deletedSoFar = false;
        else if (!present && !deletedSoFar)
            return ::testing::AssertionFailure() << name << " deleted out of order";
    }
    // The recovery parts go after the broken files, in order.
    for (std::size_t j = 0; j < stage.recoveryParts.size(); ++j) {
        const std::string name = stage.relative(RecoveryFileName(stage.dir / "movie.", int(j)));
        const bool present = now.count(name) != 0;
        if (present)
            expected[name] = stage.recoveryParts[j];
        if (present && deletedSoFar)
            deletedSoFar = false;
        else if (!present && !deletedSoFar)
            return ::testing::AssertionFailure() << name << " deleted out of order";
    }
    // The checksum files go last, the plain one first.
    if (stage.sc.checksums)
        for (const auto& [path, text] : stage.checksumFiles(stage.dir / "movie.")) {
            const std::string name = stage.relative(path);
            const bool present = now.count(name) != 0;
            if (present)
                expected[name] = text;
            if (present && deletedSoFar)
                deletedSoFar = false;
            else if (!present && !deletedSoFar)
                return ::testing::AssertionFailure() << name << " deleted out of order";
        }
    return now == expected ? ::testing::AssertionSuccess()
                           : ::testing::AssertionFailure() << "assembled file or parts wrong";
}

// What a completed run leaves when a probe was told, wrongly, that a file is not there: an
// assembly may then leave that recovery part in place, since it cannot know better.
std::map<std::string, std::string> leftByProbe(const Stage& stage, const InjectedFault& fault) {
    auto files = stage.completed();
    if (fault.kind == FsCall::Unlink && exists(fault.paths[0]) &&
        fault.paths[0].find("/.tolvar-") != std::string::npos)
        files[stage.relative(fault.paths[0])] = readFile(fault.paths[0]); // kept, never lost
    if ((fault.kind == FsCall::Lstat && fault.err == ENOENT) || isProbeForOptionalFile(fault))
        for (const auto& path : fault.paths)
            if (const auto was = stage.initial.find(stage.relative(path));
                was != stage.initial.end())
                files.insert(*was);
    return files;
}

void applyCopyMode(FaultyFileSystem& fs, CopyMode mode) {
    fs.clearFaults();
    if (mode != CopyMode::Splice)
        fs.failEvery(FsCall::Splice, EINVAL);
    // The user-space copy stands for an older file system: no kernel copy, no unnamed files.
    if (mode == CopyMode::UserSpace) {
        fs.failEvery(FsCall::CopyFileRange, EXDEV);
        fs.withoutUnnamedFiles(true);
    }
}

ScriptedMessageBox boxFor(const Scenario& sc) {
    ScriptedMessageBox box = scriptedBox({Yes});
    box.answerRestWith(sc.answerDelete ? Yes : No);
    return box;
}

const Message& confirmText(const Scenario& sc) {
    return sc.kind == Kind::Assemble ? messages::kConfirmAssemble : messages::kConfirmSplit;
}
bool isDeleteQuestion(const Scenario& sc, const ShownMessage& shown) {
    const Message& classic =
        sc.kind == Kind::Assemble ? messages::kDeleteParts : messages::kDeleteSource;
    return shown.text.rfind(classic.text(), 0) == 0 && shown.question == classic.question() &&
           shown.style == MsgStyle::QuestionDefaultNo && shown.title == kTitle;
}

// The words after a failed deletion: what the operation achieved, then the files still there.
bool namesWhatIsLeft(const Stage& stage, const ShownMessage& shown) {
    const std::string achieved = stage.sc.kind == Kind::Assemble
                                     ? messages::assembledAs(stage.output)
                                     : std::string(messages::kPartsComplete);
    return shown.style == MsgStyle::Critical && shown.text.rfind(achieved + ", but ", 0) == 0 &&
           shown.text.find("still there") != std::string::npos;
}

void PrintTo(const Scenario& sc, std::ostream* out) {
    *out << sc.name;
}
const char* copyModeName(CopyMode mode) {
    static const char* names[] = {"Splice", "CopyFileRange", "UserSpaceCopy"};
    return names[int(mode)];
}
void PrintTo(CopyMode mode, std::ostream* out) {
    *out << copyModeName(mode);
}

class EveryCall : public ::testing::TestWithParam<std::tuple<Scenario, CopyMode>> {};

TEST_P(EveryCall, FailsCleanlyWithTheRightReport) {
    const auto& [sc, mode] = GetParam();
    FaultyFileSystem fs;

    // A clean run tells how many calls there are to fail.
    std::uint64_t calls = 0;
    {
        ScopedStateFolder state;
        Stage stage(sc);
        applyCopyMode(fs, mode);
        fs.resetCounts();
        auto box = boxFor(sc);
        ASSERT_TRUE(stage.run(fs, box));
        ASSERT_EQ(stage.snapshot(), stage.completed());
        calls = fs.totalCalls();
        ASSERT_GT(calls, 5u);
    }

    std::uint64_t tried = 0;
    int failingPoints = 0;
    for (const int err : kErrors) {
        for (std::uint64_t nth = 1; nth <= calls && failingPoints < 10; ++nth) {
            // Each point keeps its journals to itself: one left for a folder an earlier point
            // removed would wait there for good, read again by every later run.
            ScopedStateFolder state;
            Stage stage(sc);
            applyCopyMode(fs, mode);
            fs.resetCounts();
            fs.failNthCall(nth, err);
            auto box = boxFor(sc);
            const int descriptors = openDescriptorCount();
            const bool result = stage.run(fs, box);
            ++tried;
            ASSERT_TRUE(fs.fault().has_value()) << "call " << nth << " never came";
            const InjectedFault fault = *fs.fault();
            SCOPED_TRACE(describe(fault));
            const bool hadFailure = HasFailure();

            EXPECT_EQ(openDescriptorCount(), descriptors);
            EXPECT_EQ(fs.openCount(), 0u);
            const auto& shown = box.shown();
            ASSERT_FALSE(shown.empty());
            EXPECT_EQ(shown[0], question(confirmText(sc)));
            const bool deleteAsked = shown.size() >= 2 && isDeleteQuestion(sc, shown[1]);
            if (result) {
                EXPECT_TRUE(mayBeAbsorbed(fault) || isLookForRecoveryFileKept(sc, fault))
                    << "the fault went unnoticed";
                EXPECT_EQ(shown.size(), 2u);
                EXPECT_TRUE(deleteAsked);
                // A file a probe missed may still be found, and removed, by a later look.
                const auto left = stage.snapshot();
                EXPECT_TRUE(left == leftByProbe(stage, fault) || left == stage.completed())
                    << "wrong files after success";
            } else {
                const bool leftNamed =
                    deleteAsked && shown.size() == 4 && namesWhatIsLeft(stage, shown.back());
                ASSERT_EQ(shown.size(), (deleteAsked ? 3u : 2u) + (leftNamed ? 1u : 0u))
                    << "one report expected";
                EXPECT_TRUE(reportFits(stage, fault, shown[deleteAsked ? 2 : 1]));
                EXPECT_TRUE(filesFit(stage, deleteAsked));
            }

            // The same files then serve the next operation, as long as they are all there.
            if (!result && (sc.kind != Kind::Assemble || exists(stage.dir / "movie.000"))) {
                applyCopyMode(fs, mode);
                auto again = boxFor(sc);
                EXPECT_TRUE(stage.run(fs, again)) << "the next operation failed";
                EXPECT_TRUE(stage.snapshot() == stage.completed()) << "wrong files after retry";
            }
            if (!hadFailure && HasFailure())
                ++failingPoints;
        }
    }
    totalFaultPoints += tried;
    RecordProperty("fault_points", std::to_string(tried));
    std::printf("%s: %llu fault points tried (%llu calls x %zu errors)\n", sc.name,
                static_cast<unsigned long long>(tried), static_cast<unsigned long long>(calls),
                std::size(kErrors));
}

const Scenario kScenarios[] = {
    {"SplitBySizeKeepSource", Kind::SplitBySize, 2500, 1, false},
    {"SplitBySizeDeleteSource", Kind::SplitBySize, 2500, 1, true},
    {"SplitExactMultipleDeleteSource", Kind::SplitBySize, 2048, 1, true},
    {"SplitByNumberElsewhereObserved", Kind::SplitByNumber, 2501, 3, true, true, false, true},
    {"SplitOverOldSetKeepSource", Kind::SplitBySize, 2500, 1, false, false, true, false, 1, true},
    {"AssembleKeepPartsOverOldOutput", Kind::Assemble, 2500, 1, false, false, true},
    {"AssembleDeleteParts", Kind::Assemble, 2500, 1, true},
    {"AssembleHeaderOnlyLastPart", Kind::Assemble, 2048, 1, true},
    {"AssembleElsewhereOverOldOutputObserved", Kind::Assemble, 2500, 1, true, true, true, true},
    {"SplitWithRecoveryDeleteSource", Kind::SplitBySize, 2500, 1, true, false, false, true, 2},
    {"AssembleDeletePartsAndRecovery", Kind::Assemble, 2500, 1, true, false, false, false, 2},
    {"SplitWithChecksumsAndRecoveryElsewhere", Kind::SplitBySize, 2500, 1, true, true, false, false,
     1, true},
    {"AssembleWithChecksumsDeleteParts", Kind::Assemble, 2500, 1, true, false, false, false, 1,
     true},
};

INSTANTIATE_TEST_SUITE_P(Paths, EveryCall,
                         ::testing::Combine(::testing::ValuesIn(kScenarios),
                                            ::testing::Values(CopyMode::Splice,
                                                              CopyMode::CopyFileRange,
                                                              CopyMode::UserSpace)),
                         [](const auto& paramInfo) {
                             return std::string(std::get<0>(paramInfo.param).name) +
                                    copyModeName(std::get<1>(paramInfo.param));
                         });

// The errors file systems give for a call they do not have at all. The engine works around
// each, except a file system that makes unnamed files but cannot link them: the finished file
// has no name to fall back to, so that run fails cleanly.
struct MissingCall {
    FsCall kind;
    int err;
    bool workedAround = true;
};
constexpr MissingCall kMissingCalls[] = {
    {FsCall::RenameNoReplace, EINVAL},
    {FsCall::RenameNoReplace, EPERM},
    {FsCall::RenameNoReplace, ENOSYS},
    {FsCall::Link, EPERM, false},
    {FsCall::Link, EOPNOTSUPP, false},
    {FsCall::Fchmod, ENOSYS},
    {FsCall::Fchmod, EPERM},
    {FsCall::Fchmod, EOPNOTSUPP},
    {FsCall::Fsync, ENOSYS},
    {FsCall::Fsync, EINVAL},
    {FsCall::Lock, ENOSYS},
    {FsCall::Lock, EOPNOTSUPP},
    {FsCall::Preallocate, EOPNOTSUPP},
    {FsCall::Splice, EOPNOTSUPP},
    {FsCall::CopyFileRange, EOPNOTSUPP},
};

class LackingCalls : public ::testing::TestWithParam<Scenario> {};

// Each such call failing once, at every place it is made, and failing every time, as on a file
// system that lacks it: the operation still completes with exactly the files it should.
TEST_P(LackingCalls, EveryPathStillCompletes) {
    const Scenario& sc = GetParam();
    FaultyFileSystem fs;
    std::map<FsCall, std::uint64_t> calls;
    {
        Stage stage(sc);
        fs.resetCounts();
        auto box = boxFor(sc);
        ASSERT_TRUE(stage.run(fs, box));
        for (const auto& missing : kMissingCalls)
            calls[missing.kind] = fs.calls(missing.kind);
    }
    std::uint64_t tried = 0;
    for (const auto& [kind, err, workedAround] : kMissingCalls) {
        // 0 stands for every call of the kind.
        for (std::uint64_t nth = 0; nth <= calls[kind]; ++nth) {
            SCOPED_TRACE(std::string(fsCallName(kind)) + " " +
                         (nth == 0 ? "always" : "call " + std::to_string(nth)) + " failing with " +
                         std::strerror(err));
            Stage stage(sc);
            fs.clearFaults();
            fs.resetCounts();
            if (nth == 0)
                fs.failEvery(kind, err);
            else
                fs.failNth(kind, nth, err);
            auto box = boxFor(sc);
            const int descriptors = openDescriptorCount();
            const bool result = stage.run(fs, box);
            EXPECT_EQ(openDescriptorCount(), descriptors);
            ++tried;
            if (workedAround || result) {
                EXPECT_TRUE(result) << ::testing::PrintToString(box.shown());
                EXPECT_TRUE(stage.snapshot() == stage.completed()) << "wrong files";
            } else {
                EXPECT_TRUE(isFailureReport(box.shown().back(), FailureKind::PermissionDenied,
                                            {std::strerror(err)}) ||
                            isFailureReport(box.shown().back(), FailureKind::IoError,
                                            {std::strerror(err)}));
                EXPECT_TRUE(stage.snapshot() == stage.initial) << "files changed";
            }
        }
    }
    totalFaultPoints += tried;
}

INSTANTIATE_TEST_SUITE_P(Paths, LackingCalls, ::testing::ValuesIn(kScenarios),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

// Every path on each kind of removable medium, with all the calls it lacks missing at once.
TEST(RemovableMedia, EveryPathCompletesOnEachKind) {
    using Media = FaultyFileSystem::Media;
    for (const Media media : {Media::ExFat, Media::Fat32, Media::Ntfs, Media::NoFsync}) {
        for (const Scenario& sc : kScenarios) {
            SCOPED_TRACE(std::string(sc.name) + " on medium " + std::to_string(int(media)));
            Stage stage(sc);
            FaultyFileSystem fs;
            fs.behaveLike(media);
            auto box = boxFor(sc);
            EXPECT_TRUE(stage.run(fs, box)) << ::testing::PrintToString(box.shown());
            EXPECT_TRUE(stage.snapshot() == stage.completed()) << "wrong files";
        }
    }
}

// A folder on removable media: it refuses to create names holding `character` with `err` (as
// fusefat says EPERM, exfat-fuse ENOENT, ntfs-3g EILSEQ for bytes that are not UTF-8), and
// can claim to be FAT (statfs) or cap each file at `sizeCap` bytes, saying `capErr`.
struct MediaFolder : FaultyFileSystem {
    std::string character;
    int err = EPERM;
    bool fat = false;
    off_t sizeCap = 0;
    int capErr = EFBIG;
    int open(const std::string& path, int flags, mode_t mode = 0) override {
        if ((flags & O_CREAT) != 0 && !character.empty() &&
            std::filesystem::path(path).filename().string().find(character) != std::string::npos) {
            errno = err;
            return -1;
        }
        return FaultyFileSystem::open(path, flags, mode);
    }
    int openAt(int folder, const std::string& name, int flags, mode_t mode = 0) override {
        if ((flags & O_CREAT) != 0 && !character.empty() &&
            name.find(character) != std::string::npos) {
            errno = err;
            return -1;
        }
        return FaultyFileSystem::openAt(folder, name, flags, mode);
    }
    ssize_t write(int fd, const void* data, std::size_t count) override {
        struct stat st {};
        if (sizeCap > 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            if (st.st_size >= sizeCap) {
                errno = capErr;
                return -1;
            }
            count = std::min(count, std::size_t(sizeCap - st.st_size));
        }
        return FaultyFileSystem::write(fd, data, count);
    }
    int statfs(const std::string& path, struct statfs* info) override {
        const int result = FaultyFileSystem::statfs(path, info);
        if (result == 0 && fat)
            info->f_type = 0x4d44;
        return result;
    }
    int fstatfs(int fd, struct statfs* info) override {
        const int result = FaultyFileSystem::fstatfs(fd, info);
        if (result == 0 && fat)
            info->f_type = 0x4d44;
        return result;
    }
};

// A name the folder cannot hold is refused before anything is written, naming the character
// and the folder, for a split's parts and for a rebuilt file alike.
TEST(RemovableMedia, NamesTheFolderCannotHoldAreRefusedFirst) {
    const struct {
        const char* character;
        int err;
    } cases[] = {{":", EPERM}, {"?", ENOENT}, {"\xc3\xa9", EPERM}, {"\xff", EILSEQ}};
    for (const auto& [character, err] : cases) {
        for (const Kind kind : {Kind::SplitBySize, Kind::Assemble}) {
            SCOPED_TRACE(escapedForDisplay(character));
            const Scenario sc{"Names", kind, 2500, 1, true, true};
            Stage stage(sc);
            stage.prefix = stage.dir / (std::string("out/a") + character + "b.");
            MediaFolder fs;
            fs.character = character;
            fs.err = err;
            auto box = boxFor(sc);
            EXPECT_FALSE(stage.run(fs, box));
            ASSERT_EQ(box.shown().size(), 2u);
            EXPECT_EQ(box.shown()[1].style, MsgStyle::Critical);
            EXPECT_NE(box.shown()[1].text.find("'" + escapedForDisplay(character) + "'"),
                      std::string::npos)
                << box.shown()[1].text;
            EXPECT_NE(box.shown()[1].text.find("'" + stage.dir / "out" + "'"), std::string::npos);
            EXPECT_EQ(fs.dataWrites() + fs.calls(FsCall::Splice), 0u);
            EXPECT_TRUE(stage.snapshot() == stage.initial);
        }
    }
}

// A rebuilt file larger than the folder's files can be: refused before a byte is copied where
// statfs tells the limit (FAT), else at the first refused write, in our words either way.
TEST(RemovableMedia, ARebuiltFileTooLargeForTheFolderIsRefused) {
    ScratchDir dir;
    // Sparse parts of 2,000,000 KiB: 5.7 GiB of payload, no disk used.
    const std::uint64_t payload = 2000000ull * 1024;
    for (int index = 0; index < 4; ++index) {
        const std::string name = partName(dir / "movie.", index);
        writeFile(name, expectedHeader(index, 4, "avi"));
        std::filesystem::resize_file(name, kHeaderSize + (index < 3 ? payload : 1000));
    }
    MediaFolder fs;
    fs.fat = true;
    EngineRunner runner(fs);
    EXPECT_FALSE(runner.assemble(dir / "movie.000", "", {Yes, Ok}));
    EXPECT_EQ(runner.shown().back(),
              refusal("'" + dir / "movie.avi" +
                      "' is 5.8 GB; a FAT32 file can hold at most 4 GB. Choose another folder."));
    EXPECT_EQ(fs.calls(FsCall::Splice) + fs.calls(FsCall::CopyFileRange) + fs.dataWrites(), 0u);
    EXPECT_FALSE(exists(dir / "movie.avi"));

    for (const int capErr : {EFBIG, EPERM}) {
        const Scenario sc{"Cap", Kind::Assemble, 30000, 4, true};
        Stage stage(sc);
        MediaFolder capped;
        capped.sizeCap = 20000; // four of its 4 KiB parts fit, a part of the fifth
        capped.capErr = capErr;
        applyCopyMode(capped, CopyMode::UserSpace);
        auto box = boxFor(sc);
        EXPECT_FALSE(stage.run(capped, box));
        EXPECT_EQ(box.shown().back(),
                  refusal("'" + stage.output + "' is 0.1 GB; a file in '" + stage.dir.path() +
                          "' can hold at most 0 GB. Choose another folder."));
        EXPECT_TRUE(stage.snapshot() == stage.initial);
    }
}

// Fails every splice into a file from the nth on, as a disk that fills up while splicing.
struct FullWhileSplicing : FaultyFileSystem {
    explicit FullWhileSplicing(int nth) : left(nth) {}
    ssize_t splice(int inFd, off_t* inOffset, int outFd, std::size_t count) override {
        if (inOffset == nullptr && --left <= 0) {
            errno = ENOSPC;
            return -1;
        }
        return FaultyFileSystem::splice(inFd, inOffset, outFd, count);
    }
    int left;
};

// A disk that stays full: every write from the chosen one on fails, whichever way copies.
TEST(DiskFull, EveryLaterWriteFailsToo) {
    for (const Kind kind : {Kind::SplitBySize, Kind::Assemble}) {
        const Scenario sc{"Full", kind, 30000, 4, true, false, true};
        for (const CopyMode mode :
             {CopyMode::Splice, CopyMode::CopyFileRange, CopyMode::UserSpace}) {
            for (const int nth : {1, 3}) {
                SCOPED_TRACE(std::string(copyModeName(mode)) + ", write " + std::to_string(nth));
                Stage stage(sc);
                FullWhileSplicing fs(mode == CopyMode::Splice ? nth : 1 << 30);
                applyCopyMode(fs, mode);
                if (mode == CopyMode::CopyFileRange)
                    fs.failFrom(FsCall::CopyFileRange, std::uint64_t(nth), ENOSPC);
                if (mode == CopyMode::UserSpace)
                    fs.failFrom(FsCall::Write, std::uint64_t(nth), ENOSPC);
                auto box = boxFor(sc);
                const int descriptors = openDescriptorCount();
                EXPECT_FALSE(stage.run(fs, box));
                ASSERT_EQ(box.shown().size(), 2u);
                EXPECT_TRUE(
                    isFailureReport(box.shown()[1], FailureKind::NoSpace, {std::strerror(ENOSPC)}));
                EXPECT_TRUE(stage.snapshot() == stage.initial);
                EXPECT_EQ(openDescriptorCount(), descriptors);
            }
        }
    }
}

// Without room for a file the operation ends at its reservation, before a byte is copied.
TEST(DiskFull, NoRoomFailsBeforeAnyCopy) {
    for (const Kind kind : {Kind::SplitBySize, Kind::Assemble}) {
        const Scenario sc{"NoRoom", kind, 30000, 4, true, false, true};
        Stage stage(sc);
        FaultyFileSystem fs;
        fs.failNth(FsCall::Preallocate, 1, ENOSPC);
        auto box = boxFor(sc);
        EXPECT_FALSE(stage.run(fs, box));
        ASSERT_EQ(box.shown().size(), 2u);
        EXPECT_TRUE(isFailureReport(box.shown()[1], FailureKind::NoSpace, {std::strerror(ENOSPC)}));
        EXPECT_EQ(fs.calls(FsCall::Splice) + fs.calls(FsCall::CopyFileRange) + fs.dataWrites(), 0u);
        EXPECT_TRUE(stage.snapshot() == stage.initial);
    }
}

// A write that returns 0 makes no progress: looping on it would never end.
TEST(DiskFull, WriteThatWritesNothingIsDiskFull) {
    // Gives up with EIO after a while, so a retrying engine fails this test instead of hanging.
    struct StalledWrites : FaultyFileSystem {
        ssize_t write(int fd, const void* data, std::size_t count) override {
            return splicing ? FaultyFileSystem::write(fd, data, count) : stall();
        }
        ssize_t splice(int inFd, off_t* inOffset, int outFd, std::size_t count) override {
            return inOffset == nullptr ? stall()
                                       : FaultyFileSystem::splice(inFd, inOffset, outFd, count);
        }
        ssize_t stall() {
            if (++stalls < 1000)
                return 0;
            errno = EIO;
            return -1;
        }
        int stalls = 0;
        bool splicing = false;
    };
    for (const Kind kind : {Kind::SplitBySize, Kind::Assemble}) {
        for (const CopyMode mode : {CopyMode::Splice, CopyMode::UserSpace}) {
            SCOPED_TRACE(copyModeName(mode));
            const Scenario sc{"Stalled", kind, 30000, 4, true, false, true};
            Stage stage(sc);
            StalledWrites fs;
            fs.splicing = mode == CopyMode::Splice;
            applyCopyMode(fs, mode);
            auto box = boxFor(sc);
            EXPECT_FALSE(stage.run(fs, box));
            ASSERT_EQ(box.shown().size(), 2u);
            EXPECT_TRUE(isFailureReport(box.shown()[1], FailureKind::NoSpace, {}));
            EXPECT_TRUE(stage.snapshot() == stage.initial);
        }
    }
}

// The existence test looks at the disk only through the file layer, so the layer's failures
// are its own: a folder that cannot be searched is a failure, a missing one finds nothing.
TEST(FileExists, LooksThroughTheFileLayer) {
    ScratchDir dir;
    writeFile(dir / "plain.dat", "x");
    FaultyFileSystem fs;
    EXPECT_TRUE(FileExists(dir / "plain.dat", fs).value());
    EXPECT_TRUE(FileExists(dir / "*.dat", fs).value());
    EXPECT_EQ(fs.calls(FsCall::ListFolder), 1u);
    EXPECT_EQ(fs.calls(FsCall::Stat), 2u);

    fs.failNth(FsCall::ListFolder, 2, EIO);
    const Result<bool> failed = FileExists(dir / "*.dat", fs);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.failure().kind, FailureKind::IoError);
    EXPECT_EQ(failed.failure().err, EIO);
    EXPECT_EQ(failed.failure().action, FileAction::Search);
    EXPECT_EQ(failed.failure().path, dir.path() + "/");
    fs.failNth(FsCall::ListFolder, 3, ENOENT);
    EXPECT_FALSE(FileExists(dir / "*.dat", fs).value());
    // A pattern without a folder searches the working folder.
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const bool found = FileExists("*.dat", fs).value();
    std::filesystem::current_path(here);
    EXPECT_TRUE(found);
}

// Each kind of refusal and failure, each with the descriptor count checked after it (the
// failures of the file layer are covered call by call above).
struct HygieneCase {
    const char* name;
    std::function<bool(const ScratchDir&, EngineRunner&)> operation;
};

void PrintTo(const HygieneCase& c, std::ostream* out) {
    *out << c.name;
}

class DescriptorHygiene : public ::testing::TestWithParam<HygieneCase> {};

TEST_P(DescriptorHygiene, CountIsUnchangedAfterwards) {
    ScratchDir dir;
    writeFile(dir / "movie.avi", randomBytes(5000, 3));
    writeFile(dir / "set.000", expectedHeader(0, 2, "bin") + "abc");
    writeFile(dir / "set.001", expectedHeader(1, 2, "bin") + "def");
    FaultyFileSystem fs;
    EngineRunner runner(fs);
    const int before = openDescriptorCount();
    EXPECT_FALSE(GetParam().operation(dir, runner));
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_EQ(fs.openCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DescriptorHygiene,
    ::testing::Values(HygieneCase{"TooSmall",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.split(d / "movie.avi", 5, "", {Yes, Ok});
                                  }},
                      HygieneCase{"AlreadySplit",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.split(d / "set.000", 0, "", {Yes, Ok});
                                  }},
                      HygieneCase{"TooManyParts",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      std::filesystem::resize_file(d / "movie.avi", 2000000);
                                      return r.split(d / "movie.avi", 1, "", {Yes, Ok});
                                  }},
                      HygieneCase{"PartIsSource",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      std::filesystem::create_hard_link(d / "movie.avi",
                                                                        d / "link.002");
                                      return r.split(d / "movie.avi", 1, d / "link.", {Yes, Ok});
                                  }},
                      HygieneCase{"FileNotFound",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.split(d / "none", 1, "", {Yes, Ok});
                                  }},
                      HygieneCase{"PathNotFound",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.split(d / "movie.avi", 1, d / "no/x.", {Yes, Ok});
                                  }},
                      HygieneCase{"Overflow",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.split(d / "movie.avi", 2097152, "", {Yes, Ok});
                                  }},
                      HygieneCase{"DivisionByZero",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.split(d / "movie.avi", 0, "", {Yes, Ok});
                                  }},
                      HygieneCase{"InvalidArgument",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.split2(d / "movie.avi", -2, "", {Yes, Ok});
                                  }},
                      HygieneCase{"NotSplitFile",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.assemble(d / "movie.avi", "", {Yes, Ok});
                                  }},
                      HygieneCase{"NotBrokenFile",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      writeFile(d / "set.001", "short");
                                      return r.assemble(d / "set.000", "", {Yes, Ok});
                                  }},
                      HygieneCase{"WrongIndex",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      writeFile(d / "set.001", expectedHeader(4, 2, "bin"));
                                      return r.assemble(d / "set.000", "", {Yes});
                                  }},
                      HygieneCase{"ChosenNotFirst",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      return r.assemble(d / "set.001", "", {Yes});
                                  }},
                      HygieneCase{"UnsafeTail",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      writeFile(d / "set.000", expectedHeader(0, 2, "a/b"));
                                      return r.assemble(d / "set.000", "", {Yes, Ok});
                                  }},
                      HygieneCase{"OutputIsPart",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      writeFile(d / "set.000", expectedHeader(0, 2, "001"));
                                      return r.assemble(d / "set.000", "", {Yes, Ok});
                                  }},
                      HygieneCase{"MissingPart",
                                  [](const ScratchDir& d, EngineRunner& r) {
                                      std::filesystem::remove(d / "set.001");
                                      return r.assemble(d / "set.000", "", {Yes, Ok});
                                  }}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

} // namespace
} // namespace tolvar::testing
