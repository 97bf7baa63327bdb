#include "checksum_file.h"
#include "copier.h"
#include "file_handle.h"
#include "folder_files.h"
#include "hashed_copy.h"
#include "in_place_split.h"
#include "join_script.h"
#include "operation_tail.h"
#include "operations.h"
#include "part_file.h"
#include "part_header.h"
#include "path_parts.h"
#include "pending_file.h"
#include "pending_set.h"
#include "portable_names.h"
#include "recovery.h"
#include "room.h"
#include "room_needs.h"
#include "run_journal.h"
#include "split_in_place.h"
#include "split_plan.h"
#include "translation.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tolvar {

using detail::FileHandle;

Message messages::checksumNameTakenMessage(const std::string& path) {
    return Message(MessageId::ChecksumNameTaken,
                   {escapedForDisplay(path), std::string(kProductTitle)});
}

Message messages::unusablePartNameMessage(const std::string& source, const std::string& partName) {
    return Message(MessageId::UnusablePartName,
                   {escapedForDisplay(source), escapedForDisplay(partName)});
}

Message messages::shortNameMessage(const std::string& source) {
    return Message(MessageId::ShortName, {escapedForDisplay(source)});
}

Message messages::sourceChangedMessage(const std::string& path) {
    return Message(MessageId::SourceChanged, {escapedForDisplay(path)});
}

Message messages::tooManyPartsMessage(std::int64_t partCount) {
    return Message(MessageId::TooManyParts,
                   {std::to_string(partCount), std::to_string(kMaxPartCount)});
}

namespace {

// What a step of a split gives back: true to go on; false once it has refused (and said why)
// or the user cancelled; a failure for the caller to report.
detail::Step stepOf(const Result<void>& done) {
    if (!done)
        return done.failure();
    return true;
}

// One split from the confirmed question to the last part, with its failure or cancellation
// remembered so the caller can report and clean up in one place.
class Splitter {
public:
    Splitter(OperationContext& context, const SplitOptions& options, const std::string& source,
             const std::string& prefix, SplitRule rule, std::int32_t amount)
        : context(context), options(options), fs(context.fs), source(source), prefix(prefix),
          rule(rule), amount(amount) {}

    // True when every part is written and in place; false when refused (already said) or
    // cancelled. Until the whole set is in place, no file that had one of its names changes.
    detail::Step run();

    // The set's files, in the order written: parts, recovery parts, checksum file.
    std::vector<std::string> created;
    struct stat sourceStat {}; // the source as it was when the split began
    // The source's folder and the parts' folder, each held from its first use on.
    std::optional<detail::Folder> sourceFolder;
    std::optional<detail::Folder> partsFolder;
    // In place: set once the run's journal keeps files that hold the source's bytes.
    bool unfinishedInPlace = false;

private:
    // The steps of run, in order.
    detail::Step checkRecoveryCount();
    detail::Step openSource();
    detail::Step planParts();
    detail::Step refuseSplitSource();
    detail::Step checkPartCount();
    detail::Step nameTheSet();
    detail::Step holdPartsFolder();
    detail::Step refuseNamesOfTheSource();
    detail::Step keepOthersChecksumFiles();
    detail::Step claimNames();
    detail::Step writeParts();
    detail::Step writeRecovery();
    detail::Step retireOlderSurplus();
    detail::Step writeChecksumFiles();
    detail::Step retireEarlierOwn();
    detail::Step commit();
    // The steps of an in-place split that differ.
    detail::Step openSourceInPlace();
    detail::Step refuseOtherFolder();
    detail::Step splitInPlace();

    bool refuse(const std::string& message) {
        context.box.refuse(message);
        return false;
    }
    int partCount() const { return static_cast<int>(plan.partCount); }
    bool nameIsSafe(const std::string& name);
    Result<void> writeFile(const std::string& path, const std::string& text);
    // Starts the next file of the set, named path.
    Result<std::size_t> startFile(const std::string& path);
    // Copies the payload of the part open in part from the source at offset, hashing it when
    // checksums are written.
    detail::Step copyPart(detail::Copier& copier, detail::PendingFile& part, off_t& offset,
                          std::int64_t payload, const std::string& name);

