// The checksum file: its text as sha256sum reads it, its own damage told from a part's, the
// hashing threads, and what verifying says of each kind of damage to a set.

#include "checksum_file.h"
#include "parallel_hasher.h"
#include "path_parts.h"
#include "test_support.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

namespace tolvar::testing {
namespace {

// A set of `count` parts of `partSize` payload bytes written by hand beside base, and the
// checksum file describing it (not yet written).
struct HandMadeSet {
    HandMadeSet(const ScratchDir& dir, std::string name, int count, std::size_t partSize)
        : base(dir / name) {
        bytes = randomBytes(std::size_t(count - 1) * partSize + partSize / 2, 7);
        file.program = checksumProgramName();
        file.sourcePath = base + "avi";
        file.sourceSize = bytes.size();
        file.modifiedSeconds = 1765194788;
        file.modifiedNanoseconds = 5;
        file.mode = 0640;
        file.partSize = partSize;
        file.wholeDigest = sha256Of(bytes);
        for (int index = 0; index < count; ++index) {
            parts.push_back(expectedHeader(index, count, "avi") +
                            bytes.substr(std::size_t(index) * partSize, partSize));
            writeFile(partName(base, index), parts.back());
            file.parts.push_back({fileNameOf(partName(base, index)), sha256Of(parts.back())});
        }
        header.PartCount = static_cast<std::int16_t>(count);
        header.NameTail = "avi";
    }
    void writeChecksums() const { writeFile(checksumFilePath(base), formatChecksumFile(file)); }

    std::string base, bytes;
    std::vector<std::string> parts;
    ChecksumFile file;
    PartHeader header;
};

int runShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ChecksumFile, SurvivesItsOwnTextAndPassesSha256sumWithAwkwardNames) {
    ScratchDir dir;
    // Blanks, a newline, a backslash and a carriage return in the names: sha256sum escapes
    // the last three, and so must we.
    for (const char* name : {"my movie.", "new\nline.", "back\\slash.", "car\rriage."}) {
        HandMadeSet set(dir, name, 3, 1000);
        set.file.sourcePath = "/somewhere/" + std::string(name) + "avi";
        set.file.extra = {{"future-key", "kept as\\written"}};
        set.writeChecksums();

        const auto parsed = parseChecksumFile(formatChecksumFile(set.file));
        ASSERT_TRUE(std::holds_alternative<ChecksumFile>(parsed)) << name;
        const ChecksumFile& back = std::get<ChecksumFile>(parsed);
        EXPECT_EQ(formatChecksumFile(back), formatChecksumFile(set.file)) << name;
        EXPECT_EQ(back.sourcePath, set.file.sourcePath);
        EXPECT_EQ(back.mode, 0640u);
        EXPECT_EQ(back.parts[2].name, fileNameOf(partName(set.base, 2)));

        const std::string check = "cd '" + dir.path() + "' && sha256sum --quiet -c '" +
                                  fileNameOf(checksumFilePath(set.base)) + "' >/dev/null 2>&1";
        EXPECT_EQ(runShell(check), 0) << name;
        std::string damaged = set.parts[1];
        damaged[100] ^= 1;
        writeFile(partName(set.base, 1), damaged);
        EXPECT_EQ(runShell(check), 1) << name;
    }
}

TEST(ChecksumFile, AnyChangedByteIsCaughtAsDamageOfTheFileItself) {
    ScratchDir dir;
    HandMadeSet set(dir, "movie.", 4, 100);
    const std::string text = formatChecksumFile(set.file);
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::string changed = text;
        changed[at] = changed[at] == '0' ? '1' : '0';
        const auto parsed = parseChecksumFile(changed);
        ASSERT_TRUE(std::holds_alternative<ChecksumFileProblem>(parsed)) << "byte " << at;
        // Damage, even in the first line: a stranger's file would be joined without checks.
        EXPECT_EQ(std::get<ChecksumFileProblem>(parsed).kind, ChecksumFileProblem::Kind::Damaged)
            << "byte " << at;
    }
    for (std::size_t cut = 0; cut < text.size(); cut += 7)
        EXPECT_TRUE(
            std::holds_alternative<ChecksumFileProblem>(parseChecksumFile(text.substr(0, cut))))
            << "cut at " << cut;
}

