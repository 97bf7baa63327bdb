#include "checksum_file.h"
#include "copier.h"
#include "file_handle.h"
#include "folder_files.h"
#include "hashed_copy.h"
#include "operation_tail.h"
#include "operations.h"
#include "part_header.h"
#include "part_set.h"
#include "path_parts.h"
#include "pending_file.h"
#include "pending_set.h"
#include "portable_names.h"
#include "recovery.h"

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>

namespace tolvar {

using detail::FileHandle;

std::string messages::outputIsFolderMessage(const std::string& path) {
    return "'" + escapedForDisplay(path) +
           "' is a folder: the rebuilt file cannot take its name. Move the folder away, or "
           "choose another name for the rebuilt file.";
}

std::string messages::notAssembledMessage(const std::string& problem) {
    return "Not assembled: " + problem;
}

namespace {

// The tail comes from a file anyone may have written: it must not lead the output out of its
// folder or make a name the system cannot hold.
bool isSafeOutputName(const std::string& tail, const std::string& output) {
    if (tail.find('\0') != std::string::npos || tail.find('/') != std::string::npos)
        return false;
    const std::string last = fileNameOf(output);
    return !last.empty() && last != "." && last != "..";
}

class Assembler {
public:
    Assembler(OperationContext& context, const std::string& chosen, const std::string& prefix)
        : context(context), fs(context.fs), chosen(chosen), prefix(prefix) {}

    // True when the output is in place; false when refused (already said), stopped silently
    // or cancelled. Nothing is created before the whole set has passed its checks.
    detail::Step run();

    std::string output;
    std::vector<std::string> parts;
    std::string checksumPath; // the checksum file the parts were checked against, if any
    // Its companion, and our join script of the set, which go with it, as they were found.
    std::vector<detail::DoomedFile> setFiles;
    struct stat checksumStatus {};
    // The set's recovery parts as found once the output is in place, with their status.
    std::vector<detail::DoomedFile> recoveryFiles;
    std::optional<Failure> recoveryFailure; // why they could not all be found
    // The folder of the parts, held from before the set is read to the last deletion.
    std::optional<detail::Folder> partsFolder;
    // The folder the output goes to, held from its first check to the commit.
    std::optional<detail::Folder> outputFolder;
    // Whether that checksum file lists recovery parts, which go with the set when it is deleted.
    bool listsRecoveryParts() const { return checksums && !checksums->recovery.empty(); }
    // The parts as they were read.
    const std::vector<PartEntry>& partEntries() const { return set.parts; }

private:
    bool refuse(const std::string& message) {
        context.box.refuse(message);
        return false;
    }
    bool outputIsSafe(const std::string& tail);
    detail::Step setIsWhole();
    detail::Step copyParts(int out);
    detail::Step checkAgainstChecksums(const PartHeader& first);
    void noteRecoveryParts();

    // The checksum file beside the set, when there is a usable one; then every part has been
    // checked against it before the output is created, and the output is hashed as written.
    std::optional<ChecksumFile> checksums;
    std::unique_ptr<detail::ParallelHasher> hasher;
    int outputStream = -1;
    int outputReadFd = -1;
    off_t outputLength = 0;
    std::optional<Failure> outputFolderFailure; // why the output's folder could not be opened
    std::optional<struct stat> outputSeen;      // what was at the output's name when asked

