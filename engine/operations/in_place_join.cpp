#include "in_place_join.h"

#include "byte_count.h"
#include "checksum_file.h"
#include "copier.h"
#include "file_handle.h"
#include "folder.h"
#include "folder_files.h"
#include "hashed_copy.h"
#include "interrupted_runs.h"
#include "parallel_hasher.h"
#include "part_header.h"
#include "path_parts.h"
#include "pending_set.h"
#include "portable_names.h"
#include "recovery.h"
#include "repair.h"
#include "room.h"
#include "room_needs.h"
#include "run_journal.h"
#include "sha256.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <span>
#include <string_view>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tolvar {

using detail::FileHandle;
using detail::FileIdentity;
using InPlace = detail::JournalContents::InPlaceJoin;

Message messages::inPlaceJoinQuestion(const std::string& output) {
    return Message(MessageId::InPlaceJoinQuestion, {escapedForDisplay(fileNameOf(output))});
}

Message messages::inPlaceSuggestion(const std::string& output, const JoinRoom& room) {
    return Message(MessageId::InPlaceRoomNeeded,
                   {escapedForDisplay(fileNameOf(output)), roomInWords(room.plain),
                    roomInWords(room.free.value_or(0)), roomInWords(room.inPlace)});
}

JoinRoom roomForJoin(FileSystem& fs, const JoinPlan& plan) {
    JoinRoom room;
    if (!plan.set)
        return room;
    // The same figures a plain join refuses by, so the two never disagree on what fits.
    const RoomCheck plain = joinRoomAt(fs, folderOf(plan.output), plan.set->presentPayload());
    room.plain = plain.need;
    room.free = plain.free;
    std::uint64_t largest = 0;
    for (const PartEntry& entry : plan.set->parts)
        largest = std::max(largest, entry.payloadSize);
    std::uint64_t checksums = 0;
    if (plan.checksums.status)
        checksums += static_cast<std::uint64_t>(plan.checksums.status->st_size);
    if (plan.checksums.companionStatus)
        checksums += static_cast<std::uint64_t>(plan.checksums.companionStatus->st_size);
    room.inPlace = largest + checksums;
    struct stat output {};
    struct stat parts {};
    room.besideTheParts = fs.stat(folderOf(plan.output), &output) == 0 &&
                          fs.stat(folderOf(plan.chosen), &parts) == 0 &&
                          output.st_dev == parts.st_dev && output.st_ino == parts.st_ino;
    return room;
}

namespace {

// fusefat, the FUSE driver for FAT, spoils bytes already in a file when more are written to it
// after it was closed and opened again (seen with Debian 12's fusefat 0.1): picking up an
// in-place join there would spoil bytes of broken files already gone. Known by the mount's type
// in /proc/self/mountinfo, for the folder's device.
bool spoilsReopenedFiles(FileSystem& fs, const detail::Folder& folder) {
    constexpr long kFuseMagic = 0x65735546;
    struct statfs info {};
    if (fs.fstatfs(folder.fd(), &info) != 0 || static_cast<long>(info.f_type) != kFuseMagic)
        return false;
    const int fd = fs.open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    FileHandle file(fs, fd);
    std::string text(std::size_t{1} << 20, '\0');
    auto got = detail::readFully(fs, fd, text.data(), text.size(), 0, "/proc/self/mountinfo");
    if (!got)
        return false;
    text.resize(got.value());
    const dev_t device = folder.status().st_dev;
    const std::string numbers =
        " " + std::to_string(major(device)) + ":" + std::to_string(minor(device)) + " ";
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line(text.data() + at, end - at);
        at = end + 1;
        const std::size_t type = line.find(" - ");
        if (line.find(numbers) < type && type != std::string_view::npos &&
            line.substr(type + 3).starts_with("fuse.fusefat "))
            return true;
    }
    return false;
}