TEST(ChecksumFile, LookUpTellsAbsentForeignAndDamagedFiles) {
    ScratchDir dir;
    HandMadeSet set(dir, "movie.", 3, 100);
    auto lookUp = [&] { return lookUpChecksumFile(defaultFileSystem(), set.base, set.header); };
    auto problem = [&](ChecksumFileProblem::Kind kind, const std::string& mention) {
        const auto found = lookUp();
        EXPECT_TRUE(found && found.value().problem && !found.value().file);
        if (found && found.value().problem) {
            EXPECT_EQ(found.value().problem->kind, kind);
            EXPECT_NE(found.value().problem->reason.find(mention), std::string::npos)
                << found.value().problem->reason;
        }
    };

    ASSERT_TRUE(lookUp());
    EXPECT_FALSE(lookUp().value().present());
    set.writeChecksums();
    ASSERT_TRUE(lookUp().value().file);

    // A user's own "sha256sum movie.avi > movie.sha256" is not ours.
    writeFile(checksumFilePath(set.base), toHex(set.file.wholeDigest) + "  movie.avi\n");
    problem(ChecksumFileProblem::Kind::Foreign, "not written by");
    std::string text = formatChecksumFile(set.file);
    text[text.find("part-size: 1") + 11] = '2';
    writeFile(checksumFilePath(set.base), text);
    problem(ChecksumFileProblem::Kind::Damaged, "own checksum");
    // Well formed, but of another set: other names, another count.
    HandMadeSet other(dir, "film.", 3, 100);
    writeFile(checksumFilePath(set.base), formatChecksumFile(other.file));
    problem(ChecksumFileProblem::Kind::Foreign, "film.000");
    // Signed again after an edit: any name but the set's own, in its place, is not this set's.
    set.file.recovery = {{"thesis.txt", {}}};
    set.writeChecksums();
    problem(ChecksumFileProblem::Kind::Foreign, "'thesis.txt' where the set has 'movie.r00'");
    set.file.recovery.clear();
    set.header.PartCount = 4;
    set.writeChecksums();
    problem(ChecksumFileProblem::Kind::Foreign, "lists 3 broken files where the set has 4");

    // What is no ordinary file holds no checksums: named as what it is, never read.
    const std::string path = checksumFilePath(set.base);
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    problem(ChecksumFileProblem::Kind::Foreign, "it is a FIFO, not a checksum file");
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    problem(ChecksumFileProblem::Kind::Foreign, "it is a folder, not a checksum file");
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/zero", path);
    problem(ChecksumFileProblem::Kind::Foreign, "it is a device, not a checksum file");
}

TEST(ChecksumFile, VerifyNamesEachKindOfDamage) {
    ScratchDir dir;
    HandMadeSet set(dir, "movie.", 9, 3000);
    HandMadeSet other(dir, "film.", 3, 3000);
    std::string flipped = set.parts[1];
    flipped[2000] ^= 0x40;
    writeFile(partName(set.base, 1), flipped);
    writeFile(partName(set.base, 2), set.parts[2].substr(0, 2900));
    writeFile(partName(set.base, 3), set.parts[3] + "x");
    writeFile(partName(set.base, 4), set.parts[5]);
    writeFile(partName(set.base, 5), set.parts[4]);
    writeFile(partName(set.base, 6), other.parts[1]);
    std::remove(partName(set.base, 7).c_str());
    writeFile(partName(set.base, 8), "not a part");

    std::vector<PartVerdict> verdicts;
    const auto verified =
        verifyParts(defaultFileSystem(), set.base, set.file, set.header, nullptr, verdicts);
    ASSERT_TRUE(verified && verified.value());
    std::vector<std::string> seen;
    for (const PartVerdict& verdict : verdicts)
        seen.push_back(fileNameOf(verdict.path) + " " + describeVerdict(verdict));
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "movie.000 good",
                        "movie.001 damaged (its contents differ)",
                        "movie.002 damaged (116 bytes short)",
                        "movie.003 damaged (1 byte too long)",
                        "movie.004 damaged (holds broken file 005)",
                        "movie.005 damaged (holds broken file 004)",
                        "movie.006 foreign (broken file 001 of another set)",
                        "movie.007 missing",
                        "movie.008 foreign (not a broken file)",
                    }));
}

