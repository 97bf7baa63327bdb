#include "pending_set.h"

#include "checksum_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace tolvar::detail {

namespace {

// The process number of a name ".tolvar-<process>-<anything><suffix>", or 0.
pid_t ownerOf(std::string_view name, std::string_view suffix) {
    constexpr std::string_view kLead = ".tolvar-";
    if (name.size() <= kLead.size() + suffix.size() || name.substr(0, kLead.size()) != kLead ||
        name.substr(name.size() - suffix.size()) != suffix)
        return 0;
    pid_t pid = 0;
    std::size_t at = kLead.size();
    for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < 1 << 22; ++at)
        pid = pid * 10 + (name[at] - '0');
    return at < name.size() && name[at] == '-' ? pid : 0;
}

// Only a process that is certainly gone: one we may not signal still runs.
bool isGone(pid_t pid) {
    return pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Puts back what the commit whose journal is at path moved, newest first.
void rollBack(FileSystem& fs, const std::string& folder, const std::string& path) {
    // The whole journal, however many parts it names: one cut short would put back only some
    // of the files, and the rest would never be looked for again.
    struct stat journalStat {};
    auto opened = openForReading(fs, path, &journalStat);
    if (!opened)
        return;
    std::string text(static_cast<std::size_t>(journalStat.st_size), '\0');
    auto got = readFully(fs, opened.value().get(), text.data(), text.size(), 0, path);
    opened.value().close();
    if (!got || got.value() != text.size())
        return;
    std::vector<std::string> fields;
    for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
         start = end + 1)
        fields.push_back(text.substr(start, end - start));
    for (std::size_t i = fields.size() / 3 * 3; i >= 3; i -= 3) {
        const std::string real = pathIn(folder, fields[i - 3]);
        const std::string backup = pathIn(folder, fields[i - 2]);
        const auto inode = static_cast<ino_t>(std::strtoull(fields[i - 1].c_str(), nullptr, 10));
        struct stat st {};
        if (inode != 0 && fs.lstat(real, &st) == 0 && st.st_ino == inode)
            fs.unlink(real);
        if (fs.lstat(backup, &st) == 0 && fs.rename(backup, real) != 0)
            return; // the journal stays for another try
    }
    fs.unlink(path);
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

void tidyFolder(FileSystem& fs, const std::string& folder) {
    std::vector<std::string> names;
    if (fs.listFolder(folder, names) != 0)
        return;
    // Journals first: the files they put back may have been written by the same run.
    for (const auto& name : names)
        if (isGone(ownerOf(name, ".undo"))) {
            auto locked = lockFolder(fs, folder);
            if (locked)
                rollBack(fs, folder, pathIn(folder, name));
        }
    for (const auto& name : names)
        if (isGone(ownerOf(name, ".tmp")))
            fs.unlink(pathIn(folder, name));
}

Result<std::size_t> PendingSet::add(const std::string& finalPath, mode_t mode) {
    files.push_back(std::make_unique<PendingFile>(fs, finalPath));
    if (auto created = files.back()->create(mode); !created)
        return created.failure();
    return files.size() - 1;
}

Result<void> PendingSet::writeJournal(const std::vector<Move>& moves, std::string& journal) {
    std::string text;
    for (const Move& move : moves) {
        text += fileNameOf(move.path) + '\0' + fileNameOf(move.backup) + '\0';
        text += std::to_string(move.file != nullptr ? move.file->inode() : 0) + '\0';
    }
    const std::string& reportPath = moves.front().path;
    auto out = createTemporary(fs, folder, reportPath, journal, 0600, ".undo");
    if (!out)
        return out.failure();
    // In steps, as every write of the engine is: memory stays bounded by one.
    for (std::size_t at = 0; at < text.size(); at += CopyStepSize)
        if (auto written = writeAll(fs, out.value().get(), text.data() + at,
                                    std::min(CopyStepSize, text.size() - at), reportPath);
            !written)
            return written;
    if (out.value().close() != 0)
        return fileFailure(errno, FileAction::Close, reportPath);
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
    for (auto& file : files)
        if (auto parked = file->park(); !parked)
            return parked;
    auto locked = lockFolder(fs, folder);
    if (!locked)
        return locked.failure();

    std::vector<Move> moves;
    for (auto& file : files)
        moves.push_back({file->target(), hiddenTemporaryName(folder, ".bak"), file.get()});
    for (const auto& path : retired)
        moves.push_back({path, hiddenTemporaryName(folder, ".bak"), nullptr});
    for (const Move& move : moves) {
        // A folder at a real name is nobody's old file to move aside.
        struct stat st {};
        if (fs.lstat(move.path, &st) == 0 && S_ISDIR(st.st_mode))
            return fileFailure(EISDIR, FileAction::Create, move.path);
    }
    std::string journal;
    if (auto written = writeJournal(moves, journal); !written) {
        if (!journal.empty())
            fs.unlink(journal);
        return written;
    }

    const auto fail = [&](Failure failure) -> Result<void> {
        // Undone, the journal has no more to say; otherwise it stays for the next run.
        if (undo(moves))
            fs.unlink(journal);
        return failure;
    };
    for (Move& move : moves) {
        if (fs.rename(move.path, move.backup) == 0)
            move.movedAside = true;
        else if (errno != ENOENT)
            return fail(fileFailure(errno, FileAction::Rename, move.path));
    }
    // The first part last: until it is there, nothing is a set.
    for (std::size_t i = 1; i <= moves.size(); ++i) {
        Move& move = moves[i % moves.size()];
        if (move.file == nullptr)
            continue;
        if (fs.renameNoReplace(move.file->hiddenPath(), move.path) != 0)
            return fail(fileFailure(errno, FileAction::Rename, move.path));
        move.placed = true;
    }
    if (fs.unlink(journal) != 0 && errno != ENOENT)
        return fail(fileFailure(errno, FileAction::Rename, moves.front().path));

    // The new set is in place: the old files it replaced go. One that will not go stays under
    // its backup name rather than being lost.
    for (Move& move : moves) {
        if (move.file != nullptr)
            move.file->placed();
        if (move.movedAside)
            fs.unlink(move.backup);
    }
    return {};
}

} // namespace tolvar::detail