std::string baseNameOf(const JoinPlan& plan) {
    if (plan.set)
        return fileNameOf(plan.set->base);
    const std::string name = fileNameOf(plan.chosen);
    return name.size() > 3 ? name.substr(0, name.size() - 3) : std::string();
}

// The journal of an interrupted in-place join of the set `base` in folder, the one that came
// furthest; our journals of one join are one file, so there is at most one. The folder is
// known by its device and inode, or, after a remount numbered it afresh, by its path: the
// pick-up then knows the run's files by what they hold.
std::optional<std::pair<std::string, detail::JournalContents>>
waitingJoin(FileSystem& fs, const detail::Folder& folder, const std::string& base) {
    std::optional<std::pair<std::string, detail::JournalContents>> found;
    for (auto& [path, run] : detail::unfinishedInPlaceJoins(fs)) {
        const bool same =
            run.folderDevice == folder.status().st_dev && run.folderInode == folder.status().st_ino;
        if ((!same && run.folder != folder.path()) || run.inPlace->base != base)
            continue;
        if (!found || run.inPlace->partsIn > found->second.inPlace->partsIn)
            found.emplace(path, std::move(run));
    }
    return found;
}

class InPlaceJoiner {
public:
    InPlaceJoiner(OperationContext& context, JoinPlan& plan, const InPlaceOptions& options)
        : context(context), fs(context.fs), plan(plan), options(options) {}

    JoinEnd run();

private:
    detail::Step holdFolder();
    detail::Step driverIsSafe();
    detail::Step judgeSet();
    detail::Step outputIsSafe();
    detail::Step contentsAreGood();
    detail::Step start();
    detail::Step pickUp(const std::string& journalPath, const detail::JournalContents& run);
    detail::Step moveParts();
    detail::Step deletePart(std::size_t index, const struct stat& read);
    void abandon(const std::string& journalPath, const InPlace& run);
    detail::Step place();
    bool deleteRest();
    Failure changed(const std::string& path) const {
        return makeFailure(FailureKind::IoError,
                           "'" + path + "' changed while the set was being assembled");
    }
    bool refuse(const std::string& message) {
        context.box.refuse(message);
        ended = JoinEnd::Refused;
        return false;
    }
    std::string pathOf(const std::string& name) const { return folder->pathOf(name); }
    std::string output() const { return pathOf(state.output); }

    OperationContext& context;
    FileSystem& fs;
    JoinPlan& plan;
    const InPlaceOptions& options;
    JoinEnd ended = JoinEnd::Refused;

    std::optional<detail::Folder> folder; // the set's, where the rebuilt file is made too
    FileHandle lock;
    std::unique_ptr<detail::RunJournal> journal;
    InPlace state;
    // Each remaining broken file as it was judged, for the check before and after its copy.
    std::vector<struct stat> judged;
    std::optional<struct stat> outputSeen; // what the rebuilt file may replace
    FileHandle temporary;                  // written at its end
    FileHandle readBack;                   // the same file, for hashing what landed in it
    off_t written = 0;
    std::unique_ptr<detail::ParallelHasher> hasher;
    int wholeStream = -1;
    mode_t mode = 0644;
    bool pickedUp = false; // going on with an interrupted run's join
};

detail::Step InPlaceJoiner::holdFolder() {
    auto held = detail::Folder::open(fs, folderOf(plan.chosen));
    if (!held)
        return detail::Folder::failureFor(held.failure(), FileAction::Open, plan.chosen);
    folder.emplace(std::move(held.value()));
    // One in-place join at a time in a folder: a second one must not move the same files.
    detail::LockWait wait{std::chrono::milliseconds(context.lockWaitMilliseconds), {}};
    auto locked = detail::lockFolder(fs, *folder, wait);
    if (!locked)
        return locked.failure();
    lock = std::move(locked.value());
    return true;
}

