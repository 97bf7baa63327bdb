#include "pending_set.h"

#include "path_parts.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace tolvar::detail {

namespace {

std::optional<struct stat> statusAt(FileSystem& fs, const std::string& path, int& err) {
    struct stat st {};
    if (fs.lstat(path, &st) == 0) {
        err = 0;
        return st;
    }
    err = errno;
    return std::nullopt;
}

// A file's identity with the fingerprint that tells it apart after a remount. Failures to
// read it name reportPath.
Result<FileIdentity> identityAt(FileSystem& fs, const std::string& path, const struct stat& st,
                                const std::string& reportPath) {
    FileIdentity identity = FileIdentity::of(st);
    if (!S_ISREG(st.st_mode))
        return identity;
    const int fd = fs.open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fileFailure(errno, FileAction::Open, reportPath);
    FileHandle file(fs, fd);
    struct stat now {};
    if (fs.fstat(fd, &now) != 0)
        return fileFailure(errno, FileAction::Read, reportPath);
    // Another file at the name since it was looked at: the moves that follow meet it.
    if (!sameFile(now, st) || now.st_size != st.st_size)
        return identity;
    auto fingerprint = fingerprintOf(fs, fd, st.st_size, reportPath);
    if (!fingerprint)
        return fingerprint.failure();
    identity.fingerprint = std::move(fingerprint.value());
    return identity;
}

} // namespace

Result<FileHandle> lockFolder(FileSystem& fs, const std::string& folder) {
    const int fd = fs.open(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return fileFailure(errno, FileAction::Open, folder);
    FileHandle handle(fs, fd);
    // A file system without locks still gets its set moved; only two runs at once could meet.
    if (fs.lock(fd) != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != ENOSYS &&
        errno != EINVAL)
        return fileFailure(errno, FileAction::Lock, folder);
    return handle;
}

int moveOntoFreeName(FileSystem& fs, const std::string& from, const std::string& to) {
    if (fs.renameNoReplace(from, to) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EPERM && errno != EOPNOTSUPP)
        return -1;
    struct stat st {};
    if (fs.lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    if (errno != ENOENT)
        return -1;
    return fs.rename(from, to);
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
    files.push_back(std::make_unique<PendingFile>(fs, finalPath, *journal));
    if (auto created = files.back()->create(mode); !created)
        return created.failure();
    return files.size() - 1;
}

Result<void> PendingSet::checkExpectations() {
    for (const Expectation& expected : expectations) {
        int err = 0;
        const auto now = statusAt(fs, expected.path, err);
        if (!now && err != ENOENT)
            return fileFailure(err, FileAction::Read, expected.path);
        if (now.has_value() != expected.status.has_value() ||
            (now && !sameVersion(*now, *expected.status)))
            return makeFailure(FailureKind::IoError,
                               "'" + expected.path +
                                   "' was changed by another program while this one worked, "
                                   "so nothing was changed");
    }
    return {};
}

Result<void> PendingSet::recordMoves(std::vector<Move>& moves) {
    std::vector<JournalContents::Move> records;
    for (Move& move : moves) {
        int err = 0;
        move.old = statusAt(fs, move.path, err);
        if (!move.old && err != ENOENT)
            return fileFailure(err, FileAction::Create, move.path);
        // A folder at a real name is nobody's old file to move aside.
        if (move.old && S_ISDIR(move.old->st_mode))
            return fileFailure(EISDIR, FileAction::Create, move.path);
        JournalContents::Move record;
        record.name = fileNameOf(move.path);
        record.backup = fileNameOf(move.backup);
        if (move.file != nullptr) {
            record.temporary = fileNameOf(move.file->hiddenPath());
            auto identity = identityAt(fs, move.file->hiddenPath(), move.file->status(), move.path);
            if (!identity)
                return identity.failure();
            record.replacement = std::move(identity.value());
        }
        if (move.old) {
            auto identity = identityAt(fs, move.path, *move.old, move.path);
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
        if (fs.rename(move.path, move.backup) != 0)
            return fileFailure(errno, FileAction::Rename, move.path);
        move.movedAside = true;
    }
    // The first file last: until it is there, nothing is a set.
    for (std::size_t i = 1; i <= moves.size(); ++i) {
        Move& move = moves[i % moves.size()];
        if (move.file == nullptr)
            continue;
        if (moveOntoFreeName(fs, move.file->hiddenPath(), move.path) != 0)
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
        if (placed.empty())
            placed.push_back(folder);
        if (auto synced = syncToDisk(fs, placed); !synced)
            return synced;
    }
    if (auto marked = journal->markCommitted(deletes); !marked)
        return marked;
    for (Move& move : moves) {
        if (move.file != nullptr)
            move.file->placed();
        // One that will not go stays under its backup name, which the journal names for the
        // next run to remove.
        if (move.movedAside && fs.unlink(move.backup) != 0 && errno != ENOENT)
            journal->keep();
    }
    return {};
}

bool PendingSet::undo(std::vector<Move>& moves) {
    bool undone = true;
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        if (move->placed && fs.rename(move->path, move->file->hiddenPath()) != 0)
            undone = false;
        if (move->movedAside && fs.rename(move->backup, move->path) != 0)
            undone = false;
    }
    return undone;
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
    auto locked = lockFolder(fs, folder);
    if (!locked)
        return locked.failure();
    if (auto unchanged = checkExpectations(); !unchanged)
        return unchanged;

    std::vector<Move> moves;
    for (auto& file : files)
        moves.push_back({file->target(), hiddenTemporaryName(folder, ".bak"), file.get(), {}});
    for (const auto& path : retired)
        moves.push_back({path, hiddenTemporaryName(folder, ".bak"), nullptr, {}});
    if (auto recorded = recordMoves(moves); !recorded)
        return recorded;

    const auto fail = [&](Failure failure) -> Result<void> {
        // What cannot be put back stays named in the journal for the next run.
        if (!undo(moves))
            journal->keep();
        return failure;
    };
    if (auto placed = placeAll(moves); !placed)
        return fail(placed.failure());
    if (auto finished = removeBackups(moves); !finished)
        return fail(finished.failure());
    return {};
}

} // namespace tolvar::detail