TEST(ParallelHasher, EveryStreamGetsTheDigestOfItsOwnBytesInOrder) {
    const std::string bytes = randomBytes(3 * detail::ParallelHasher::kBlockSize + 12345, 3);
    // Streams share blocks, lanes and workers in every combination the engine uses.
    for (int workers = 1; workers <= 3; ++workers) {
        detail::ParallelHasher hasher(workers, 3);
        const int whole = hasher.openStream(0);
        std::vector<int> slices;
        std::vector<std::string> expected;
        std::size_t at = 0;
        std::mt19937 random(static_cast<unsigned>(workers));
        while (at < bytes.size()) {
            const std::size_t size = std::min<std::size_t>(
                bytes.size() - at, random() % detail::ParallelHasher::kBlockSize + 1);
            const int slice = hasher.openStream(static_cast<int>(slices.size()) + 1);
            slices.push_back(slice);
            expected.push_back(bytes.substr(at, size));
            const auto block = hasher.acquire();
            std::copy_n(bytes.data() + at, size, block.data());
            const detail::ParallelHasher::Piece pieces[] = {{whole, 0, size}, {slice, 0, size}};
            hasher.submit(block, pieces);
            at += size;
        }
        EXPECT_EQ(hasher.finishStream(whole), sha256Of(bytes));
        for (std::size_t i = 0; i < slices.size(); ++i)
            EXPECT_EQ(hasher.finishStream(slices[i]), sha256Of(expected[i])) << i;
    }
}

// Splits and assembles with a scripted box, optionally writing checksums.
struct ChecksumRunner {
    ScriptedMessageBox box = scriptedBox();
    FileSystem* fs = &defaultFileSystem();
    ProgressObserver* progress = nullptr;
    bool ignoreChecksumFile = false;

    bool split(const std::string& source, std::int32_t kilobytes, bool checksums,
               std::vector<MsgAnswer> script) {
        box.reset(std::move(script));
        OperationContext context{box, *fs, progress};
        return SplitFile(source, kilobytes, "", source, context, {0, checksums});
    }
    bool assemble(const std::string& first, const std::string& prefix,
                  std::vector<MsgAnswer> script) {
        box.reset(std::move(script));
        OperationContext context{box, *fs, progress};
        return AssembleFile(first, prefix, context, JoinOptions{ignoreChecksumFile}) ==
               JoinEnd::Joined;
    }
};

TEST(ChecksummedSet, SplitWritesWhatSha256sumAndJoinAccept) {
    // A set with a header-only last part, and one whose parts take several hashed chunks.
    const std::pair<std::size_t, std::int32_t> shapes[] = {{2048, 1}, {20u << 20, 9 * 1024}};
    for (const auto& [length, kilobytes] : shapes) {
        ScratchDir dir;
        const std::string bytes = randomBytes(length, 11);
        writeFile(dir / "movie.avi", bytes);
        ChecksumRunner run;
        ASSERT_TRUE(run.split(dir / "movie.avi", kilobytes, true, {MsgAnswer::Yes, MsgAnswer::No}));
        EXPECT_EQ(runShell("cd '" + dir.path() + "' && sha256sum --quiet -c movie.sha256"), 0);

        const auto parsed = parseChecksumFile(readFile(dir / "movie.tolvar"));
        ASSERT_TRUE(std::holds_alternative<ChecksumFile>(parsed));
        const ChecksumFile& file = std::get<ChecksumFile>(parsed);
        EXPECT_EQ(file.wholeDigest, sha256Of(bytes));
        EXPECT_EQ(file.sourceSize, length);
        EXPECT_EQ(file.sourcePath, "movie.avi") << "the name, never the sender's folder";
        const std::string plain = readFile(dir / "movie.sha256");
        EXPECT_EQ(plain, formatPlainChecksums(file));
        EXPECT_EQ(file.plainDigest, sha256Of(plain));

        std::filesystem::create_directory(dir / "out");
        ASSERT_TRUE(
            run.assemble(dir / "movie.000", dir / "out/movie.", {MsgAnswer::Yes, MsgAnswer::Yes}));
        EXPECT_EQ(readFile(dir / "out/movie.avi"), bytes);
        EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"movie.avi", "out"}))
            << "the parts and their checksum files go together";
    }
}