detail::Step InPlaceJoiner::driverIsSafe() {
    if (!spoilsReopenedFiles(fs, *folder))
        return true;
    return refuse(Message(MessageId::InPlaceUnsafeDriver, {quotedName(folder->shown())}));
}

detail::Step InPlaceJoiner::judgeSet() {
    if (!plan.set) {
        if (plan.outcome == JoinOutcome::Failed)
            return *plan.failure;
        return refuse(messages::kNotSplitFile);
    }
    switch (plan.outcome) {
    case JoinOutcome::NotFirstPart:
    case JoinOutcome::WrongIndex:
        ended = JoinEnd::Stopped;
        return false;
    case JoinOutcome::NotASplitFile:
        return refuse(messages::kNotSplitFile);
    case JoinOutcome::NotABrokenFile:
        return refuse(messages::kNotBrokenFile);
    case JoinOutcome::SetMismatch:
        return refuse(messages::notAssembledMessage(plan.set->problemInWords()));
    case JoinOutcome::Failed:
        return *plan.failure;
    default:
        return true;
    }
}

detail::Step InPlaceJoiner::outputIsSafe() {
    const std::string& tail = plan.set->chosen.header.NameTail;
    const std::string name = fileNameOf(plan.output);
    if (tail.find('\0') != std::string::npos || tail.find('/') != std::string::npos ||
        name.empty() || name == "." || name == "..")
        return refuse(messages::kUnsafeNameTail);
    // The rebuilt file grows where its broken files shrink away: in their folder.
    auto outputFolder = detail::Folder::open(fs, folderOf(plan.output));
    if (!outputFolder || !detail::sameFile(outputFolder.value().status(), folder->status()))
        return refuse(Message(MessageId::InPlaceOutputElsewhere, {escapedForDisplay(plan.output)}));
    if (plan.outputNamesAPart())
        return refuse(messages::kOutputIsPart);
    struct stat atOutput {};
    const bool present = fs.lstatAt(folder->fd(), name, &atOutput) == 0;
    if (present && S_ISDIR(atOutput.st_mode))
        return refuse(messages::outputIsFolderMessage(plan.output));
    if (options.join.outputSeen) {
        if (options.join.outputSeen->present)
            outputSeen = options.join.outputSeen->status;
    } else if (present) {
        outputSeen = atOutput;
    }
    state.output = name;
    state.base = baseNameOf(plan);
    return true;
}

detail::Step InPlaceJoiner::contentsAreGood() {
    if (plan.outcome == JoinOutcome::ChecksumFileDamaged)
        return refuse(messages::checksumFileDamagedMessage(plan.checksums.path,
                                                           plan.checksums.problem->reason) +
                      " " + messages::kAssembleWithoutChecksumFile);
    if (const auto& problem = plan.checksums.problem)
        context.box.inform(
            messages::checksumFileUnusableMessage(plan.checksums.path, problem->reason));
    checkJoinContents(fs, plan, context.progress);
    if (plan.outcome == JoinOutcome::RebuildPossible) {
        // A damaged file found half-way could not be rebuilt once the files before it are
        // gone: it is rebuilt now, and the set judged again.
        // The repair commits under the folder's lock, which this run holds until then.
        lock.close();
        auto repaired = RepairSet(plan.chosen, fs, context.progress);
        if (!repaired)
            return repaired.failure();
        auto locked = detail::lockFolder(
            fs, *folder, {std::chrono::milliseconds(context.lockWaitMilliseconds), {}});
        if (!locked)
            return locked.failure();
        lock = std::move(locked.value());
        if (repaired.value().outcome == RepairReport::Outcome::Cancelled) {
            ended = JoinEnd::Cancelled;
            return false;
        }
        if (repaired.value().outcome == RepairReport::Outcome::Repaired) {
            const std::string& tail = plan.set->chosen.header.NameTail;
            const std::string prefix = plan.output.substr(0, plan.output.size() - tail.size());
            plan = planJoin(fs, {plan.chosen, prefix, PlanFor::Join, PlanDepth::Contents},
                            context.progress);
        }
    }
    switch (plan.outcome) {
    case JoinOutcome::Ready:
        break;
    case JoinOutcome::Cancelled:
        ended = JoinEnd::Cancelled;
        return false;
    case JoinOutcome::RebuildPossible:
    case JoinOutcome::RebuildImpossible:
        if (plan.failure)
            return *plan.failure;
        return refuse(messages::partsDoNotMatchMessage("\n" + plan.lostInWords(false)));
    default:
        return judgeSet();
    }
    if (!plan.checksCopy() && !options.uncheckedConfirmed &&
        !context.box.askDefaultNo(
            Message(MessageId::InPlaceUncheckedQuestion, {escapedForDisplay(plan.output)}))) {
        ended = JoinEnd::Declined;
        return false;
    }
    return true;
}