    OperationContext& context;
    FileSystem& fs;
    const std::string& chosen;
    const std::string& prefix;
    std::string base;
    PartSet set;
};

bool Assembler::outputIsSafe(const std::string& tail) {
    if (!isSafeOutputName(tail, output))
        return refuse(messages::kUnsafeNameTail);
    // The output's folder is held from here on; one that cannot be opened is reported where
    // the output would first be created.
    auto opened = detail::Folder::open(fs, folderOf(output));
    if (!opened) {
        outputFolderFailure =
            detail::Folder::failureFor(opened.failure(), FileAction::Create, output);
        return true;
    }
    outputFolder.emplace(std::move(opened.value()));
    const std::string outputName = fileNameOf(output);
    // The output replaces whatever has its name, which must not be a file still to be read.
    struct stat outputStat {};
    const bool outputExists = fs.stat(outputFolder->reach(outputName), &outputStat) == 0;
    auto clashes = [&](const std::string& name) {
        struct stat st {};
        return name == output ||
               (outputExists && fs.stat(partsFolder->reach(fileNameOf(name)), &st) == 0 &&
                detail::sameFile(st, outputStat));
    };
    if (clashes(chosen))
        return refuse(messages::kOutputIsPart);
    for (const auto& name : parts) {
        if (clashes(name))
            return refuse(messages::kOutputIsPart);
    }
    // A folder at the output's name, or a name too long for its folder, would fail only when
    // the whole copy is done and moved into place.
    struct stat atOutput {};
    const bool present = fs.lstatAt(outputFolder->fd(), outputName, &atOutput) == 0;
    if (present && S_ISDIR(atOutput.st_mode))
        return refuse(messages::outputIsFolderMessage(output));
    // The commit puts the output only where the name still holds what the user was asked
    // about (or, not asked, what is there now).
    if (context.outputSeen) {
        if (context.outputSeen->present)
            outputSeen = context.outputSeen->status;
    } else if (present) {
        outputSeen = atOutput;
    }
    if (const auto tooLong = detail::nameLengthRefusal(fs, *outputFolder, {outputName}))
        return refuse(*tooLong);
    return true;
}

detail::Step Assembler::setIsWhole() {
    const PartEntry* problem = set.firstProblem();
    if (problem == nullptr)
        return true;
    switch (problem->state) {
    case PartState::Present:
        break;
    case PartState::Missing:
    case PartState::Unreadable:
        return *problem->failure;
    case PartState::NotAPart:
        return refuse(messages::kNotBrokenFile);
    case PartState::WrongIndex:
        return false; // silent, as it always was; the command line says which part
    case PartState::OtherSet:
    case PartState::WrongSize:
        return refuse(messages::notAssembledMessage(set.problemInWords()));
    }
    return false;
}

detail::Step Assembler::copyParts(int out) {
    const std::uint64_t total = set.presentPayload();
    if (auto reserved = detail::preallocate(fs, out, total, output); !reserved)
        return reserved.failure();
    detail::ProgressTracker tracker(context.progress, total, set.count);
    detail::Copier copier(fs, tracker);
    off_t written = 0;
    for (const PartEntry& entry : set.parts) {
        // Each part must still be the file that was checked, before and after its copy.
        const auto changed = [&] {
            return makeFailure(FailureKind::IoError,
                               "'" + entry.path + "' changed while the set was being assembled");
        };
        struct stat st {};
        auto opened =
            detail::openForReadingAt(fs, *partsFolder, fileNameOf(entry.path), entry.path, &st);
        if (!opened)
            return opened.failure();
        if (!detail::sameVersion(st, entry.status))
            return changed();

        tracker.setPart(entry.index, entry.path);
        if (entry.index == 0 && !tracker.advance(0))
            return false;
        off_t inOffset = static_cast<off_t>(kHeaderSize);
        if (hasher) {
            const detail::HashTarget target{outputStream, 0};
            auto copied = detail::copyHashed(fs, copier, *hasher, opened.value().get(), inOffset,
                                             out, outputReadFd, outputLength, entry.payloadSize,
                                             entry.path, output, {&target, 1});
            if (!copied || !copied.value())
                return copied;
        } else {
            auto copied = copier.copyExactly(opened.value().get(), inOffset, out, written,
                                             entry.payloadSize, entry.path, output);
            if (!copied || !copied.value())
                return copied;
        }
        written += static_cast<off_t>(entry.payloadSize);
        if (fs.fstat(opened.value().get(), &st) != 0)
            return fileFailure(errno, FileAction::Read, entry.path);
        if (!detail::sameVersion(st, entry.status))
            return changed();
    }
    return true;
}

detail::Step Assembler::checkAgainstChecksums(const PartHeader& first) {
    if (context.ignoreChecksumFile)
        return true;
    auto lookup = lookUpChecksumFile(fs, base, first);
    if (!lookup)
        return lookup.failure();
    if (const auto& problem = lookup.value().problem) {
        // A damaged one would let a damaged part through unnoticed: only the user may say so.
        if (problem->kind == ChecksumFileProblem::Kind::Damaged)
            return refuse(
                messages::checksumFileDamagedMessage(lookup.value().path, problem->reason) + " " +
                messages::kAssembleWithoutChecksumFile);
        // Another tool's file, or another set's: say why, then join with the usual checks.
        context.box.inform(
            messages::checksumFileUnusableMessage(lookup.value().path, problem->reason));
        return true;
    }
    if (!lookup.value().file)
        return true;
    std::vector<PartVerdict> verdicts;
    auto verified = verifyParts(fs, base, *lookup.value().file, first, context.progress, verdicts);
    if (!verified || !verified.value())
        return verified;
    std::string bad;
    const PartVerdict* missing = nullptr;
    bool onlyMissing = true;
    for (const PartVerdict& verdict : verdicts) {
        // A damaged recovery part costs the rebuilt file nothing.
        if (verdict.recovery || verdict.condition == PartCondition::Good)
            continue;
        if (verdict.condition == PartCondition::Missing) {
            if (missing == nullptr)
                missing = &verdict;
        } else {
            onlyMissing = false;
        }
        bad += "\n'" + escapedForDisplay(verdict.path) + "': " + describeVerdict(verdict);
    }
    // Only missing parts: the same report a set without a checksum file gets.
    if (missing != nullptr && onlyMissing)
        return fileFailure(ENOENT, FileAction::Open, missing->path);
    if (!bad.empty()) {
        context.box.refuse(messages::partsDoNotMatchMessage(bad));
        return false;
    }
    checksums = std::move(lookup.value().file);
    checksumPath = lookup.value().path;
    if (lookup.value().status)
        checksumStatus = *lookup.value().status;
    const std::vector<std::string> others = lookup.value().paths();
    for (auto path = others.begin() + (others.empty() ? 0 : 1); path != others.end(); ++path) {
        struct stat st {};
        if (context.fs.lstatAt(partsFolder->fd(), fileNameOf(*path), &st) != 0) {
            // Gone since it was read: nothing of it to delete. Not looked at: not known.
            if (errno == ENOENT)
                continue;
            return fileFailure(errno, FileAction::Open, *path);
        }
        if (S_ISREG(st.st_mode))
            setFiles.push_back({&*partsFolder, *path, st});
    }
    return true;
}

void Assembler::noteRecoveryParts() {
    // Found now, before the delete question waits: a recovery part another run writes at
    // these names later is not this set's. A file that cannot be looked at is reported if the
    // user chooses to delete.
    auto recovery = findRecoveryParts(fs, base, set.count);
    if (!recovery) {
        recoveryFailure = recovery.failure();
        return;
    }
    for (const auto& part : recovery.value()) {
        struct stat st {};
        if (fs.lstatAt(partsFolder->fd(), fileNameOf(part.path), &st) != 0) {
            recoveryFailure = fileFailure(errno, FileAction::Delete, part.path);
            return;
        }
        recoveryFiles.push_back({&*partsFolder, part.path, st});
    }
}

detail::Step Assembler::run() {
    // Held before the set is read, so that every part is read, and later deleted, in the
    // folder whose files were checked.
    auto held = detail::Folder::open(fs, folderOf(chosen));
    if (!held)
        return detail::Folder::failureFor(held.failure(), FileAction::Open, chosen);
    partsFolder.emplace(std::move(held.value()));
    auto read = readPartSet(fs, chosen);
    if (!read)
        return read.failure();
    if (!read.value())
        return refuse(messages::kNotSplitFile);
    set = std::move(*read.value());
    const PartHeader& first = set.chosen.header;
    if (first.PartIndex != 0)
        return false;
    // No split writes a set of fewer than two parts: a count of 000 or letters is no set.
    if (!set.countIsValid())
        return refuse(messages::kNotSplitFile);

    base = set.base;
    output = set.outputName(prefix);
    for (const PartEntry& entry : set.parts)
        parts.push_back(entry.path);
    if (!outputIsSafe(first.NameTail))
        return false;
    if (auto checked = checkAgainstChecksums(first); !checked || !checked.value())
        return checked;
    if (auto whole = setIsWhole(); !whole || !whole.value())
        return whole;

    // The rebuilt file is unnamed (or hidden) until complete: a failure never leaves a partial
    // file or costs an existing one. It takes the first part's permission bits, as cp does.
    if (outputFolderFailure)
        return *outputFolderFailure;
    const detail::Folder& folder = *outputFolder;
    detail::PendingSet pending(fs, folder, "join");
    pending.expect(output, outputSeen);
    detail::LockWait wait{std::chrono::milliseconds(context.lockWaitMilliseconds), {}};
    if (context.progress != nullptr)
        wait.notice = [this](const std::string& text) { context.progress->onNotice(text); };
    pending.setLockWait(std::move(wait));
    auto journal = pending.journalFor(output);
    if (!journal)
        return journal.failure();
    const auto refusal = detail::nameRefusal(fs, folder, {fileNameOf(output)}, *journal.value());
    if (!refusal)
        return refusal.failure();
    if (refusal.value())
        return refuse(*refusal.value());
    const std::uint64_t total = set.presentPayload();
    if (const auto limit = detail::knownFileSizeLimit(fs, folder); limit && total > limit->bytes)
        return refuse(detail::tooLargeMessage(output, total, limit->bytes, limit->fileSystem,
                                              folder.shown()));
    auto added = pending.add(output, set.parts.front().status.st_mode & 0777);
    if (!added)
        return added.failure();
    detail::PendingFile& out = pending.file(added.value());
    FileHandle readBack;
    if (checksums) {
        auto opened = out.openForReadBack();
        if (!opened)
            return opened.failure();
        readBack = std::move(opened.value());
        outputReadFd = readBack.get();
        hasher = std::make_unique<detail::ParallelHasher>(1);
        outputStream = hasher->openStream(0);
    }
    auto copied = copyParts(out.get());
    if (!copied) {
        // A file system that caps the size of one file says so in its own words, if at all.
        if (auto why = detail::sizeLimitMessage(fs, out.get(), output, total, folder))
            return refuse(*why);
        return copied;
    }
    if (!copied.value())
        return copied;
    if (hasher) {
        struct stat st {};
        if (fs.fstat(outputReadFd, &st) != 0)
            return fileFailure(errno, FileAction::Read, output);
        const detail::HashTarget target{outputStream, 0};
        if (auto hashed = detail::hashWritten(fs, *hasher, outputReadFd, outputLength, st.st_size,
                                              output, {&target, 1});
            !hashed)
            return hashed.failure();
        if (checksums->complete && hasher->finishStream(outputStream) != checksums->wholeDigest)
            return refuse(messages::kAssembledDiffers);
    }
    readBack.close();
    if (auto committed = pending.commit(); !committed)
        return committed.failure();
    noteRecoveryParts();
    return true;
}

} // namespace

std::string messages::checksumFileUnusableMessage(const std::string& path,
                                                  const std::string& reason) {
    return "The checksum file '" + escapedForDisplay(path) + "' cannot be used: " + reason +
           ". The broken files are checked without it.";
}

std::string messages::checksumFileDamagedMessage(const std::string& path,
                                                 const std::string& reason) {
    return "The checksum file '" + escapedForDisplay(path) + "' is damaged: " + reason +
           ", so the broken files cannot be checked against it.";
}

std::string messages::partsDoNotMatchMessage(const std::string& list) {
    return "Nothing was assembled: these broken files do not match the checksum file:" + list;
}

bool AssembleFile(const std::string& Filename, const std::string& Prefix,
                  OperationContext& context) {
    if (!context.box.ask(messages::kConfirmAssemble))
        return false;
    detail::finishInterruptedRuns(context.fs, context.box);

    Assembler assembler(context, Filename, Prefix);
    const detail::Step assembled = assembler.run();
    const std::string question = messages::deletePartsQuestion(
        assembler.parts.size(), assembler.output, !assembler.checksumPath.empty(),
        assembler.listsRecoveryParts());
    return detail::finishOperation(
        context, assembled, question, messages::assembledAs(assembler.output), "join",
        assembler.outputFolder ? &*assembler.outputFolder : nullptr, {assembler.output},
        [&]() -> detail::Doomed {
            // Each file as it was read: the parts when checked, the recovery parts (which can
            // rebuild nothing without the broken files) when the output was in place, the
            // checksum file that vouched for them (one that was not theirs stays).
            if (assembler.recoveryFailure)
                return *assembler.recoveryFailure;
            std::vector<detail::DoomedFile> doomed;
            for (const PartEntry& entry : assembler.partEntries())
                doomed.push_back({&*assembler.partsFolder, entry.path, entry.status});
            for (const auto& file : assembler.recoveryFiles)
                doomed.push_back(file);
            if (!assembler.checksumPath.empty())
                doomed.push_back(
                    {&*assembler.partsFolder, assembler.checksumPath, assembler.checksumStatus});
            doomed.insert(doomed.end(), assembler.setFiles.begin(), assembler.setFiles.end());
            return std::optional(std::move(doomed));
        });
}

} // namespace tolvar
