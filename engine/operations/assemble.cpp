#include "checksum_file.h"
#include "copier.h"
#include "file_handle.h"
#include "folder_files.h"
#include "hashed_copy.h"
#include "join_plan.h"
#include "operation_tail.h"
#include "operations.h"
#include "part_header.h"
#include "part_set.h"
#include "path_parts.h"
#include "pending_file.h"
#include "pending_set.h"
#include "portable_names.h"
#include "recovery.h"
#include "room.h"
#include "room_needs.h"

#include <cerrno>
#include <chrono>
#include <optional>

namespace tolvar {

using detail::FileHandle;

Message messages::outputIsFolderMessage(const std::string& path) {
    return Message(MessageId::OutputIsFolder, {escapedForDisplay(path)});
}

Message messages::notAssembledMessage(const std::string& problem) {
    return Message(MessageId::NotAssembled, {problem});
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
    Assembler(OperationContext& context, JoinPlan& plan, const JoinOptions& options)
        : output(plan.output), context(context), fs(context.fs), plan(plan), options(options) {}

    // Joins the planned set, step by step; each step says why it stops, and how the join ended
    // is in `ended`. Nothing is created before the whole set has passed its checks.
    detail::Step run();

    JoinEnd ended = JoinEnd::Refused;
    const std::string& output;
    std::vector<std::string> parts;
    std::string checksumPath; // the checksum file the parts were checked against, if any
    // Its companion, and our join script of the set, which go with it, as they were found.
    std::vector<detail::DoomedFile> setFiles;
    struct stat checksumStatus {};
    // The set's recovery parts as found once the output is in place, with their status.
    std::vector<detail::DoomedFile> recoveryFiles;
    std::optional<Failure> recoveryFailure; // why they could not all be found
    // The folder of the parts, held from before the copy to the last deletion.
    std::optional<detail::Folder> partsFolder;
    // The folder the output goes to, held from its first check to the commit.
    std::optional<detail::Folder> outputFolder;
    // The parts as they were read.
    const std::vector<PartEntry>& partEntries() const { return plan.set->parts; }

private:
    bool refuse(const std::string& message) {
        context.box.refuse(message);
        ended = JoinEnd::Refused;
        return false;
    }
    bool stop(JoinEnd how) {
        ended = how;
        return false;
    }
    detail::Step holdPartsFolder();
    detail::Step chosenIsFirstPart();
    detail::Step outputIsSafe();
    detail::Step contentsAreGood();
    detail::Step setIsWhole();
    detail::Step noteChecksumFiles();
    detail::Step pendOutput();
    detail::Step copyParts();
    detail::Step copyPartsTo(int out, std::uint64_t total);
    detail::Step commit();
    void noteRecoveryParts();

    std::optional<Failure> outputFolderFailure; // why the output's folder could not be opened
    std::optional<struct stat> outputSeen;      // what was at the output's name when asked
    std::optional<detail::PendingSet> pending;  // the output, unnamed until the commit

    OperationContext& context;
    FileSystem& fs;
    JoinPlan& plan;
    const JoinOptions& options;
};

detail::Step Assembler::holdPartsFolder() {
    // Every part is read, and later deleted, in this folder; the copy makes sure each is
    // still the file the plan read.
    auto held = detail::Folder::open(fs, folderOf(plan.chosen));
    if (!held)
        return detail::Folder::failureFor(held.failure(), FileAction::Open, plan.chosen);
    partsFolder.emplace(std::move(held.value()));
    return true;
}

detail::Step Assembler::chosenIsFirstPart() {
    if (!plan.set) {
        if (plan.outcome == JoinOutcome::Failed)
            return *plan.failure;
        return refuse(messages::kNotSplitFile);
    }
    if (plan.outcome == JoinOutcome::NotFirstPart)
        return stop(JoinEnd::Stopped);
    if (plan.outcome == JoinOutcome::NotASplitFile)
        return refuse(messages::kNotSplitFile);
    for (const PartEntry& entry : plan.set->parts)
        parts.push_back(entry.path);
    return true;
}

detail::Step Assembler::outputIsSafe() {
    if (!isSafeOutputName(plan.set->chosen.header.NameTail, output))
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
    if (clashes(plan.chosen))
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
    if (options.outputSeen) {
        if (options.outputSeen->present)
            outputSeen = options.outputSeen->status;
    } else if (present) {
        outputSeen = atOutput;
    }
    if (const auto tooLong = detail::nameLengthRefusal(fs, *outputFolder, {outputName}))
        return refuse(*tooLong);
    return true;
}

detail::Step Assembler::contentsAreGood() {
    if (plan.outcome == JoinOutcome::ChecksumFileDamaged) {
        // A damaged one would let a damaged part through unnoticed: only the user may say so.
        const auto& problem = *plan.checksums.problem;
        return refuse(messages::checksumFileDamagedMessage(plan.checksums.path, problem.reason) +
                      " " + messages::kAssembleWithoutChecksumFile);
    }
    // Another tool's file, or another set's: say why, then join with the usual checks.
    if (const auto& problem = plan.checksums.problem)
        context.box.inform(
            messages::checksumFileUnusableMessage(plan.checksums.path, problem->reason));
    checkJoinContents(fs, plan, context.progress);
    switch (plan.outcome) {
    case JoinOutcome::Cancelled:
        return stop(JoinEnd::Cancelled);
    case JoinOutcome::Failed:
        return *plan.failure;
    case JoinOutcome::RebuildPossible:
    case JoinOutcome::RebuildImpossible:
        if (plan.failure)
            return *plan.failure;
        return refuse(messages::partsDoNotMatchMessage("\n" + plan.lostInWords(false)));
    default:
        return true;
    }
}

detail::Step Assembler::setIsWhole() {
    switch (plan.outcome) {
    case JoinOutcome::Ready:
        return true;
    case JoinOutcome::Failed:
        return *plan.failure;
    case JoinOutcome::NotABrokenFile:
        return refuse(messages::kNotBrokenFile);
    case JoinOutcome::WrongIndex:
        return stop(JoinEnd::Stopped); // silent, as it always was; the command line says which
    case JoinOutcome::SetMismatch:
        return refuse(messages::notAssembledMessage(plan.set->problemInWords()));
    default:
        return stop(JoinEnd::Refused);
    }
}

detail::Step Assembler::noteChecksumFiles() {
    if (!plan.checksCopy())
        return true;
    const ChecksumLookup& lookup = plan.checksums;
    checksumPath = lookup.path;
    if (lookup.status)
        checksumStatus = *lookup.status;
    const std::vector<std::string> others = lookup.paths();
    for (auto path = others.begin() + (others.empty() ? 0 : 1); path != others.end(); ++path) {
        struct stat st {};
        if (fs.lstatAt(partsFolder->fd(), fileNameOf(*path), &st) != 0) {
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

detail::Step Assembler::pendOutput() {
    if (outputFolderFailure)
        return *outputFolderFailure;
    const detail::Folder& folder = *outputFolder;
    // Refused before the first byte: a rebuilt file that cannot fit would fail on a full disk
    // at its end. A file the output replaces stays until the new one is complete.
    const RoomCheck room =
        detail::checkRoom(fs, folder, {plan.set->presentPayload()}, {fileNameOf(output)});
    if (!room.fits())
        return refuse(roomRefusal(room, true, folder.shown()));
    pending.emplace(fs, folder, "join");
    pending->expect(output, outputSeen);
    detail::LockWait wait{std::chrono::milliseconds(context.lockWaitMilliseconds), {}};
    if (context.progress != nullptr)
        wait.notice = [this](const std::string& text) { context.progress->onNotice(text); };
    pending->setLockWait(std::move(wait));
    auto journal = pending->journalFor(output);
    if (!journal)
        return journal.failure();
    const auto refusal = detail::nameRefusal(fs, folder, {fileNameOf(output)}, *journal.value());
    if (!refusal)
        return refusal.failure();
    if (refusal.value())
        return refuse(*refusal.value());
    const std::uint64_t total = plan.set->presentPayload();
    if (const auto limit = detail::knownFileSizeLimit(fs, folder); limit && total > limit->bytes)
        return refuse(detail::tooLargeMessage(output, total, limit->bytes, limit->fileSystem,
                                              folder.shown()));
    // It takes the first part's permission bits, as cp does.
    auto added = pending->add(output, plan.set->parts.front().status.st_mode & 0777);
    if (!added)
        return added.failure();
    return true;
}

detail::Step Assembler::copyParts() {
    const PartSet& set = *plan.set;
    const std::uint64_t total = set.presentPayload();
    const int out = pending->file(0).get();
    // A file system that caps the size of one file says so in its own words, if at all.
    auto copied = copyPartsTo(out, total);
    if (!copied)
        if (auto why = detail::sizeLimitMessage(fs, out, output, total, *outputFolder))
            return refuse(*why);
    return copied;
}

detail::Step Assembler::copyPartsTo(int out, std::uint64_t total) {
    const PartSet& set = *plan.set;
    if (auto reserved = detail::preallocate(fs, out, total, output); !reserved)
        return reserved.failure();
    detail::ProgressTracker tracker(context.progress, total, set.count);
    detail::Copier copier(fs, tracker);
    off_t written = 0;
    for (const PartEntry& entry : set.parts) {
        // Each part must still be the file that was checked, before and after its copy: its
        // contents are not read again.
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
            return stop(JoinEnd::Cancelled);
        off_t inOffset = static_cast<off_t>(kHeaderSize);
        auto copied = copier.copyExactly(opened.value().get(), inOffset, out, written,
                                         entry.payloadSize, entry.path, output);
        if (!copied)
            return copied;
        if (!copied.value())
            return stop(JoinEnd::Cancelled);
        written += static_cast<off_t>(entry.payloadSize);
        if (fs.fstat(opened.value().get(), &st) != 0)
            return fileFailure(errno, FileAction::Read, entry.path);
        if (!detail::sameVersion(st, entry.status))
            return changed();
    }
    return true;
}

void Assembler::noteRecoveryParts() {
    // Found now, before the delete question waits: a recovery part another run writes at
    // these names later is not this set's. A file that cannot be looked at is reported if the
    // user chooses to delete.
    auto recovery = findRecoveryParts(fs, plan.set->base, plan.set->count);
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

detail::Step Assembler::commit() {
    if (auto committed = pending->commit(); !committed)
        return committed.failure();
    noteRecoveryParts();
    return true;
}

detail::Step Assembler::run() {
    using Stage = detail::Step (Assembler::*)();
    // Each stage says why it does not go on. The output is unnamed (or hidden) until the
    // commit: a refusal, failure or cancel never leaves a partial file or costs an existing one.
    for (const Stage stage :
         {&Assembler::holdPartsFolder, &Assembler::chosenIsFirstPart, &Assembler::outputIsSafe,
          &Assembler::contentsAreGood, &Assembler::setIsWhole, &Assembler::noteChecksumFiles,
          &Assembler::pendOutput, &Assembler::copyParts, &Assembler::commit})
        if (auto step = (this->*stage)(); !step || !step.value())
            return step;
    ended = JoinEnd::Joined;
    return true;
}

} // namespace

Message messages::checksumFileCannotBeUsed(const std::string& path, const std::string& reason) {
    return Message(MessageId::ChecksumFileCannotBeUsed, {escapedForDisplay(path), reason});
}

Message messages::checksumFileUnusableMessage(const std::string& path, const std::string& reason) {
    return Message(MessageId::ChecksumFileUnusable, {checksumFileCannotBeUsed(path, reason)});
}

Message messages::checksumFileDamagedMessage(const std::string& path, const std::string& reason) {
    return Message(MessageId::ChecksumFileDamaged, {escapedForDisplay(path), reason});
}

Message messages::partsDoNotMatchMessage(const std::string& list) {
    return Message(MessageId::PartsDoNotMatch, {list});
}

namespace {

// The join once the user has agreed: the plan acted on, then the delete question.
JoinEnd join(JoinPlan& plan, OperationContext& context, const JoinOptions& options) {
    Assembler assembler(context, plan, options);
    const detail::Step assembled = assembler.run();
    const Message question =
        messages::deletePartsQuestion(assembler.parts.size(), assembler.output,
                                      !assembler.checksumPath.empty(), plan.hasRecoveryFiles());
    const detail::Finish finished = detail::finishOperation(
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
    if (!assembled)
        return JoinEnd::Refused;
    if (assembler.ended != JoinEnd::Joined || finished == detail::Finish::Done)
        return assembler.ended;
    return finished == detail::Finish::FilesLeft ? JoinEnd::FilesLeft : JoinEnd::Unfinished;
}

} // namespace

JoinEnd assemblePlanned(JoinPlan& plan, OperationContext& context, const JoinOptions& options) {
    if (!context.box.ask(messages::kConfirmAssemble))
        return JoinEnd::Declined;
    detail::finishInterruptedRuns(context.fs, context.box);
    return join(plan, context, options);
}

JoinEnd AssembleFile(const std::string& Filename, const std::string& Prefix,
                     OperationContext& context, const JoinOptions& options) {
    if (!context.box.ask(messages::kConfirmAssemble))
        return JoinEnd::Declined;
    detail::finishInterruptedRuns(context.fs, context.box);
    JoinPlan plan = planJoin(context.fs, {Filename, Prefix, PlanFor::Join, PlanDepth::Headers,
                                          options.withoutChecksumFile});
    return join(plan, context, options);
}

bool AssembleFile(const std::string& Filename, const std::string& Prefix,
                  OperationContext& context) {
    return AssembleFile(Filename, Prefix, context, JoinOptions{}) == JoinEnd::Joined;
}

} // namespace tolvar