// Records the set as judged, then makes the temporary: from the journal's first in-place
// record on, no clean-up touches either.
detail::Step InPlaceJoiner::start() {
    const PartSet& set = *plan.set;
    if (const auto limit = detail::knownFileSizeLimit(fs, *folder);
        limit && set.presentPayload() > limit->bytes)
        return refuse(detail::tooLargeMessage(plan.output, set.presentPayload(), limit->bytes,
                                              limit->fileSystem, folder->shown()));
    for (const PartEntry& entry : set.parts) {
        const std::string name = fileNameOf(entry.path);
        auto identity = detail::identityOf(fs, folder->fd(), name, entry.status, entry.path);
        if (!identity)
            return identity.failure();
        state.parts.push_back({name, identity.value()});
        judged.push_back(entry.status);
    }
    // What goes once the rebuilt file is in place: the recovery files (which rebuild nothing
    // without the broken files), then the checksum files that vouched for them.
    std::vector<std::string> after;
    if (plan.checksCopy()) {
        auto recovery = findRecoveryParts(fs, set.base, set.count);
        if (!recovery)
            return recovery.failure();
        for (const auto& part : recovery.value())
            after.push_back(part.path);
        const auto paths = plan.checksums.paths();
        after.insert(after.end(), paths.begin(), paths.end());
        state.digest = toHex(plan.checksums.file->wholeDigest);
    }
    for (const auto& path : after) {
        struct stat st {};
        if (fs.lstatAt(folder->fd(), fileNameOf(path), &st) != 0) {
            if (errno == ENOENT)
                continue;
            return fileFailure(errno, FileAction::Open, path);
        }
        if (!S_ISREG(st.st_mode))
            continue;
        auto identity = detail::identityOf(fs, folder->fd(), fileNameOf(path), st, path);
        if (!identity)
            return identity.failure();
        state.after.push_back({fileNameOf(path), identity.value()});
    }
    auto started = detail::RunJournal::start(fs, *folder, "join", folder->path());
    if (!started)
        return started.failure();
    journal = std::move(started.value());
    mode = set.parts.front().status.st_mode & 0777;
    // Private to its owner while written; it gets the first broken file's bits when named.
    auto created =
        detail::createTemporary(fs, *journal, *folder, plan.output, state.temporary, 0600);
    if (!created)
        return created.failure();
    temporary = std::move(created.value());
    if (auto recorded = journal->startInPlaceJoin(state); !recorded) {
        temporary.close();
        fs.unlinkAt(folder->fd(), state.temporary);
        return recorded.failure();
    }
    return true;
}