    OperationContext& context;
    const SplitOptions& options;
    FileSystem& fs;
    const std::string& source;
    const std::string& prefix;
    const SplitRule rule;
    const std::int32_t amount;

    detail::FileHandle sourceFile; // open from openSource until its last byte is copied
    SplitPlan plan;
    std::string base; // the parts' names but for their index
    // Set while a split with checksums runs: the hashing threads, the stream of the whole
    // source and one stream per part.
    std::unique_ptr<detail::ParallelHasher> hasher;
    int wholeStream = -1;
    std::vector<int> partStreams;
    std::vector<Digest> recoveryDigests;
    std::unique_ptr<detail::PendingSet> pending;
    // Files of ours an earlier set left at this set's checksum and join script names: they go
    // with the old set, replaced or retired when the new set takes its place.
    std::vector<std::string> earlierOwn;
    // In place: the stopped run of the same split this one goes on with, and whether it left
    // no source (every byte already in its broken files).
    std::optional<detail::FoundInPlaceSplit> earlier;
    bool sourceGone = false;
};

detail::Step Splitter::run() {
    using StepOf = detail::Step (Splitter::*)();
    static constexpr StepOf steps[] = {
        &Splitter::checkRecoveryCount,
        &Splitter::openSource,
        &Splitter::planParts,
        &Splitter::refuseSplitSource,
        &Splitter::checkPartCount,
        &Splitter::nameTheSet,
        &Splitter::holdPartsFolder,
        &Splitter::refuseNamesOfTheSource,
        &Splitter::keepOthersChecksumFiles,
        &Splitter::claimNames,
        &Splitter::writeParts,
        &Splitter::writeRecovery,
        &Splitter::retireOlderSurplus,
        &Splitter::writeChecksumFiles,
        &Splitter::retireEarlierOwn,
        &Splitter::commit,
    };
    static constexpr StepOf inPlaceSteps[] = {
        &Splitter::checkRecoveryCount,
        &Splitter::openSourceInPlace,
        &Splitter::planParts,
        &Splitter::refuseSplitSource,
        &Splitter::checkPartCount,
        &Splitter::nameTheSet,
        &Splitter::holdPartsFolder,
        &Splitter::refuseOtherFolder,
        &Splitter::refuseNamesOfTheSource,
        &Splitter::splitInPlace,
    };
    for (const StepOf step :
         options.inPlace ? std::span<const StepOf>(inPlaceSteps) : std::span<const StepOf>(steps)) {
        const detail::Step done = (this->*step)();
        if (!done || !done.value()) {
            // Closed before anything is said or asked, whatever stopped the split.
            sourceFile.close();
            return done;
        }
    }
    return true;
}

detail::Step Splitter::checkRecoveryCount() {
    if (options.recoveryParts < 0 || options.recoveryParts > kMaxRecoveryParts)
        return makeFailure(FailureKind::InvalidArgument,
                           _("a set can have 0 to ") + std::to_string(kMaxRecoveryParts) +
                               _(" recovery parts, not ") + std::to_string(options.recoveryParts));
    return true;
}

detail::Step Splitter::openSource() {
    auto held = detail::Folder::open(fs, folderOf(source));
    if (!held)
        return detail::Folder::failureFor(held.failure(), FileAction::Open, source);
    sourceFolder.emplace(std::move(held.value()));
    auto opened =
        detail::openForReadingAt(fs, *sourceFolder, fileNameOf(source), source, &sourceStat);
    if (!opened)
        return opened.failure();
    sourceFile = std::move(opened.value());
    return true;
}

detail::Step Splitter::openSourceInPlace() {
    auto held = detail::Folder::open(fs, folderOf(source));
    if (!held)
        return detail::Folder::failureFor(held.failure(), FileAction::Open, source);
    sourceFolder.emplace(std::move(held.value()));
    // Written to: it is cut as the broken files take its bytes. Never through a link, which
    // would cut a file the user did not name.
    const std::string name = fileNameOf(source);
    const int fd =
        fs.openAt(sourceFolder->fd(), name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // Every byte in the broken files already, by a run stopped before it put them in place.
        earlier = detail::earlierInPlaceSplit(fs, *sourceFolder, name, -1);
        if (!earlier)
            return fileFailure(ENOENT, FileAction::Open, source);
        sourceGone = true;
        return true;
    }
    auto opened = detail::ordinaryFileOpened(fs, fd, source, &sourceStat);
    if (!opened)
        return opened.failure();
    sourceFile = std::move(opened.value());
    // Cut under one name, it would be cut under all: the others would end empty.
    if (sourceStat.st_nlink > 1)
        return refuse(Message(MessageId::InPlaceSplitLinked, {escapedForDisplay(source)}));
    earlier = detail::earlierInPlaceSplit(fs, *sourceFolder, name, sourceFile.get());
    return true;
}

detail::Step Splitter::refuseOtherFolder() {
    if (detail::sameFile(partsFolder->status(), sourceFolder->status()))
        return true;
    return refuse(
        Message(MessageId::InPlaceSplitOtherFolder, {escapedForDisplay(PartFileName(base, 0))}));
}

detail::Step Splitter::splitInPlace() {
    detail::InPlaceSplitJob job{context,       options,    rule, amount, source,
                                *sourceFolder, sourceFile, plan, base,   created};
    return detail::splitInPlace(job, earlier, unfinishedInPlace);
}

detail::Step Splitter::planParts() {
    // A split in place that goes on knows the source's length from before its first cut.
    const off_t length =
        earlier ? earlier->contents.inPlaceSplit->original.size : sourceStat.st_size;
    auto planned = planSplit(rule, amount, length);
    if (!planned)
        return planned.failure();
    plan = planned.value();
    if (plan.verdict == SplitPlan::Verdict::TooSmall)
        return refuse(messages::kTooSmall);
    return true;
}

detail::Step Splitter::refuseSplitSource() {
    // Checked before its first cut; cut short, it may be too short to tell.
    if (earlier)
        return true;
    // The tag alone makes a part of it, even cut short: joining it back would be a surprise.
    auto head = readPartHeader(fs, sourceFile.get(), source);
    if (!head)
        return head.failure();
    if (head.value().tagged)
        return refuse(messages::kAlreadySplit);
    return true;
}

detail::Step Splitter::checkPartCount() {
    switch (plan.verdict) {
    case SplitPlan::Verdict::Ready:
    case SplitPlan::Verdict::TooSmall: // refused by planParts
        return true;
    case SplitPlan::Verdict::NoPartSize:
        return makeFailure(FailureKind::DivisionByZero,
                           _("the file is too small for that many broken files"));
    case SplitPlan::Verdict::CountOverflows:
        return makeFailure(FailureKind::Overflow, _("the split would need ") +
                                                      std::to_string(plan.partCount) +
                                                      _(" broken files"));
    case SplitPlan::Verdict::TooManyParts:
        return refuse(messages::tooManyPartsMessage(plan.partCount));
    }
    return true;
}

detail::Step Splitter::nameTheSet() {
    // The header keeps the name's last three characters for the join to restore it: a shorter
    // name would come back padded with spaces or with a "/" in it, whatever the prefix.
    if (fileNameOf(source).size() < 3)
        return refuse(messages::shortNameMessage(source));
    const auto named = partBaseName(source, prefix);
    if (!named)
        return makeFailure(FailureKind::InvalidArgument,
                           _("cannot name the broken files after '") + source + "'");
    base = *named;
    // A hidden part name puts the set where nobody looks for it.
    const std::string first = PartFileName(base, 0);
    if (fileNameOf(first).front() == '.')
        return refuse(messages::unusablePartNameMessage(source, first));
    return true;
}

detail::Step Splitter::holdPartsFolder() {
    // Every later step in the parts' folder goes through this descriptor.
    auto held = detail::Folder::open(fs, folderOf(PartFileName(base, 0)));
    if (!held)
        return detail::Folder::failureFor(held.failure(), FileAction::Create,
                                          PartFileName(base, 0));
    partsFolder.emplace(std::move(held.value()));
    return true;
}

bool Splitter::nameIsSafe(const std::string& name) {
    // Creating a file replaces any file of its name: that must never be the source itself,
    // whether spelt the same, spelt differently or reached through another link.
    struct stat st {};
    return name != source && !(fs.stat(partsFolder->reach(fileNameOf(name)), &st) == 0 &&
                               detail::sameFile(st, sourceStat));
}

detail::Step Splitter::refuseNamesOfTheSource() {
    if (sourceGone)
        return true;
    std::vector<std::string> names;
    for (int index = 0; index < partCount(); ++index)
        names.push_back(PartFileName(base, index));
    for (int index = 0; index < options.recoveryParts; ++index)
        names.push_back(RecoveryFileName(base, index));
    // The checksum files and the join script are names of the set as much as its parts are.
    for (const std::string& name :
         {checksumFilePath(base), companionFilePath(base), joinScriptPath(base)})
        names.push_back(name);
    for (const std::string& name : names)
        if (!nameIsSafe(name))
            return refuse(messages::kPartIsSource);
    return true;
}

detail::Step Splitter::claimNames() {
    const detail::Folder& folder = *partsFolder;
    std::vector<std::string> names;
    for (int index = 0; index < partCount(); ++index)
        names.push_back(fileNameOf(PartFileName(base, index)));
    for (int index = 0; index < options.recoveryParts; ++index)
        names.push_back(fileNameOf(RecoveryFileName(base, index)));
    if (options.writeChecksums) {
        names.push_back(fileNameOf(checksumFilePath(base)));
        names.push_back(fileNameOf(companionFilePath(base)));
    }
    if (options.writeChecksums && options.writeJoinScript)
        names.push_back(fileNameOf(joinScriptPath(base)));
    if (const auto tooLong = detail::nameLengthRefusal(fs, folder, names))
        return refuse(*tooLong);
    // A set that cannot fit would fail on a full disk after writing most of it.
    const RoomCheck room = detail::checkRoom(
        fs, folder, splitFileSizes(plan, options, fileNameOf(base).size()), names);
    if (!room.fits())
        return refuse(roomRefusal(room, false, folder.shown()));
    pending = std::make_unique<detail::PendingSet>(fs, folder, "split");
    detail::LockWait wait{std::chrono::milliseconds(context.lockWaitMilliseconds), {}};
    if (context.progress != nullptr)
        wait.notice = [this](const std::string& text) { context.progress->onNotice(text); };
    pending->setLockWait(std::move(wait));
    auto journal = pending->journalFor(PartFileName(base, 0));
    if (!journal)
        return journal.failure();
    const auto refusal = detail::nameRefusal(fs, folder, names, *journal.value());
    if (!refusal)
        return refusal.failure();
    if (refusal.value())
        return refuse(*refusal.value());
    return true;
}

Result<std::size_t> Splitter::startFile(const std::string& path) {
    created.push_back(path);
    return pending->add(path, sourceStat.st_mode & 0777);
}

detail::Step Splitter::writeParts() {
    if (options.writeChecksums) {
        hasher = std::make_unique<detail::ParallelHasher>();
        wholeStream = hasher->openStream(0);
    }
    detail::ProgressTracker tracker(context.progress, static_cast<std::uint64_t>(plan.length),
                                    partCount());
    detail::Copier copier(fs, tracker);
    off_t offset = 0;
    for (int index = 0; index < partCount(); ++index) {
        const std::string name = PartFileName(base, index);
        auto added = startFile(name);
        if (!added)
            return added.failure();
        detail::PendingFile& part = pending->file(added.value());
        const std::int64_t payload = index + 1 < partCount() ? plan.partSize : plan.lastPartSize();
        if (auto reserved = detail::preallocate(
                fs, part.get(), kHeaderSize + static_cast<std::uint64_t>(payload), name);
            !reserved)
            return reserved.failure();

        const HeaderBytes header = PartHeader::build(index, partCount(), source);
        if (auto written = detail::writeAll(fs, part.get(), header.data(), header.size(), name);
            !written)
            return written.failure();

        tracker.setPart(index, name);
        if (index == 0 && !tracker.advance(0))
            return false;
        const detail::Step copied = copyPart(copier, part, offset, payload, name);
        if (!copied || !copied.value())
            return copied;
        if (auto parked = part.park(); !parked)
            return parked.failure();
    }
    sourceFile.close(); // read to its end; no more than two files are open at any time
    return true;
}

detail::Step Splitter::copyPart(detail::Copier& copier, detail::PendingFile& part, off_t& offset,
                                std::int64_t payload, const std::string& name) {
    if (!hasher)
        return copier.copyExactly(sourceFile.get(), offset, part.get(),
                                  static_cast<off_t>(kHeaderSize),
                                  static_cast<std::uint64_t>(payload), source, name);
    // Hash what lands in the part, read back behind the copy from the page cache: the source
    // is read once, and the digests describe the parts as written.
    auto readBack = part.openForReadBack();
    if (!readBack)
        return readBack.failure();
    partStreams.push_back(hasher->openStream(1));
    const detail::HashTarget targets[] = {{partStreams.back(), 0},
                                          {wholeStream, static_cast<off_t>(kHeaderSize)}};
    if (auto hashed = detail::hashWritten(fs, *hasher, readBack.value().get(), 0,
                                          static_cast<off_t>(kHeaderSize), name, targets);
        !hashed)
        return hashed.failure();
    off_t partLength = static_cast<off_t>(kHeaderSize);
    return detail::copyHashed(fs, copier, *hasher, sourceFile.get(), offset, part.get(),
                              readBack.value().get(), partLength,
                              static_cast<std::uint64_t>(payload), source, name, targets);
}

detail::Step Splitter::writeRecovery() {
    if (options.recoveryParts == 0)
        return true;
    // The recovery parts are computed from the broken files as they are on disk, under the
    // hidden names they wait under; failures name the files as the user will know them.
    const RecoveryLayout layout{partCount(), options.recoveryParts, plan.partSize, plan.length,
                                std::string(nameTailOf(source))};
    std::vector<std::string> parts;
    for (int index = 0; index < partCount(); ++index)
        parts.push_back(pending->file(std::size_t(index)).hiddenPath());
    std::vector<RebuildTarget> targets;
    for (int j = 0; j < options.recoveryParts; ++j) {
        auto added = startFile(RecoveryFileName(base, j));
        if (!added)
            return added.failure();
        targets.push_back({0, pending->file(added.value()).get(), created.back(), nullptr});
    }
    auto recovered = writeRecoveryInto(fs, layout, parts, targets, context.progress,
                                       hasher ? &recoveryDigests : nullptr);
    if (!recovered) {
        Failure failure = recovered.failure();
        for (int index = 0; index < partCount(); ++index)
            failure = detail::reportedAs(std::move(failure), parts[std::size_t(index)],
                                         created[std::size_t(index)]);
        return failure;
    }
    if (!recovered.value())
        return false;
    for (std::size_t index = std::size_t(partCount()); index < pending->size(); ++index)
        if (auto parked = pending->file(index).park(); !parked)
            return parked.failure();
    return true;
}

detail::Step Splitter::retireEarlierOwn() {
    // Our files of the set being replaced would vouch for, or join, files that are gone.
    for (const std::string& path : earlierOwn)
        if (std::find(created.begin(), created.end(), path) == created.end())
            pending->retire(path);
    return true;
}

detail::Step Splitter::commit() {
    return stepOf(pending->commit());
}

// An older set at these names with more broken files or recovery parts than the new one
// would leave the rest beside it, a set of its own that info calls incomplete. Those files go
// with the commit, under the folder's lock and only if still as they were read, but only
// those that prove to be that set's: a broken file whose header carries its own index and the
// count and name tail of the older first part, a recovery part written for that count and
// tail. Anything else at those names is someone else's and stays.
detail::Step Splitter::retireOlderSurplus() {
    // A file of the set is known by its status before its header is read: a link, or a file
    // put there in between, fails the commit's check instead of being taken for the one read.
    // One that goes between the two looks is a failure, before anything has changed.
    const auto fileAt = [&](const std::string& name) -> Result<std::optional<struct stat>> {
        struct stat status {};
        if (fs.lstatAt(partsFolder->fd(), fileNameOf(name), &status) == 0)
            return std::optional(status);
        if (errno == ENOENT)
            return std::optional<struct stat>();
        return fileFailure(errno, FileAction::Open, name);
    };
    const auto partAt = [&](const std::string& name,
                            const struct stat& status) -> Result<std::optional<PartHeader>> {
        auto part = readPartFile(fs, name);
        if (!part)
            return part.failure();
        if (part.value().found != FileFound::Regular)
            return part.value().failure.value_or(fileFailure(ENOENT, FileAction::Open, name));
        if (!detail::sameFile(part.value().status, status))
            return std::optional<PartHeader>();
        return part.value().reading.header;
    };
    const std::string firstName = PartFileName(base, 0);
    auto firstStatus = fileAt(firstName);
    if (!firstStatus)
        return firstStatus.failure();
    if (!firstStatus.value() || !S_ISREG(firstStatus.value()->st_mode))
        return true;
    auto first = partAt(firstName, *firstStatus.value());
    if (!first)
        return first.failure();
    const std::optional<PartHeader>& older = first.value();
    if (!older || older->PartIndex != 0)
        return true;

    const auto retire = [&](const std::string& name, const struct stat& status) {
        pending->retire(name);
        pending->expect(name, status);
    };
    for (int index = partCount(); index < older->PartCount; ++index) {
        const std::string name = PartFileName(base, index);
        auto status = fileAt(name);
        if (!status)
            return status.failure();
        if (!status.value() || !S_ISREG(status.value()->st_mode))
            continue;
        auto header = partAt(name, *status.value());
        if (!header)
            return header.failure();
        if (header.value() && header.value()->PartIndex == index &&
            header.value()->PartCount == older->PartCount &&
            header.value()->NameTail == older->NameTail)
            retire(name, *status.value());
    }
    // A set's recovery parts have consecutive names: the first free one ends them.
    for (int index = options.recoveryParts; index < kMaxRecoveryParts; ++index) {
        const std::string name = RecoveryFileName(base, index);
        auto status = fileAt(name);
        if (!status)
            return status.failure();
        if (!status.value())
            break;
        if (!S_ISREG(status.value()->st_mode))
            continue;
        auto recovery = readRecoveryFile(fs, name);
        if (!recovery)
            return recovery.failure();
        if (recovery.value().found != FileFound::Regular)
            return recovery.value().failure.value_or(fileFailure(ENOENT, FileAction::Open, name));
        const std::optional<RecoveryHeader>& header = recovery.value().header;
        if (header && header->index == index && header->layout.dataCount == older->PartCount &&
            setHeaderOf(*header).NameTail == older->NameTail)
            retire(name, *status.value());
    }
    return true;
}

detail::Step Splitter::keepOthersChecksumFiles() {
    // Our files of an earlier set at these names describe the set about to be replaced: they
    // go when the new set takes its place, never before. A file of anyone else's stays; a split
    // that would replace it is refused.
    auto own = ownChecksumFiles(fs, base);
    if (!own)
        return own.failure();
    struct stat st {};
    std::string script;
    const std::string scriptPath = joinScriptPath(base);
    const std::string scriptName = fileNameOf(scriptPath);
    if (fs.lstatAt(partsFolder->fd(), scriptName, &st) == 0 && S_ISREG(st.st_mode)) {
        auto opened = detail::openForReadingAt(fs, *partsFolder, scriptName, scriptPath);
        if (!opened)
            return opened.failure();
        script.resize(128);
        auto got = detail::readFully(fs, opened.value().get(), script.data(), script.size(), 0,
                                     scriptPath);
        if (!got)
            return got.failure();
        script.resize(got.value());
    }
    const struct {
        std::string path;
        bool ours;
        bool written;
    } names[] = {
        {checksumFilePath(base), own.value().plain, options.writeChecksums},
        {companionFilePath(base), own.value().companion, options.writeChecksums},
        {scriptPath, isJoinScriptText(script), options.writeChecksums && options.writeJoinScript},
    };
    for (const auto& name : names) {
        if (fs.lstatAt(partsFolder->fd(), fileNameOf(name.path), &st) != 0)
            continue;
        if (name.ours)
            earlierOwn.push_back(name.path);
        else if (name.written)
            return refuse(messages::checksumNameTakenMessage(name.path));
    }
    return true;
}

Result<void> Splitter::writeFile(const std::string& path, const std::string& text) {
    auto added = startFile(path);
    if (!added)
        return added.failure();
    detail::PendingFile& out = pending->file(added.value());
    if (auto written = detail::writeAll(fs, out.get(), text.data(), text.size(), path); !written)
        return written;
    return out.park();
}

detail::Step Splitter::writeChecksumFiles() {
    if (!hasher)
        return true;
    ChecksumFile file;
    file.program = checksumProgramName();
    // The name only: a set is sent to others, and tells them nothing of the sender's folders.
    file.sourcePath = fileNameOf(source);
    file.sourceSize = static_cast<std::uint64_t>(sourceStat.st_size);
    file.modifiedSeconds = sourceStat.st_mtim.tv_sec;
    file.modifiedNanoseconds = sourceStat.st_mtim.tv_nsec;
    file.mode = static_cast<std::uint32_t>(sourceStat.st_mode & 07777);
    file.partSize = static_cast<std::uint64_t>(plan.partSize);
    for (std::size_t index = 0; index < partStreams.size(); ++index)
        file.parts.push_back(
            {fileNameOf(created[index]), hasher->finishStream(partStreams[index])});
    file.wholeDigest = hasher->finishStream(wholeStream);
    for (std::size_t index = 0; index < recoveryDigests.size(); ++index)
        file.recovery.push_back(
            {fileNameOf(created[partStreams.size() + index]), recoveryDigests[index]});
    const std::string plain = formatPlainChecksums(file);
    file.plainDigest = sha256Of(plain);

    // They move into place with the set: checksum files are either complete or absent.
    if (auto written = writeFile(checksumFilePath(base), plain); !written)
        return written.failure();
    if (auto written = writeFile(companionFilePath(base), formatChecksumFile(file)); !written)
        return written.failure();
    if (!options.writeJoinScript)
        return true;
    const JoinScriptSet set{fileNameOf(base), static_cast<int>(partStreams.size()),
                            fileNameOf(source), fileNameOf(checksumFilePath(base)),
                            file.wholeDigest};
    return stepOf(writeFile(joinScriptPath(base), formatJoinScript(set)));
}

// What a name in folder holds now, compared with the source as it was split: the name's own
// status where it still holds that file (a symbolic link to it counts as the link), nothing
// where it holds another file or another version.
Result<std::optional<struct stat>> unchangedSource(FileSystem& fs, const detail::Folder& folder,
                                                   const std::string& path,
                                                   const struct stat& recorded) {
    const std::string name = fileNameOf(path);
    struct stat now {};
    if (fs.lstatAt(folder.fd(), name, &now) != 0)
        return fileFailure(errno, FileAction::Delete, path);
    struct stat target = now;
    if (S_ISLNK(now.st_mode) && fs.stat(folder.reach(name), &target) != 0)
        return fileFailure(errno, FileAction::Delete, path);
    if (!detail::sameVersion(target, recorded))
        return std::optional<struct stat>();
    return std::optional<struct stat>(now);
}

// A split in place: no question about the source at the end, which is gone. Whatever stopped
// it, the user hears how to finish it.
bool endInPlace(Splitter& splitter, const detail::Step& split, OperationContext& context,
                SplitRule rule, std::int32_t amount, const std::string& Filename,
                const SplitOptions& options) {
    if (!split)
        showFailureReport(context.box, split.failure());
    if (split && split.value())
        return true;
    if (splitter.unfinishedInPlace && splitter.sourceFolder) {
        detail::JournalContents run;
        run.folder = splitter.sourceFolder->path();
        run.inPlaceSplit = detail::InPlaceSplitRecord{};
        run.inPlaceSplit->source = fileNameOf(Filename);
        run.inPlaceSplit->rule = static_cast<int>(rule);
        run.inPlaceSplit->amount = amount;
        run.inPlaceSplit->recoveryParts = options.recoveryParts;
        run.inPlaceSplit->checksums = options.writeChecksums;
        run.inPlaceSplit->joinScript = options.writeJoinScript;
        context.box.inform(
            Message(MessageId::InPlaceSplitUnfinished,
                    {escapedForDisplay(Filename), detail::inPlaceSplitCommand(run)}));
    }
    return false;
}

} // namespace

