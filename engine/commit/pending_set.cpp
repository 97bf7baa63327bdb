#include "pending_set.h"

#include "folder_files.h"
#include "path_parts.h"
#include "translation.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/sysmacros.h>
#include <thread>

namespace tolvar::detail {

namespace {

std::optional<struct stat> statusAt(FileSystem& fs, const Folder& folder, const std::string& name,
                                    int& err) {
    struct stat st {};
    if (fs.lstatAt(folder.fd(), name, &st) == 0) {
        err = 0;
        return st;
    }
    err = errno;
    return std::nullopt;
}

// The user whose process holds the flock of the file (device, inode), where /proc tells it;
// empty when it is this user, or unknown.
std::string otherLockHolder(const struct stat& locked) {
    std::ifstream locks("/proc/locks");
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(locked.st_dev),
                  minor(locked.st_dev), static_cast<unsigned long long>(locked.st_ino));
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiters carry "->".
        std::istringstream fields(line);
        std::string number, kind, advisory, access, pid, file;
        if (!(fields >> number >> kind >> advisory >> access >> pid >> file) || kind != "FLOCK" ||
            file != wanted)
            continue;
        struct stat process {};
        if (::stat(("/proc/" + pid).c_str(), &process) != 0 || process.st_uid == ::geteuid())
            return {};
        passwd entry{};
        passwd* found = nullptr;
        char buffer[1024];
        if (::getpwuid_r(process.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
            return found->pw_name;
        return std::to_string(process.st_uid);
    }
    return {};
}

// A file system without locks still gets its set moved; only two runs at once could meet.
bool hasNoLocks(int err) {
    return err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

} // namespace

Result<FileHandle> lockFolder(FileSystem& fs, const Folder& folder, const LockWait& wait) {
    // A descriptor of its own: closing it releases the lock, and the folder stays held.
    const int fd = fs.openAt(folder.fd(), ".", O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return fileFailure(errno, FileAction::Open, folder.shown());
    FileHandle handle(fs, fd);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    bool told = false;
    for (;;) {
        if (fs.tryLock(fd) == 0 || hasNoLocks(errno))
            return handle;
        if (errno != EWOULDBLOCK)
            return fileFailure(errno, FileAction::Lock, folder.shown());
        const auto waited = Clock::now() - start;
        if (waited >= wait.limit)
            break;
        if (!told && waited >= std::chrono::seconds(1)) {
            told = true;
            if (wait.notice)
                wait.notice(_("waiting for another run in '") + escapedForDisplay(folder.shown()) +
                            "'");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string holder = otherLockHolder(folder.status());
    if (!holder.empty())
        return makeFailure(FailureKind::PermissionDenied,
                           _("the folder '") + folder.shown() +
                               _("' is locked by a program of user '") + holder +
                               _("', so nothing was changed"));
    return makeFailure(FailureKind::PermissionDenied,
                       _("another run is still working in the folder '") + folder.shown() +
                           _("', so nothing was changed; try again when it has finished"));
}

Result<FileHandle> lockFolder(FileSystem& fs, const std::string& folder) {
    auto opened = Folder::open(fs, folder);
    if (!opened)
        return opened.failure();
    return lockFolder(fs, opened.value());
}

int moveOntoFreeName(FileSystem& fs, const Folder& folder, const std::string& from,
                     const std::string& to) {
    if (fs.renameNoReplaceAt(folder.fd(), from, to) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EPERM && errno != EOPNOTSUPP)
        return -1;
    struct stat st {};
    if (fs.lstatAt(folder.fd(), to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    if (errno != ENOENT)
        return -1;
    return fs.renameAt(folder.fd(), from, to);
}

Result<void> PendingSet::startJournal(const std::string& reportPath) {
    if (journal)
        return {};
    auto started = RunJournal::start(fs, folder, operation, reportPath);
    if (!started)
        return started.failure();
    journal = std::move(started.value());
    return {};
}

Result<RunJournal*> PendingSet::journalFor(const std::string& reportPath) {
    if (auto started = startJournal(reportPath); !started)
        return started.failure();
    return journal.get();
}

Result<std::size_t> PendingSet::add(const std::string& finalPath, mode_t mode) {
    if (auto started = startJournal(finalPath); !started)
        return started.failure();
    files.push_back(std::make_unique<PendingFile>(fs, folder, finalPath, *journal));
    if (auto created = files.back()->create(mode); !created)
        return created.failure();
    return files.size() - 1;
}

Result<void> PendingSet::checkExpectations() {
    for (const Expectation& expected : expectations) {
        int err = 0;
        const auto now = statusAt(fs, folder, fileNameOf(expected.path), err);
        if (!now && err != ENOENT)
            return fileFailure(err, FileAction::Read, expected.path);
        if (now.has_value() != expected.status.has_value() ||
            (now && !sameVersion(*now, *expected.status)))
            return makeFailure(FailureKind::IoError,
                               "'" + expected.path +
                                   _("' was changed by another program while this one worked, "
                                     "so nothing was changed"));
    }
    return {};
}

Result<void> PendingSet::recordMoves(std::vector<Move>& moves) {
    std::vector<JournalContents::Move> records;
    for (Move& move : moves) {
        int err = 0;
        move.old = statusAt(fs, folder, fileNameOf(move.path), err);
        if (!move.old && err != ENOENT)
            return fileFailure(err, FileAction::Create, move.path);
        // A folder at a real name is nobody's old file to move aside.
        if (move.old && S_ISDIR(move.old->st_mode))
            return fileFailure(EISDIR, FileAction::Create, move.path);
        JournalContents::Move record;
        record.name = fileNameOf(move.path);
        record.backup = move.backup;
        if (move.file != nullptr) {
            record.temporary = move.file->hiddenName();
            auto identity = identityOf(fs, folder.fd(), move.file->hiddenName(),
                                       move.file->status(), move.path);
            if (!identity)
                return identity.failure();
            record.replacement = std::move(identity.value());
        }
        if (move.old) {
            auto identity =
                identityOf(fs, folder.fd(), fileNameOf(move.path), *move.old, move.path);
            if (!identity)
                return identity.failure();
            record.old = std::move(identity.value());
        }
        records.push_back(std::move(record));
    }
    return journal->addMoves(records);
}

Result<void> PendingSet::placeAll(std::vector<Move>& moves) {
    for (Move& move : moves) {
        if (!move.old)
            continue;
        if (fs.renameAt(folder.fd(), fileNameOf(move.path), move.backup) != 0)
            return fileFailure(errno, FileAction::Rename, move.path);
        move.movedAside = true;
    }
    // The first file last: until it is there, nothing is a set.
    for (std::size_t i = 1; i <= moves.size(); ++i) {
        Move& move = moves[i % moves.size()];
        if (move.file == nullptr)
            continue;
        if (moveOntoFreeName(fs, folder, move.file->hiddenName(), fileNameOf(move.path)) != 0)
            return fileFailure(errno, FileAction::Rename, move.path);
        move.placed = true;
    }
    return {};
}

Result<void> PendingSet::removeBackups(std::vector<Move>& moves) {
    const bool deletes =
        std::any_of(moves.begin(), moves.end(), [](const Move& move) { return move.movedAside; });
    if (deletes) {
        // The old files are about to go: their replacements must survive a power cut first.
        std::vector<std::string> placed;
        for (const Move& move : moves)
            if (move.file != nullptr)
                placed.push_back(move.path);
        if (auto synced = syncToDisk(fs, folder, placed); !synced)
            return synced;
    }
    if (auto marked = journal->markCommitted(deletes); !marked)
        return marked;
    for (Move& move : moves) {
        if (move.file != nullptr)
            move.file->placed();
        // One that will not go stays under its backup name, which the journal names for the
        // next run to remove.
        if (move.movedAside && fs.unlinkAt(folder.fd(), move.backup) != 0 && errno != ENOENT)
            journal->keep();
    }
    return {};
}

std::optional<std::string> PendingSet::undo(std::vector<Move>& moves) {
    std::optional<std::string> left;
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        const std::string name = fileNameOf(move->path);
        if (move->placed) {
            // Only the file this run placed goes back to its hidden name.
            struct stat st {};
            if (fs.lstatAt(folder.fd(), name, &st) != 0 || !sameFile(st, move->file->status()) ||
                fs.renameAt(folder.fd(), name, move->file->hiddenName()) != 0)
                left = left.value_or("");
        }
        // The old file goes back only to a free name: a file another program put there since
        // stays, and the old one waits at its hidden name.
        if (move->movedAside && moveOntoFreeName(fs, folder, move->backup, name) != 0)
            left = left.value_or("") + _(" The file that was at '") + move->path +
                   _("' is kept as '") + folder.pathOf(move->backup) + "'" +
                   (errno == EEXIST ? _(": another program has put a file at its name.") : ".");
    }
    return left;
}

Result<void> PendingSet::commit() {
    if (files.empty() && retired.empty())
        return {};
    if (auto started = startJournal(files.empty() ? retired.front() : files.front()->target());
        !started)
        return started;
    for (auto& file : files)
        if (auto parked = file->park(); !parked)
            return parked;
    auto locked = lockFolder(fs, folder, lockWait);
    if (!locked)
        return locked.failure();
    if (auto unchanged = checkExpectations(); !unchanged)
        return unchanged;

    std::vector<Move> moves;
    for (auto& file : files)
        moves.push_back({file->target(), newHiddenName(".bak"), file.get(), {}});
    for (const auto& path : retired)
        moves.push_back({path, newHiddenName(".bak"), nullptr, {}});
    if (auto recorded = recordMoves(moves); !recorded)
        return recorded;

    const auto fail = [&](Failure failure) -> Result<void> {
        // What cannot be put back stays named in the journal for the next run, and the
        // message says where an old file waits.
        if (const auto left = undo(moves)) {
            journal->keep();
            failure.description += *left;
        }
        return failure;
    };
    if (auto placed = placeAll(moves); !placed)
        return fail(placed.failure());
    if (auto finished = removeBackups(moves); !finished)
        return fail(finished.failure());
    return {};
}

} // namespace tolvar::detail