// The interrupted run's temporary must still be the file it wrote, and each broken file not
// yet moved the one it judged; then what was written after its last record is dropped.
detail::Step InPlaceJoiner::pickUp(const std::string& journalPath,
                                   const detail::JournalContents& run) {
    state = *run.inPlace;
    pickedUp = true;
    auto adopted = detail::RunJournal::adopt(fs, journalPath, folder->path());
    if (!adopted)
        return adopted.failure();
    journal = std::move(adopted.value());
    // Refused from here on, the journal stays: it is still the only record of the join.
    journal->keep();
    const auto cannotPickUp = [&](const std::string& name) {
        return refuse(Message(MessageId::InPlaceCannotPickUp,
                              {quotedName(output()), quotedName(pathOf(name))}));
    };
    if (state.placed)
        return true;
    const int fd = fs.openAt(folder->fd(), state.temporary, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        // Stopped between naming the complete file and recording it: the name holds it.
        if (err == ENOENT && state.partsIn == state.parts.size()) {
            struct stat named {};
            if (fs.lstatAt(folder->fd(), state.output, &named) == 0 && S_ISREG(named.st_mode) &&
                named.st_size == state.length) {
                const auto fingerprint =
                    detail::fingerprintAt(fs, folder->fd(), state.output, named);
                if (fingerprint && *fingerprint == state.fingerprint) {
                    state.placed = true;
                    return true;
                }
            }
        }
        if (err == ENOENT || err == ELOOP)
            return cannotPickUp(state.temporary);
        return fileFailure(err, FileAction::Open, pathOf(state.temporary));
    }
    temporary = FileHandle(fs, fd);
    struct stat st {};
    if (fs.fstat(fd, &st) != 0)
        return fileFailure(errno, FileAction::Read, pathOf(state.temporary));
    // Only this user's journal knows the hidden name; what is there must also be a file of
    // this user's with one name, long enough, that holds what the run recorded.
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid() ||
        st.st_size < state.length)
        return cannotPickUp(state.temporary);
    if (state.partsIn > 0) {
        auto fingerprint = detail::fingerprintOf(fs, fd, state.length, pathOf(state.temporary));
        if (!fingerprint)
            return fingerprint.failure();
        if (fingerprint.value() != state.fingerprint)
            return cannotPickUp(state.temporary);
    }
    mode = st.st_mode & 0777;
    judged.assign(state.parts.size(), {});
    for (std::size_t index = 0; index < state.parts.size(); ++index) {
        const auto& part = state.parts[index];
        struct stat now {};
        const bool present = fs.lstatAt(folder->fd(), part.name, &now) == 0;
        if (!present && errno != ENOENT)
            return fileFailure(errno, FileAction::Open, pathOf(part.name));
        bool holds = present && S_ISREG(now.st_mode) && part.identity.matches(now);
        if (present && !holds && S_ISREG(now.st_mode) && now.st_size == part.identity.size &&
            !part.identity.fingerprint.empty()) {
            const auto fingerprint = detail::fingerprintAt(fs, folder->fd(), part.name, now);
            holds = fingerprint && *fingerprint == part.identity.fingerprint;
        }
        if (index >= state.partsIn && !holds)
            return cannotPickUp(part.name);
        judged[index] = now;
    }
    // The run may have been stopped between recording a file as moved and deleting it.
    for (std::size_t index = 0; index < state.partsIn; ++index) {
        struct stat now {};
        if (fs.lstatAt(folder->fd(), state.parts[index].name, &now) == 0 &&
            detail::sameVersion(now, judged[index]))
            if (auto deleted = deletePart(index, judged[index]); !deleted)
                return deleted;
    }
    // What lies past the last record is the start of the next broken file's bytes, which the
    // copy writes again at the same places: a file system that cannot cut a file (fusefat)
    // leaves no difference once the copy is done.
    if (st.st_size > state.length && fs.truncate(fd, state.length) != 0 && errno != EPERM &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
        return fileFailure(errno, FileAction::Write, output());
    if (fs.fsync(fd) != 0 && !detail::cannotFlush(errno))
        return fileFailure(errno, FileAction::Sync, output());
    return true;
}