TEST(ChecksummedSet, JoinRefusesADamagedPartBeforeWritingAnything) {
    ScratchDir dir;
    writeFile(dir / "movie.avi", randomBytes(5000, 5));
    ChecksumRunner run;
    ASSERT_TRUE(run.split(dir / "movie.avi", 1, true, {MsgAnswer::Yes, MsgAnswer::No}));
    std::remove((dir / "movie.avi").c_str());
    std::string part = readFile(dir / "movie.003");
    part[500] ^= 1;
    writeFile(dir / "movie.003", part);
    const auto before = listDir(dir.path());

    EXPECT_FALSE(run.assemble(dir / "movie.000", "", {MsgAnswer::Yes, MsgAnswer::Ok}));
    ASSERT_EQ(run.box.shown().size(), 2u);
    EXPECT_EQ(run.box.shown()[1],
              refusal(messages::partsDoNotMatchMessage("\n'" + (dir / "movie.003") +
                                                       "': damaged (its contents differ)")));
    EXPECT_EQ(listDir(dir.path()), before);
}

// A damaged checksum file could hide a damaged part: only the user may set it aside.
TEST(ChecksummedSet, JoinRefusesADamagedChecksumFileUnlessToldToGoWithoutIt) {
    ScratchDir dir;
    const std::string bytes = randomBytes(5000, 5);
    writeFile(dir / "movie.avi", bytes);
    ChecksumRunner run;
    ASSERT_TRUE(run.split(dir / "movie.avi", 1, true, {MsgAnswer::Yes, MsgAnswer::No}));
    std::remove((dir / "movie.avi").c_str());
    std::string text = readFile(dir / "movie.tolvar");
    text[text.size() / 2] ^= 1;
    writeFile(dir / "movie.tolvar", text);
    const auto before = listDir(dir.path());

    EXPECT_FALSE(run.assemble(dir / "movie.000", "", {MsgAnswer::Yes, MsgAnswer::Ok}));
    ASSERT_EQ(run.box.shown().size(), 2u);
    EXPECT_EQ(run.box.shown()[1],
              refusal(messages::checksumFileDamagedMessage(
                          dir / "movie.tolvar", "its own checksum does not match its contents") +
                      " " + messages::kAssembleWithoutChecksumFile));
    EXPECT_EQ(listDir(dir.path()), before);

    run.ignoreChecksumFile = true;
    ASSERT_TRUE(run.assemble(dir / "movie.000", "", {MsgAnswer::Yes, MsgAnswer::No}));
    EXPECT_EQ(readFile(dir / "movie.avi"), bytes);
}

// Whether only parts are missing is read from the verdicts, whatever the parts are called.
TEST(ChecksummedSet, OnlyMissingPartsAreReportedAsMissingWhateverTheirNames) {
    ScratchDir dir;
    writeFile(dir / "clip: damaged.avi", randomBytes(3000, 9));
    ChecksumRunner run;
    ASSERT_TRUE(run.split(dir / "clip: damaged.avi", 1, true, {MsgAnswer::Yes, MsgAnswer::No}));
    std::remove((dir / "clip: damaged.001").c_str());
    EXPECT_FALSE(
        run.assemble(dir / "clip: damaged.000", dir / "out.", {MsgAnswer::Yes, MsgAnswer::Ok}));
    ASSERT_EQ(run.box.shown().size(), 2u);
    EXPECT_TRUE(isFailureReport(run.box.shown()[1], FailureKind::FileNotFound,
                                {dir / "clip: damaged.001"}));
}

