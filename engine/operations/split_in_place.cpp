#include "split_in_place.h"

#include "checksum_file.h"
#include "copier.h"
#include "folder_files.h"
#include "in_place_split.h"
#include "join_script.h"
#include "part_header.h"
#include "path_parts.h"
#include "pending_set.h"
#include "portable_names.h"
#include "recovery.h"
#include "room.h"
#include "room_needs.h"
#include "sha256.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace tolvar {

namespace {

// What a file takes on the disk: its bytes rounded up to whole blocks of a size most file
// systems use, so that a set of many small files is not taken for one that fits.
constexpr std::uint64_t kBlock = 4096;
std::uint64_t onDisk(std::uint64_t bytes) {
    return (bytes + kBlock - 1) / kBlock * kBlock + kBlock;
}

// The checksum files and join script: a few lines per file of the set, generously.
std::uint64_t checksumFilesSize(std::int64_t partCount, const SplitOptions& options) {
    if (!options.writeChecksums)
        return 0;
    const auto lines = static_cast<std::uint64_t>(partCount + options.recoveryParts + 8);
    return 3 * onDisk(lines * 600);
}

} // namespace

SplitRoomCheck splitRoom(FileSystem& fs, const std::string& source, const std::string& prefix,
                         SplitRule rule, std::int32_t amount, const SplitOptions& options) {
    struct stat st {};
    if (fs.stat(source, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    const auto planned = planSplit(rule, amount, st.st_size);
    const auto base = partBaseName(source, prefix);
    if (!planned || planned.value().verdict != SplitPlan::Verdict::Ready || !base)
        return {};
    const SplitPlan& plan = planned.value();
    auto folder = detail::Folder::open(fs, folderOf(PartFileName(*base, 0)));
    if (!folder)
        return {};
    // The plain split's own figures, so the run is offered in place exactly when the plain one
    // would be refused.
    const RoomCheck beside =
        splitRoomAt(fs, folder.value().path(), plan, options, fileNameOf(*base).size());
    if (!beside.free)
        return {};
    SplitRoomCheck check{SplitRoom::FitsBeside, beside.need, *beside.free, 0};
    if (beside.fits())
        return check;
    std::uint64_t recovery = 0;
    if (options.recoveryParts > 0) {
        const RecoveryLayout layout{static_cast<int>(plan.partCount), options.recoveryParts,
                                    plan.partSize, plan.length, std::string(nameTailOf(source))};
        if (layout.valid())
            recovery = static_cast<std::uint64_t>(options.recoveryParts) *
                       onDisk(static_cast<std::uint64_t>(layout.recoveryFileSize()));
    }
    const auto count = static_cast<std::uint64_t>(plan.partCount);
    const std::uint64_t extra = recovery + checksumFilesSize(plan.partCount, options);
    // Every header and every file's last block stay; the source gives back its bytes as the
    // broken files take them, so one broken file is the most ever held twice.
    check.inPlace = onDisk(static_cast<std::uint64_t>(plan.partSize) + kHeaderSize) +
                    count * onDisk(0) + count * kHeaderSize + extra;
    // Only a source in that folder gives its room back there.
    const bool sameFolder = folder.value().status().st_dev == st.st_dev &&
                            folderOf(PartFileName(*base, 0)) == folderOf(source);
    check.verdict = check.free >= check.inPlace && sameFolder ? SplitRoom::FitsOnlyInPlace
                                                              : SplitRoom::FitsNeither;
    return check;
}

namespace detail {

namespace {

bool hasNoModes(int err) {
    return err == ENOSYS || err == EPERM || err == EOPNOTSUPP;
}

// The digest of a file's first bytes, up to 4 KiB but no more than its first broken file's
// payload, which stays in the source until the last cut. Empty when they cannot be read.
std::string headDigest(FileSystem& fs, int fd, std::int64_t partSize) {
    std::string head(static_cast<std::size_t>(std::clamp<std::int64_t>(partSize, 0, 4096)), '\0');
    auto got = readFully(fs, fd, head.data(), head.size(), 0, {});
    if (!got || got.value() != head.size())
        return {};
    return toHex(sha256Of(head));
}

// Whether a file the run recorded is still in folder, under its hidden name or its own.
bool anyFileThere(FileSystem& fs, const Folder& folder, const JournalContents& run) {
    return std::any_of(
        run.inPlaceFiles.begin(), run.inPlaceFiles.end(), [&](const InPlaceFile& file) {
            struct stat st {};
            return (fs.lstatAt(folder.fd(), file.hidden, &st) == 0 && file.identity.matches(st)) ||
                   (fs.lstatAt(folder.fd(), file.name, &st) == 0 && file.identity.matches(st));
        });
}

// Removes a hidden file this run began and could not finish: the source still has its bytes.
class Unfinished {
public:
    Unfinished(FileSystem& fs, const Folder& folder, const std::string& name)
        : fs(fs), folder(folder), name(name) {}
    ~Unfinished() {
        if (!done)
            fs.unlinkAt(folder.fd(), name);
    }
    void finished() { done = true; }

private:
    FileSystem& fs;
    const Folder& folder;
    const std::string& name;
    bool done = false;
};

// The run itself. Every file of the set is written under a hidden name and, once flushed with
// its folder, recorded in the journal before the source gives up its bytes; the names are
// taken only at the end, the first broken file last, so that no name shows a set while the
// source still holds part of it (a join of those would rebuild only the file's end).
class InPlaceSplit {
public:
    explicit InPlaceSplit(InPlaceSplitJob& job)
        : job(job), fs(job.context.fs), folder(job.folder), plan(job.plan),
          partCount(static_cast<int>(job.plan.partCount)) {}

    Step run(const std::optional<FoundInPlaceSplit>& earlier, bool& unfinished);

private:
    Step start();
    Step writeSet();
    Step takeOver(const FoundInPlaceSplit& earlier);
    // This run's journal, its lock held and the split recorded in it.
    Result<void> startJournal();
    Step checkNames();
    Step checkSource(int& next);
    Step writePart(int index, ProgressTracker& tracker, Copier& copier);
    Step cutSource(int index);
    Step writeRecovery();
    Step writeChecksumFiles();
    Step place();

    std::string partName(int index) const { return fileNameOf(PartFileName(job.base, index)); }
    std::string recoveryName(int index) const {
        return fileNameOf(RecoveryFileName(job.base, index));
    }
    // Every name of the set, in the order they are placed: the first broken file last.
    std::vector<std::string> setNames() const;
    std::int64_t payloadOf(int index) const {
        return index + 1 < partCount ? plan.partSize : plan.lastPartSize();
    }
    const InPlaceFile* recorded(const std::string& name) const {
        const auto found = std::find_if(files.begin(), files.end(),
                                        [&](const InPlaceFile& file) { return file.name == name; });
        return found == files.end() ? nullptr : &*found;
    }
    bool holds(const std::string& name, const FileIdentity& identity) const;
    bool refuse(const std::string& message) {
        job.context.box.refuse(message);
        return false;
    }
    // A new hidden file, named in the journal first.
    Result<FileHandle> createHidden(const std::string& reportPath, std::string& hidden);
    // Gives the finished file at hidden its bits, flushes it and its folder and records it;
    // from the record on, begun no longer removes it: the journal may name it.
    Result<void> record(FileHandle& file, const std::string& hidden, const std::string& name,
                        const std::string& reportPath, const std::string& digest,
                        Unfinished& begun);
    bool sameSource(const struct stat& st) const {
        return st.st_dev == split.original.device && st.st_ino == split.original.inode;
    }

    InPlaceSplitJob& job;
    FileSystem& fs;
    const Folder& folder;
    const SplitPlan& plan;
    const int partCount;
    std::unique_ptr<RunJournal> journal;
    InPlaceSplitRecord split;
    std::vector<InPlaceFile> files;
    std::vector<std::string> begun; // hidden names this run created files at
};

Step InPlaceSplit::run(const std::optional<FoundInPlaceSplit>& earlier, bool& unfinished) {
    if (earlier)
        files = earlier->contents.inPlaceFiles;
    if (const Step names = checkNames(); !names || !names.value())
        return names;
    const Step started = earlier ? takeOver(*earlier) : start();
    if (!started || !started.value())
        return started;
    unfinished = true;
    const Step done = writeSet();
    if ((!done || !done.value()) && files.empty()) {
        // Nothing was cut: the source is whole, and there is nothing to finish. What this run
        // began holds copies of its bytes only.
        for (const std::string& name : begun)
            fs.unlinkAt(folder.fd(), name);
        journal->drop();
        unfinished = false;
    }
    if (done && done.value())
        unfinished = false;
    return done;
}

Step InPlaceSplit::writeSet() {
    int next = partCount;
    if (const Step source = checkSource(next); !source || !source.value())
        return source;
    ProgressTracker tracker(job.context.progress,
                            static_cast<std::uint64_t>(std::min(plan.length, next * plan.partSize)),
                            partCount);
    Copier copier(fs, tracker);
    for (int index = next - 1; index >= 0; --index)
        if (const Step written = writePart(index, tracker, copier); !written || !written.value())
            return written;
    for (const auto step :
         {&InPlaceSplit::writeRecovery, &InPlaceSplit::writeChecksumFiles, &InPlaceSplit::place})
        if (const Step done = (this->*step)(); !done || !done.value())
            return done;
    return true;
}

std::vector<std::string> InPlaceSplit::setNames() const {
    std::vector<std::string> names;
    for (int index = 0; index < job.options.recoveryParts; ++index)
        names.push_back(recoveryName(index));
    if (job.options.writeChecksums) {
        names.push_back(fileNameOf(checksumFilePath(job.base)));
        names.push_back(fileNameOf(companionFilePath(job.base)));
        if (job.options.writeJoinScript)
            names.push_back(fileNameOf(joinScriptPath(job.base)));
    }
    for (int index = partCount - 1; index >= 0; --index)
        names.push_back(partName(index));
    return names;
}

bool InPlaceSplit::holds(const std::string& name, const FileIdentity& identity) const {
    struct stat st {};
    if (fs.lstatAt(folder.fd(), name, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (identity.matches(st))
        return true;
    // Renumbered since (a stick put back): known by what it holds.
    if (identity.fingerprint.empty() || st.st_size != identity.size)
        return false;
    const auto fingerprint = fingerprintAt(fs, folder.fd(), name, st);
    return fingerprint && *fingerprint == identity.fingerprint;
}

Step InPlaceSplit::start() {
    struct stat st {};
    if (fs.fstat(job.sourceFile.get(), &st) != 0)
        return fileFailure(errno, FileAction::Read, job.source);
    split.source = fileNameOf(job.source);
    split.original = FileIdentity::of(st);
    split.original.fingerprint = headDigest(fs, job.sourceFile.get(), plan.partSize);
    split.modifiedSeconds = st.st_mtim.tv_sec;
    split.modifiedNanoseconds = st.st_mtim.tv_nsec;
    split.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    split.rule = static_cast<int>(job.rule);
    split.amount = job.amount;
    split.recoveryParts = job.options.recoveryParts;
    split.checksums = job.options.writeChecksums;
    split.joinScript = job.options.writeJoinScript;
    split.base = fileNameOf(job.base);
    if (split.checksums) {
        // Cut from its end, the file is never read from its start again: its whole digest,
        // as sha256sum gives it, is taken now, in one read ahead of the first cut.
        ProgressTracker tracker(job.context.progress, static_cast<std::uint64_t>(st.st_size),
                                partCount);
        tracker.setChecking();
        tracker.setPart(0, job.source);
        Sha256 whole;
        std::vector<char> block(std::size_t{1} << 20);
        for (off_t at = 0; at < st.st_size;) {
            auto got = readFully(
                fs, job.sourceFile.get(), block.data(),
                static_cast<std::size_t>(std::min<off_t>(st.st_size - at, off_t(block.size()))), at,
                job.source);
            if (!got)
                return got.failure();
            if (got.value() == 0)
                return fileFailure(EIO, FileAction::Read, job.source);
            whole.update(block.data(), got.value());
            at += static_cast<off_t>(got.value());
            if (!tracker.advance(got.value()))
                return false;
        }
        split.wholeDigest = toHex(whole.finish());
    }
    if (auto started = startJournal(); !started)
        return started.failure();
    return true;
}

Result<void> InPlaceSplit::startJournal() {
    auto started = RunJournal::start(fs, folder, "split", job.source);
    if (!started)
        return started.failure();
    journal = std::move(started.value());
    if (auto locked = journal->holdLock(); !locked)
        return locked.failure();
    return journal->addInPlaceSplit(split);
}

Step InPlaceSplit::takeOver(const FoundInPlaceSplit& earlier) {
    const InPlaceSplitRecord& was = *earlier.contents.inPlaceSplit;
    if (was.rule != static_cast<int>(job.rule) || was.amount != job.amount ||
        was.recoveryParts != job.options.recoveryParts ||
        was.checksums != job.options.writeChecksums ||
        was.joinScript != job.options.writeJoinScript || was.base != fileNameOf(job.base))
        return refuse(
            Message(MessageId::InPlaceSplitOtherSettings,
                    {escapedForDisplay(job.source), inPlaceSplitCommand(earlier.contents)}));
    // Held while its records move to this run's journal: a second run going on with the same
    // split at the same time would cut the source twice.
    FileHandle old(fs, fs.open(earlier.path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!old.isOpen())
        return fileFailure(errno, FileAction::Open, earlier.path);
    if (fs.tryLock(old.get()) != 0) {
        if (errno != EWOULDBLOCK)
            return fileFailure(errno, FileAction::Lock, earlier.path);
        return refuse(Message(MessageId::InPlaceSplitRunning, {escapedForDisplay(job.source)}));
    }
    split = was;
    files = earlier.contents.inPlaceFiles;
    // A file begun but never recorded holds bytes the source still has: it goes. Only one of
    // our hidden names, as the journal knows them, that holds a file of this user's with one
    // name: never anything a stranger put in the folder.
    for (const std::string& name : earlier.contents.intended) {
        const bool kept = std::any_of(files.begin(), files.end(),
                                      [&](const InPlaceFile& file) { return file.hidden == name; });
        struct stat st {};
        if (!kept && fs.lstatAt(folder.fd(), name, &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && st.st_nlink == 1 && fs.unlinkAt(folder.fd(), name) != 0)
            return fileFailure(errno, FileAction::Delete, folder.pathOf(name));
    }
    if (auto started = startJournal(); !started)
        return started.failure();
    for (const InPlaceFile& file : files)
        if (auto written = journal->addInPlaceFile(file); !written)
            return written.failure();
    // Everything it said is in this run's journal, flushed: two would only say it twice. A
    // copy left by a run stopped right here goes too.
    if (fs.unlink(earlier.path) != 0 && errno != ENOENT)
        return fileFailure(errno, FileAction::Delete, earlier.path);
    for (const auto& other : unfinishedInPlaceSplits(fs))
        if (other.contents.folderDevice == earlier.contents.folderDevice &&
            other.contents.folderInode == earlier.contents.folderInode &&
            other.contents.inPlaceSplit->source == was.source &&
            other.contents.inPlaceSplit->original.inode == was.original.inode &&
            other.contents.inPlaceSplit->original.device == was.original.device)
            fs.unlink(other.path);
    return true;
}

Step InPlaceSplit::checkNames() {
    const std::vector<std::string> names = setNames();
    if (const auto tooLong = nameLengthRefusal(fs, folder, names))
        return refuse(*tooLong);
    for (const std::string& name : names) {
        const InPlaceFile* file = recorded(name);
        struct stat st {};
        const bool free = fs.lstatAt(folder.fd(), name, &st) != 0 && errno == ENOENT;
        // The set's own file, placed by the run that was stopped, is no other file.
        if (!free && !(file && holds(name, file->identity)))
            return refuse(Message(MessageId::InPlaceSplitNameTaken,
                                  {escapedForDisplay(folder.pathOf(name))}));
        if (file && !holds(file->hidden, file->identity) && !holds(name, file->identity))
            return refuse(Message(MessageId::InPlaceSplitFileMissing,
                                  {escapedForDisplay(folder.pathOf(name))}));
    }
    return true;
}

Step InPlaceSplit::checkSource(int& next) {
    next = partCount;
    while (next > 0 && recorded(partName(next - 1)))
        --next;
    for (int index = 0; index < next; ++index)
        if (recorded(partName(index)))
            return refuse(Message(MessageId::InPlaceSplitFileMissing,
                                  {escapedForDisplay(PartFileName(job.base, next - 1))}));
    if (!job.sourceFile.isOpen()) {
        // Gone: every byte must be in the broken files already.
        if (next == 0)
            return true;
        return refuse(Message(MessageId::InPlaceSplitFileMissing, {escapedForDisplay(job.source)}));
    }
    struct stat st {};
    if (fs.fstat(job.sourceFile.get(), &st) != 0)
        return fileFailure(errno, FileAction::Read, job.source);
    const off_t left = static_cast<off_t>(std::min(plan.length, next * plan.partSize));
    if (!sameSource(st))
        return refuse(
            Message(MessageId::InPlaceSplitSourceChanged, {escapedForDisplay(job.source)}));
    if (next < partCount && st.st_size == left + payloadOf(next)) {
        // Stopped between recording the broken file and cutting its bytes off.
        return cutSource(next);
    }
    if (st.st_size != left)
        return refuse(
            Message(MessageId::InPlaceSplitSourceChanged, {escapedForDisplay(job.source)}));
    if (next == 0)
        return cutSource(0);
    return true;
}

Result<FileHandle> InPlaceSplit::createHidden(const std::string& reportPath, std::string& hidden) {
    for (int attempt = 0;; ++attempt) {
        hidden = newHiddenName();
        if (auto noted = journal->addIntended(hidden); !noted)
            return noted.failure();
        const int fd = fs.openAt(folder.fd(), hidden,
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            begun.push_back(hidden);
            return FileHandle(fs, fd);
        }
        if (errno != EEXIST || attempt == 100)
            return fileFailure(errno, FileAction::Create, reportPath);
    }
}

Result<void> InPlaceSplit::record(FileHandle& file, const std::string& hidden,
                                  const std::string& name, const std::string& reportPath,
                                  const std::string& digest, Unfinished& begun) {
    if (fs.fchmod(file.get(), lessUmask(split.mode & 0777)) != 0 && !hasNoModes(errno))
        return fileFailure(errno, FileAction::Write, reportPath);
    if (fs.fsync(file.get()) != 0 && !cannotFlush(errno))
        return fileFailure(errno, FileAction::Sync, reportPath);
    struct stat st {};
    if (fs.fstat(file.get(), &st) != 0)
        return fileFailure(errno, FileAction::Read, reportPath);
    auto identity = identityOf(fs, folder.fd(), hidden, st, reportPath);
    if (!identity)
        return identity.failure();
    if (file.close() != 0)
        return fileFailure(errno, FileAction::Close, reportPath);
    if (fs.fsync(folder.fd()) != 0 && !cannotFlush(errno))
        return fileFailure(errno, FileAction::Sync, folder.shown());
    InPlaceFile done{name, hidden, std::move(identity.value()), digest};
    // A record that fails half-way may still be read: the file stays for the next run,
    // which removes it only if the journal does not name it.
    begun.finished();
    if (auto written = journal->addInPlaceFile(done); !written)
        return written;
    files.push_back(std::move(done));
    return {};
}

Step InPlaceSplit::writePart(int index, ProgressTracker& tracker, Copier& copier) {
    const std::string reportPath = PartFileName(job.base, index);
    std::string hidden;
    auto created = createHidden(reportPath, hidden);
    if (!created)
        return created.failure();
    FileHandle& part = created.value();
    Unfinished unfinished(fs, folder, hidden);
    const std::int64_t payload = payloadOf(index);
    if (auto reserved = preallocate(fs, part.get(),
                                    kHeaderSize + static_cast<std::uint64_t>(payload), reportPath);
        !reserved)
        return reserved.failure();
    const HeaderBytes header = PartHeader::build(index, partCount, job.source);
    if (auto written = writeAll(fs, part.get(), header.data(), header.size(), reportPath); !written)
        return written.failure();
    tracker.setPart(index, reportPath);
    off_t offset = static_cast<off_t>(index * plan.partSize);
    std::string digest;
    if (!split.checksums) {
        const Step copied = copier.copyExactly(
            job.sourceFile.get(), offset, part.get(), static_cast<off_t>(kHeaderSize),
            static_cast<std::uint64_t>(payload), job.source, reportPath);
        if (!copied || !copied.value())
            return copied;
    } else {
        Sha256 hash;
        hash.update(header.data(), header.size());
        std::vector<char> block(std::size_t{1} << 20);
        for (std::int64_t left = payload; left > 0;) {
            const auto want = static_cast<std::size_t>(
                std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
            auto got = readFully(fs, job.sourceFile.get(), block.data(), want, offset, job.source);
            if (!got)
                return got.failure();
            // Shorter than the split left it: another program cut it meanwhile.
            if (got.value() != want)
                return refuse(
                    Message(MessageId::InPlaceSplitSourceChanged, {escapedForDisplay(job.source)}));
            if (auto written = writeAll(fs, part.get(), block.data(), want, reportPath); !written)
                return written.failure();
            hash.update(block.data(), want);
            offset += static_cast<off_t>(want);
            left -= static_cast<std::int64_t>(want);
            if (!tracker.advance(want))
                return false;
        }
        digest = toHex(hash.finish());
    }
    if (auto recordedPart = record(part, hidden, partName(index), reportPath, digest, unfinished);
        !recordedPart)
        return recordedPart.failure();
    return cutSource(index);
}

Step InPlaceSplit::cutSource(int index) {
    // The descriptor held since the start, and the name, must still be that file at the
    // length this run left it: bytes added since are in no broken file.
    const int fd = job.sourceFile.get();
    struct stat held {
    }, named{};
    if (fs.fstat(fd, &held) != 0)
        return fileFailure(errno, FileAction::Read, job.source);
    const off_t before = static_cast<off_t>(index * plan.partSize + payloadOf(index));
    const bool named_ok = fs.lstatAt(folder.fd(), split.source, &named) == 0;
    if (!sameSource(held) || !named_ok || !sameFile(named, held) ||
        (held.st_size != before && held.st_size != index * plan.partSize))
        return refuse(
            Message(MessageId::InPlaceSplitSourceChanged, {escapedForDisplay(job.source)}));
    if (index > 0) {
        if (fs.truncate(fd, static_cast<off_t>(index * plan.partSize)) != 0)
            return fileFailure(errno, FileAction::Write, job.source);
        return true;
    }
    // Every byte is in a broken file: the emptied source goes.
    if (fs.unlinkAt(folder.fd(), split.source) != 0)
        return fileFailure(errno, FileAction::Delete, job.source);
    job.sourceFile.close();
    if (fs.fsync(folder.fd()) != 0 && !cannotFlush(errno))
        return fileFailure(errno, FileAction::Sync, folder.shown());
    return true;
}

Step InPlaceSplit::writeRecovery() {
    const int count = split.recoveryParts;
    bool all = true;
    for (int index = 0; index < count; ++index)
        all = all && recorded(recoveryName(index)) != nullptr;
    if (all)
        return true;
    // Computed from the broken files as flushed, exactly as a split that keeps its source
    // computes them: one read of the set, whatever order it was written in.
    const RecoveryLayout layout{partCount, count, plan.partSize, plan.length,
                                std::string(nameTailOf(job.source))};
    std::vector<std::string> parts;
    for (int index = 0; index < partCount; ++index) {
        const InPlaceFile* file = recorded(partName(index));
        parts.push_back(
            folder.reach(holds(file->hidden, file->identity) ? file->hidden : file->name));
    }
    std::vector<std::string> hidden(static_cast<std::size_t>(count));
    std::vector<FileHandle> handles;
    std::vector<std::unique_ptr<Unfinished>> unfinished;
    std::vector<RebuildTarget> targets;
    for (int index = 0; index < count; ++index) {
        const std::string reportPath = RecoveryFileName(job.base, index);
        auto created = createHidden(reportPath, hidden[std::size_t(index)]);
        if (!created)
            return created.failure();
        handles.push_back(std::move(created.value()));
        unfinished.push_back(std::make_unique<Unfinished>(fs, folder, hidden[std::size_t(index)]));
        targets.push_back({0, handles.back().get(), reportPath, nullptr});
    }
    std::vector<Digest> digests;
    auto written = writeRecoveryInto(fs, layout, parts, targets, job.context.progress,
                                     split.checksums ? &digests : nullptr);
    if (!written)
        return written.failure();
    if (!written.value())
        return false;
    for (int index = 0; index < count; ++index) {
        const auto at = std::size_t(index);
        if (recorded(recoveryName(index)))
            continue; // recorded by the run that was stopped; this copy goes
        const std::string digest = split.checksums ? toHex(digests[at]) : std::string();
        if (auto done = record(handles[at], hidden[at], recoveryName(index),
                               RecoveryFileName(job.base, index), digest, *unfinished[at]);
            !done)
            return done.failure();
    }
    return true;
}

Step InPlaceSplit::writeChecksumFiles() {
    if (!split.checksums)
        return true;
    const auto digestOf = [&](const std::string& name) {
        const InPlaceFile* file = recorded(name);
        return digestFromHex(file ? file->digest : std::string()).value_or(Digest{});
    };
    ChecksumFile file;
    file.program = checksumProgramName();
    file.sourcePath = split.source;
    file.sourceSize = static_cast<std::uint64_t>(plan.length);
    file.modifiedSeconds = split.modifiedSeconds;
    file.modifiedNanoseconds = split.modifiedNanoseconds;
    file.mode = split.mode;
    file.partSize = static_cast<std::uint64_t>(plan.partSize);
    for (int index = 0; index < partCount; ++index)
        file.parts.push_back({partName(index), digestOf(partName(index))});
    file.wholeDigest = digestFromHex(split.wholeDigest).value_or(Digest{});
    for (int index = 0; index < split.recoveryParts; ++index)
        file.recovery.push_back({recoveryName(index), digestOf(recoveryName(index))});
    const std::string plain = formatPlainChecksums(file);
    file.plainDigest = sha256Of(plain);
    std::vector<std::pair<std::string, std::string>> texts = {
        {checksumFilePath(job.base), plain},
        {companionFilePath(job.base), formatChecksumFile(file)}};
    if (split.joinScript)
        texts.emplace_back(
            joinScriptPath(job.base),
            formatJoinScript({split.base, partCount, split.source,
                              fileNameOf(checksumFilePath(job.base)), file.wholeDigest}));
    for (const auto& [path, text] : texts) {
        if (recorded(fileNameOf(path)))
            continue;
        std::string hidden;
        auto created = createHidden(path, hidden);
        if (!created)
            return created.failure();
        Unfinished unfinished(fs, folder, hidden);
        if (auto written = writeAll(fs, created.value().get(), text.data(), text.size(), path);
            !written)
            return written.failure();
        if (auto done = record(created.value(), hidden, fileNameOf(path), path, {}, unfinished);
            !done)
            return done.failure();
    }
    return true;
}

Step InPlaceSplit::place() {
    auto locked = lockFolder(
        fs, folder, LockWait{std::chrono::milliseconds(job.context.lockWaitMilliseconds), {}});
    if (!locked)
        return locked.failure();
    for (const std::string& name : setNames()) {
        const InPlaceFile* file = recorded(name);
        if (file == nullptr)
            continue;
        if (holds(file->hidden, file->identity)) {
            if (moveOntoFreeName(fs, folder, file->hidden, name) != 0) {
                if (errno == EEXIST)
                    return refuse(Message(MessageId::InPlaceSplitNameTaken,
                                          {escapedForDisplay(folder.pathOf(name))}));
                return fileFailure(errno, FileAction::Rename, folder.pathOf(name));
            }
        } else if (!holds(name, file->identity)) {
            return refuse(Message(MessageId::InPlaceSplitFileMissing,
                                  {escapedForDisplay(folder.pathOf(name))}));
        }
        job.created.push_back(folder.pathOf(name));
    }
    if (fs.fsync(folder.fd()) != 0 && !cannotFlush(errno))
        return fileFailure(errno, FileAction::Sync, folder.shown());
    if (auto marked = journal->markInPlaceDone(); !marked)
        return marked.failure();
    journal->drop();
    return true;
}

} // namespace

std::optional<FoundInPlaceSplit> earlierInPlaceSplit(FileSystem& fs, const Folder& folder,
                                                     const std::string& name, int source) {
    struct stat st {};
    if (source >= 0 && fs.fstat(source, &st) != 0)
        return std::nullopt;
    std::optional<FoundInPlaceSplit> chosen;
    for (auto& found : unfinishedInPlaceSplits(fs)) {
        const JournalContents& run = found.contents;
        const InPlaceSplitRecord& split = *run.inPlaceSplit;
        if (run.folderDevice != folder.status().st_dev ||
            run.folderInode != folder.status().st_ino || split.source != name)
            continue;
        if (source >= 0) {
            // The same file by number, and by its first bytes, which the cuts from its end
            // never reach: not a new file that was given the old one's number.
            const auto planned =
                planSplit(static_cast<SplitRule>(split.rule), split.amount, split.original.size);
            if (split.original.device != st.st_dev || split.original.inode != st.st_ino ||
                !planned ||
                headDigest(fs, source, planned.value().partSize) != split.original.fingerprint)
                continue;
        } else if (!anyFileThere(fs, folder, run)) {
            // Neither the source nor any of its files: nothing of it is left here.
            continue;
        }
        // Two journals of one split (a run stopped while taking over another's): the one
        // that knows more.
        if (!chosen || found.contents.inPlaceFiles.size() > chosen->contents.inPlaceFiles.size())
            chosen = std::move(found);
    }
    return chosen;
}

Step splitInPlace(InPlaceSplitJob& job, const std::optional<FoundInPlaceSplit>& earlier,
                  bool& unfinished) {
    InPlaceSplit run(job);
    return run.run(earlier, unfinished);
}

} // namespace detail

} // namespace tolvar