// An interrupted run that deleted nothing has nothing to pick up: its temporary (a file of this
// user's with one name at a hidden name only its journal knows) and its journal go, and the
// join starts afresh.
void InPlaceJoiner::abandon(const std::string& journalPath, const InPlace& run) {
    struct stat st {};
    if (fs.lstatAt(folder->fd(), run.temporary, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_nlink == 1 && st.st_uid == ::geteuid())
        fs.unlinkAt(folder->fd(), run.temporary);
    fs.unlink(journalPath);
}

detail::Step InPlaceJoiner::deletePart(std::size_t index, const struct stat& read) {
    const std::string& name = state.parts[index].name;
    struct stat now {};
    if (fs.lstatAt(folder->fd(), name, &now) != 0) {
        // Gone already: its bytes are in the rebuilt file, and nothing else was there.
        if (errno == ENOENT)
            return true;
        return fileFailure(errno, FileAction::Delete, pathOf(name));
    }
    if (!detail::sameVersion(now, read))
        return changed(pathOf(name));
    if (fs.unlinkAt(folder->fd(), name) != 0 && errno != ENOENT)
        return fileFailure(errno, FileAction::Delete, pathOf(name));
    return true;
}

detail::Step InPlaceJoiner::moveParts() {
    const int out = temporary.get();
    // Read back through a descriptor opened after the last bytes were written: some FUSE
    // drivers show an older one none of them.
    const auto reopen = [&]() -> Result<void> {
        readBack.close();
        const int fd = fs.openAt(folder->fd(), state.temporary,
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return fileFailure(errno, FileAction::Open, output());
        readBack = FileHandle(fs, fd);
        return {};
    };
    if (!state.digest.empty()) {
        // Room for 64 MiB of written bytes waiting to be hashed: the one whole-file stream then
        // goes on hashing while each part is flushed and deleted, which take as long as copying
        // it, instead of the copy waiting for the hash.
        hasher = std::make_unique<detail::ParallelHasher>(1, 64);
        wholeStream = hasher->openStream(0);
    }
    // What an interrupted run wrote is read once, in order: that takes the descriptor to where
    // the copy goes on, and gives the digest so far.
    const detail::HashTarget targets[] = {{wholeStream, 0}};
    std::vector<char> buffer(hasher ? 0 : CopyStepSize);
    while (written < state.length) {
        const std::span<char> block = hasher ? hasher->acquire() : std::span<char>(buffer);
        const auto want = static_cast<std::size_t>(
            std::min<off_t>(state.length - written, static_cast<off_t>(block.size())));
        const ssize_t got = fs.read(out, block.data(), want);
        if (got <= 0) {
            if (hasher)
                hasher->submit(block, {});
            if (got < 0 && errno == EINTR)
                continue;
            return got < 0 ? fileFailure(errno, FileAction::Read, output()) : changed(output());
        }
        if (hasher) {
            const detail::ParallelHasher::Piece piece{wholeStream, 0,
                                                      static_cast<std::size_t>(got)};
            hasher->submit(block, {&piece, 1});
        }
        written += got;
    }
    std::uint64_t total = 0;
    for (std::size_t index = state.partsIn; index < state.parts.size(); ++index)
        total += static_cast<std::uint64_t>(state.parts[index].identity.size) - kHeaderSize;
    detail::ProgressTracker tracker(context.progress, total, static_cast<int>(state.parts.size()));
    tracker.setMoving();
    detail::Copier copier(fs, tracker);
    for (std::size_t index = state.partsIn; index < state.parts.size(); ++index) {
        const std::string path = pathOf(state.parts[index].name);
        struct stat st {};
        auto opened = detail::openForReadingAt(fs, *folder, state.parts[index].name, path, &st);
        if (!opened)
            return opened.failure();
        if (!detail::sameVersion(st, judged[index]))
            return changed(path);
        tracker.setPart(static_cast<int>(index), path);
        if (!tracker.advance(0)) {
            ended = JoinEnd::Cancelled;
            return false;
        }
        if (auto reopened = reopen(); !reopened)
            return reopened.failure();
        const int back = readBack.get();
        const auto payload = static_cast<std::uint64_t>(st.st_size) - kHeaderSize;
        off_t inOffset = static_cast<off_t>(kHeaderSize);
        const off_t before = written;
        const detail::Step copied =
            hasher ? detail::copyHashed(fs, copier, *hasher, opened.value().get(), inOffset, out,
                                        back, written, payload, path, output(), targets, true)
                   : copier.copyExactly(opened.value().get(), inOffset, out, written, payload, path,
                                        output());
        if (!copied || !copied.value()) {
            // What came of this file stays in it until the next run cuts it off again.
            if (!copied)
                return copied;
            ended = JoinEnd::Cancelled;
            return false;
        }
        written = before + static_cast<off_t>(payload);
        if (fs.fstat(opened.value().get(), &st) != 0)
            return fileFailure(errno, FileAction::Read, path);
        if (!detail::sameVersion(st, judged[index]))
            return changed(path);
        // Its bytes and the temporary's name durable, then recorded, and only then it goes.
        if (fs.fsync(out) != 0 && !detail::cannotFlush(errno))
            return fileFailure(errno, FileAction::Sync, output());
        if (fs.fsync(folder->fd()) != 0 && !detail::cannotFlush(errno))
            return fileFailure(errno, FileAction::Sync, folder->shown());
        if (auto reopened = reopen(); !reopened)
            return reopened.failure();
        auto fingerprint = detail::fingerprintOf(fs, readBack.get(), written, output());
        if (!fingerprint)
            return fingerprint.failure();
        if (auto recorded = journal->markPartsIn(index + 1, written, fingerprint.value());
            !recorded)
            return recorded.failure();
        journal->keep();
        state.partsIn = index + 1;
        state.length = written;
        state.fingerprint = fingerprint.value();
        opened.value().close();
        if (auto deleted = deletePart(index, judged[index]); !deleted)
            return deleted;
    }
    if (hasher && toHex(hasher->finishStream(wholeStream)) != state.digest) {
        // Every broken file passed its own check, so this is a fault of the disk or of a
        // program writing into the file: it stays whole at its hidden name, named to the user.
        journal->drop();
        journal.reset();
        return refuse(Message(MessageId::InPlaceDiffers,
                              {quotedName(output()), quotedName(pathOf(state.temporary))}));
    }
    return true;
}

detail::Step InPlaceJoiner::place() {
    if (!state.placed) {
        if (fs.fchmod(temporary.get(), detail::lessUmask(mode)) != 0 && errno != EPERM &&
            errno != ENOSYS && errno != EOPNOTSUPP)
            return fileFailure(errno, FileAction::Write, output());
        temporary.close();
        readBack.close();
        struct stat now {};
        const bool taken = fs.lstatAt(folder->fd(), state.output, &now) == 0;
        // A run picking up another one's join asks now whether the file there may go: the
        // answer given to the first run is not known.
        if (taken && pickedUp && !S_ISDIR(now.st_mode)) {
            if (!context.box.askDefaultNo(messages::replaceQuestion(output()))) {
                ended = JoinEnd::Declined;
                return false;
            }
            outputSeen = now;
        }
        int moved = 0;
        if (taken && outputSeen && detail::sameFile(now, *outputSeen))
            moved = fs.renameAt(folder->fd(), state.temporary, state.output);
        else
            moved = detail::moveOntoFreeName(fs, *folder, state.temporary, state.output);
        if (moved != 0)
            return fileFailure(errno, FileAction::Rename, output());
        if (fs.fsync(folder->fd()) != 0 && !detail::cannotFlush(errno))
            return fileFailure(errno, FileAction::Sync, folder->shown());
        if (auto recorded = journal->markPlaced(); !recorded)
            return recorded.failure();
        state.placed = true;
    }
    if (!deleteRest())
        ended = JoinEnd::FilesLeft;
    return true;
}

bool InPlaceJoiner::deleteRest() {
    std::vector<std::string> left;
    for (const auto& file : state.after) {
        struct stat st {};
        if (fs.lstatAt(folder->fd(), file.name, &st) != 0) {
            if (errno != ENOENT)
                left.push_back(pathOf(file.name));
            continue;
        }
        if (!file.identity.matches(st) || fs.unlinkAt(folder->fd(), file.name) != 0)
            left.push_back(pathOf(file.name));
    }
    if (!left.empty()) {
        // The journal stays: the next command's clean-up deletes what still holds what was
        // recorded, as it finishes any run's deletions.
        context.box.refuse(messages::notDeletedMessage(messages::assembledAs(output()), left));
        return false;
    }
    // The rebuilt file is whole and named: nothing the journal names needs it any longer.
    journal->drop();
    journal.reset();
    return true;
}

JoinEnd InPlaceJoiner::run() {
    if (!context.box.ask(messages::kConfirmAssemble))
        return JoinEnd::Declined;
    // The clean-up every run does first finishes the deletions of an interrupted join whose
    // rebuilt file already has its name: then this join, run again, is done.
    bool placedBefore = false;
    if (auto held = detail::Folder::open(fs, folderOf(plan.chosen))) {
        const auto before = waitingJoin(fs, held.value(), baseNameOf(plan));
        placedBefore = before && before->second.inPlace->placed;
    }
    detail::finishInterruptedRuns(fs, context.box);
    detail::Step step = holdFolder();
    std::optional<std::pair<std::string, detail::JournalContents>> waiting;
    if (step && step.value())
        waiting = waitingJoin(fs, *folder, baseNameOf(plan));
    if (step && step.value() && placedBefore && !waiting)
        return JoinEnd::Joined;
    if (step && step.value())
        step = driverIsSafe();
    if (step && step.value() && waiting && waiting->second.inPlace->partsIn == 0 &&
        !waiting->second.inPlace->placed) {
        abandon(waiting->first, *waiting->second.inPlace);
        waiting.reset();
    }
    if (step && step.value()) {
        if (waiting) {
            step = pickUp(waiting->first, waiting->second);
        } else {
            for (const auto stage : {&InPlaceJoiner::judgeSet, &InPlaceJoiner::outputIsSafe,
                                     &InPlaceJoiner::contentsAreGood, &InPlaceJoiner::start})
                if (step = (this->*stage)(); !step || !step.value())
                    break;
        }
    }
    if (step && step.value() && !state.placed)
        step = moveParts();
    if (step && step.value())
        step = place();
    if (options.contentsChecked != nullptr)
        *options.contentsChecked = !state.digest.empty();
    if (step && step.value())
        return ended == JoinEnd::FilesLeft ? ended : JoinEnd::Joined;
    if (!step)
        showFailureReport(context.box, step.failure());
    if (journal && state.partsIn == 0 && !waiting) {
        // Nothing was deleted: the run leaves nothing behind, as a plain join would.
        temporary.close();
        readBack.close();
        fs.unlinkAt(folder->fd(), state.temporary);
        journal.reset();
    } else if (journal) {
        context.box.inform(Message(MessageId::InPlaceJoinUnfinished,
                                   {quotedName(output()), quotedName(pathOf(state.base + "000"))}));
    }
    return step ? ended : JoinEnd::Refused;
}

} // namespace

bool inPlaceJoinWaits(FileSystem& fs, const std::string& chosen) {
    auto held = detail::Folder::open(fs, folderOf(chosen));
    if (!held)
        return false;
    JoinPlan named;
    named.chosen = chosen;
    return waitingJoin(fs, held.value(), baseNameOf(named)).has_value();
}

JoinEnd joinInPlace(JoinPlan& plan, OperationContext& context, const InPlaceOptions& options) {
    InPlaceJoiner joiner(context, plan, options);
    return joiner.run();
}

} // namespace tolvar