TEST(ChecksummedSet, JoinSaysWhyItIgnoresAChecksumFileNotOfTheSet) {
    ScratchDir dir;
    const std::string bytes = randomBytes(3000, 6);
    writeFile(dir / "movie.avi", bytes);
    ChecksumRunner run;
    ASSERT_TRUE(run.split(dir / "movie.avi", 1, false, {MsgAnswer::Yes, MsgAnswer::No}));
    const std::string theirs = toHex(sha256Of(bytes)) + "  movie.avi\n";
    writeFile(dir / "movie.sha256", theirs);

    ASSERT_TRUE(run.assemble(dir / "movie.000", dir / "joined.",
                             {MsgAnswer::Yes, MsgAnswer::Ok, MsgAnswer::Yes}));
    EXPECT_EQ(run.box.shown()[1],
              (ShownMessage{messages::checksumFileUnusableMessage(
                                dir / "movie.sha256", "it was not written by Tolvar Files Splitter "
                                                      "for this set"),
                            MsgStyle::Information, kTitle}));
    EXPECT_EQ(readFile(dir / "joined.avi"), bytes);
    EXPECT_EQ(readFile(dir / "movie.sha256"), theirs) << "not ours to delete";
}

// Lets a part grow after it was verified, as another program writing to it would.
class GrowingFileSystem : public PosixFileSystem {
public:
    std::string grow;
    ssize_t copyFileRange(int in, off_t* offset, int out, std::size_t count) override {
        if (!grow.empty()) {
            writeFile(grow, readFile(grow) + "more");
            grow.clear();
        }
        return PosixFileSystem::copyFileRange(in, offset, out, count);
    }
    ssize_t splice(int in, off_t* offset, int out, std::size_t count) override {
        if (!grow.empty()) {
            writeFile(grow, readFile(grow) + "more");
            grow.clear();
        }
        return PosixFileSystem::splice(in, offset, out, count);
    }
};

TEST(ChecksummedSet, JoinDropsAnOutputThatDiffersFromTheWholeChecksum) {
    ScratchDir dir;
    writeFile(dir / "movie.avi", randomBytes(3000, 8));
    ChecksumRunner run;
    ASSERT_TRUE(run.split(dir / "movie.avi", 1, true, {MsgAnswer::Yes, MsgAnswer::No}));
    GrowingFileSystem growing;
    growing.grow = dir / "movie.002";
    run.fs = &growing;
    const auto before = listDir(dir.path());
    EXPECT_FALSE(run.assemble(dir / "movie.000", dir / "joined.", {MsgAnswer::Yes, MsgAnswer::Ok}));
    EXPECT_TRUE(growing.grow.empty()) << "the part never grew";
    // The part is found changed when its copy ends, before the whole-file checksum is taken.
    EXPECT_TRUE(isFailureReport(run.box.shown().back(), FailureKind::IoError,
                                {dir / "movie.002", "changed"}));
    EXPECT_EQ(listDir(dir.path()), before);
}

// Counts the bytes read from files, whichever way: read, pread, or a kernel copy's source.
class ReadCountingFileSystem : public PosixFileSystem {
public:
    std::uint64_t bytesRead = 0;
    ssize_t read(int fd, void* buffer, std::size_t count) override {
        return counted(PosixFileSystem::read(fd, buffer, count));
    }
    ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) override {
        return counted(PosixFileSystem::pread(fd, buffer, count, offset));
    }
    ssize_t copyFileRange(int in, off_t* offset, int out, std::size_t count) override {
        return counted(PosixFileSystem::copyFileRange(in, offset, out, count));
    }
    ssize_t splice(int in, off_t* offset, int out, std::size_t count) override {
        // Only the half that reads a file carries its offset; the pipe's half is not a read.
        const ssize_t moved = PosixFileSystem::splice(in, offset, out, count);
        return offset != nullptr ? counted(moved) : moved;
    }

