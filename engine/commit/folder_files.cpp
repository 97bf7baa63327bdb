#include "folder_files.h"

#include "folder.h"
#include "path_parts.h"
#include "run_journal.h"

#include <cerrno>
#include <fcntl.h>
#include <random>

namespace tolvar::detail {

std::string randomLetters(int count) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 generator(std::random_device{}());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string letters;
    for (int i = 0; i < count; ++i)
        letters += kAlphabet[pick(generator)];
    return letters;
}

std::string newHiddenName(const char* suffix) {
    return ".tolvar-" + randomLetters(kHiddenLetters) + suffix;
}

Result<FileHandle> openForReadingAt(FileSystem& fs, const Folder& folder, const std::string& name,
                                    const std::string& reportPath, struct stat* info) {
    return ordinaryFileOpened(fs, fs.openAt(folder.fd(), name, O_RDONLY | O_NONBLOCK), reportPath,
                              info);
}

Result<FileHandle> createTemporary(FileSystem& fs, RunJournal& journal, const Folder& folder,
                                   const std::string& reportPath, std::string& tempName,
                                   mode_t mode, const char* suffix) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = newHiddenName(suffix);
        // A name already taken is passed over before it is noted: the next run removes what
        // lies at a noted name that never got a file of ours, and this one is someone's.
        struct stat taken {};
        if (fs.lstatAt(folder.fd(), tempName, &taken) == 0)
            continue;
        if (auto noted = journal.addIntended(tempName); !noted) {
            tempName.clear();
            return noted.failure();
        }
        const int fd =
            fs.openAt(folder.fd(), tempName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
        if (fd >= 0) {
            FileHandle file(fs, fd);
            struct stat st {};
            Result<void> named = fs.fstat(fd, &st) == 0
                                     ? journal.addTemporary(tempName, st)
                                     : fileFailure(errno, FileAction::Create, reportPath);
            if (named)
                return file;
            file.close();
            fs.unlinkAt(folder.fd(), tempName);
            tempName.clear();
            return named.failure();
        }
        if (errno != EEXIST)
            break;
    }
    const int err = errno;
    tempName.clear();
    return fileFailure(err, FileAction::Create, reportPath);
}

bool cannotFlush(int err) {
    return err == ENOSYS || err == EINVAL || err == EOPNOTSUPP;
}

Result<void> syncToDisk(FileSystem& fs, const Folder& folder,
                        const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        const int fd = fs.openAt(folder.fd(), fileNameOf(path), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            return fileFailure(errno, FileAction::Sync, path);
        FileHandle handle(fs, fd);
        if (fs.fsync(fd) != 0 && !cannotFlush(errno))
            return fileFailure(errno, FileAction::Sync, path);
    }
    if (fs.fsync(folder.fd()) != 0 && !cannotFlush(errno))
        return fileFailure(errno, FileAction::Sync, folder.shown());
    return {};
}

} // namespace tolvar::detail