SplitEnd splitBy(SplitRule rule, const std::string& Filename, std::int32_t amount,
                 const std::string& Prefix, const std::string& DeletePath,
                 OperationContext& context, const SplitOptions& asked) {
    SplitOptions options = asked;
    bool confirmed = false;
    const SplitRoomCheck room =
        options.inPlace || options.whenOnlyInPlace == SplitOptions::WhenOnlyInPlace::Ignore
            ? SplitRoomCheck{}
            : splitRoom(context.fs, Filename, Prefix, rule, amount, options);
    if (room.verdict == SplitRoom::FitsOnlyInPlace) {
        if (options.whenOnlyInPlace == SplitOptions::WhenOnlyInPlace::Suggest) {
            context.box.refuse(Message(MessageId::InPlaceSplitSuggested,
                                       {escapedForDisplay(Filename), roomInWords(room.plain),
                                        roomInWords(room.free), roomInWords(room.inPlace)}));
            return SplitEnd::NotDone;
        }
        // The question says what it costs: it stands for the confirmation.
        if (!context.box.askDefaultNo(
                Message(MessageId::InPlaceSplitQuestion, {escapedForDisplay(Filename)})))
            return SplitEnd::NotDone;
        options.inPlace = confirmed = true;
    }
    if (!confirmed && !context.box.ask(messages::kConfirmSplit))
        return SplitEnd::NotDone;
    detail::finishInterruptedRuns(context.fs, context.box);
    if (options.inPlace) {
        Splitter splitter(context, options, Filename, Prefix, rule, amount);
        const detail::Step split = splitter.run();
        return endInPlace(splitter, split, context, rule, amount, Filename, options)
                   ? SplitEnd::Split
                   : SplitEnd::NotDone;
    }

    Splitter splitter(context, options, Filename, Prefix, rule, amount);
    const detail::Step split = splitter.run();
    std::optional<detail::Folder> other; // DeletePath's folder, where it is not the source's
    const detail::Finish finished = detail::finishOperation(
        context, split, messages::deleteSourceQuestion(DeletePath), messages::kPartsComplete,
        "split", splitter.partsFolder ? &*splitter.partsFolder : nullptr, splitter.created,
        [&]() -> detail::Doomed {
            // The file is looked for through the source's folder held since it was read; a
            // path to another folder is opened now, and must still hold the same file.
            const detail::Folder* folder = &*splitter.sourceFolder;
            if (folderOf(DeletePath) != folderOf(Filename)) {
                auto opened = detail::Folder::open(context.fs, folderOf(DeletePath));
                if (!opened)
                    return detail::Folder::failureFor(opened.failure(), FileAction::Delete,
                                                      DeletePath);
                other.emplace(std::move(opened.value()));
                folder = &*other;
            }
            // Bytes added to the source while it was split, or another file put at its name,
            // are in no broken file: such a source stays.
            const auto unchanged =
                unchangedSource(context.fs, *folder, DeletePath, splitter.sourceStat);
            if (!unchanged)
                return unchanged.failure();
            if (!unchanged.value()) {
                context.box.refuse(messages::sourceChangedMessage(DeletePath));
                return std::optional<std::vector<detail::DoomedFile>>();
            }
            return std::optional(
                std::vector<detail::DoomedFile>{{folder, DeletePath, *unchanged.value()}});
        });
    switch (finished) {
    case detail::Finish::Done:
        return SplitEnd::Split;
    case detail::Finish::FilesLeft:
        return SplitEnd::FilesLeft;
    case detail::Finish::NotDone:
        break;
    }
    return SplitEnd::NotDone;
}

bool SplitFile(const std::string& Filename, std::int32_t Filesize, const std::string& Prefix,
               const std::string& DeletePath, OperationContext& context,
               const SplitOptions& options) {
    return splitBy(SplitRule::Kilobytes, Filename, Filesize, Prefix, DeletePath, context,
                   options) == SplitEnd::Split;
}

bool SplitFile2(const std::string& Filename, std::int32_t Filenumber, const std::string& Prefix,
                const std::string& DeletePath, OperationContext& context,
                const SplitOptions& options) {
    return splitBy(SplitRule::NumberOfParts, Filename, Filenumber, Prefix, DeletePath, context,
                   options) == SplitEnd::Split;
}

} // namespace tolvar