private:
    ssize_t counted(ssize_t n) {
        if (n > 0)
            bytesRead += static_cast<std::uint64_t>(n);
        return n;
    }
};

// The parts are hashed once against the checksum file and then copied, never read a third
// time: not checked again, and the output not read back.
TEST(ChecksummedSet, JoinReadsEachPartOnceToCheckAndOnceToCopy) {
    ScratchDir dir;
    const std::string bytes = randomBytes(4u << 20, 12);
    writeFile(dir / "movie.avi", bytes);
    ChecksumRunner run;
    ASSERT_TRUE(run.split(dir / "movie.avi", 512, true, {MsgAnswer::Yes, MsgAnswer::Yes}));
    std::uint64_t setSize = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        setSize += entry.file_size();
    ReadCountingFileSystem counting;
    run.fs = &counting;
    ASSERT_TRUE(run.assemble(dir / "movie.000", "", {MsgAnswer::Yes, MsgAnswer::No}));
    EXPECT_EQ(readFile(dir / "movie.avi"), bytes);
    // Beside those, the headers and the checksum file are read on their own: a few KiB each.
    EXPECT_LE(counting.bytesRead, setSize + bytes.size() + (64u << 10))
        << "set of " << setSize << " bytes";
    EXPECT_GE(counting.bytesRead, 2 * bytes.size()) << "every byte is checked and copied";
}

TEST(ChecksummedSet, SplitReplacesOnlyItsOwnChecksumFiles) {
    ScratchDir dir;
    writeFile(dir / "movie.avi", randomBytes(3000, 9));
    ChecksumRunner run;
    // Someone's own checksums of the source sit where ours would go.
    writeFile(dir / "movie.sha256", "theirs");
    EXPECT_FALSE(run.split(dir / "movie.avi", 1, true, {MsgAnswer::Yes, MsgAnswer::Ok}));
    EXPECT_EQ(run.box.shown().back(),
              refusal(messages::checksumNameTakenMessage(dir / "movie.sha256")));
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"movie.avi", "movie.sha256"}));
    ASSERT_TRUE(run.split(dir / "movie.avi", 1, false, {MsgAnswer::Yes, MsgAnswer::No}));
    EXPECT_EQ(readFile(dir / "movie.sha256"), "theirs");

    // Ours describes the set a new split replaces: a split without checksums takes it away.
    std::remove((dir / "movie.sha256").c_str());
    ASSERT_TRUE(run.split(dir / "movie.avi", 1, true, {MsgAnswer::Yes, MsgAnswer::No}));
    ASSERT_TRUE(run.split(dir / "movie.avi", 2, false, {MsgAnswer::Yes, MsgAnswer::No}));
    EXPECT_FALSE(exists(dir / "movie.sha256"));
}

class StopAt : public ProgressObserver {
public:
    explicit StopAt(int call) : left(call) {}
    bool onProgress(const Progress&) override { return --left > 0; }
    int left;
};

TEST(ChecksummedSet, ACancelledSplitOrJoinLeavesNoChecksumFileOrOutput) {
    ScratchDir dir;
    const std::string bytes = randomBytes(6u << 20, 10);
    writeFile(dir / "movie.avi", bytes);
    ChecksumRunner run;
    for (int call = 1;; ++call) {
        StopAt stop(call);
        run.progress = &stop;
        if (run.split(dir / "movie.avi", 1024, true, {MsgAnswer::Yes, MsgAnswer::No}))
            break;
        ASSERT_EQ(listDir(dir.path()), (std::set<std::string>{"movie.avi"})) << call;
    }
    const auto set = listDir(dir.path());
    for (int call = 1;; ++call) {
        StopAt stop(call);
        run.progress = &stop;
        if (run.assemble(dir / "movie.000", dir / "joined.", {MsgAnswer::Yes, MsgAnswer::No}))
            break;
        ASSERT_EQ(listDir(dir.path()), set) << call;
    }
    EXPECT_EQ(readFile(dir / "joined.avi"), bytes);
}

} // namespace
} // namespace tolvar::testing
