#include "pending_file.h"

#include "folder.h"
#include "folder_files.h"
#include "path_parts.h"
#include "run_journal.h"

#include <cerrno>
#include <fcntl.h>

namespace tolvar::detail {

Result<void> PendingFile::create(mode_t mode) {
    finalMode = lessUmask(mode);
    const int fd = fs.openAt(folder.fd(), ".", O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0) {
        file = FileHandle(fs, fd);
        return {};
    }
    // Older kernels and some file systems (FUSE among them) have no unnamed files: use a
    // hidden name instead.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS)
        return fileFailure(errno, FileAction::Create, finalPath);
    auto created = createTemporary(fs, journal, folder, finalPath, tempName, 0600);
    if (!created)
        return created.failure();
    file = std::move(created.value());
    return {};
}

std::string PendingFile::targetName() const {
    return fileNameOf(finalPath);
}

std::string PendingFile::hiddenPath() const {
    return tempName.empty() ? std::string() : folder.reach(tempName);
}

Result<FileHandle> PendingFile::openForReadBack() {
    // An unnamed file is reached through its descriptor's entry in /proc.
    const std::string path =
        tempName.empty() ? "/proc/self/fd/" + std::to_string(file.get()) : hiddenPath();
    auto opened = openForReading(fs, path);
    if (!opened)
        return reportedAs(opened.failure(), path, finalPath);
    return opened;
}

namespace {

// The file system keeps no permission bits (FAT and exFAT through FUSE, some network shares):
// the file is written all the same, as cp without -p does.
bool hasNoModes(int err) {
    return err == ENOSYS || err == EPERM || err == EOPNOTSUPP;
}

} // namespace

Result<void> PendingFile::park() {
    if (!file.isOpen())
        return {};
    // Written private, the file takes the bits it is meant to have only now that it is whole.
    if (fs.fchmod(file.get(), finalMode) != 0 && !hasNoModes(errno))
        return fileFailure(errno, FileAction::Write, finalPath);
    if (tempName.empty()) {
        // An unnamed file cannot be linked over an existing one: it gets a hidden name, which
        // is later renamed, and renaming replaces atomically.
        for (int attempt = 0;; ++attempt) {
            // Named in the journal before the link, so a kill right after it leaves a file the
            // next run knows; a name taken meanwhile holds another inode and stays.
            const std::string hidden = newHiddenName();
            struct stat st {};
            if (fs.fstat(file.get(), &st) != 0)
                return fileFailure(errno, FileAction::Write, finalPath);
            if (auto named = journal.addTemporary(hidden, st); !named)
                return named;
            if (fs.linkOpenFileAt(file.get(), folder.fd(), hidden) == 0) {
                tempName = hidden;
                break;
            }
            if (errno != EEXIST || attempt == 100)
                return fileFailure(errno, FileAction::Create, finalPath);
        }
    }
    if (fs.fstat(file.get(), &parkedStatus) != 0)
        return fileFailure(errno, FileAction::Write, finalPath);
    if (file.close() != 0)
        return fileFailure(errno, FileAction::Close, finalPath);
    return {};
}

void PendingFile::discard() {
    file.close();
    if (!tempName.empty())
        fs.unlinkAt(folder.fd(), tempName);
    tempName.clear();
}

} // namespace tolvar::detail
