#include "file_system.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/file.h>
#include <unistd.h>

namespace tolvar {

int PosixFileSystem::open(const std::string& path, int flags, mode_t mode) {
    return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

int PosixFileSystem::close(int fd) {
    return ::close(fd);
}

ssize_t PosixFileSystem::read(int fd, void* buffer, std::size_t count) {
    return ::read(fd, buffer, count);
}

ssize_t PosixFileSystem::pread(int fd, void* buffer, std::size_t count, off_t offset) {
    return ::pread(fd, buffer, count, offset);
}

ssize_t PosixFileSystem::write(int fd, const void* buffer, std::size_t count) {
    return ::write(fd, buffer, count);
}

ssize_t PosixFileSystem::copyFileRange(int inFd, off_t* inOffset, int outFd, std::size_t count) {
    return ::copy_file_range(inFd, inOffset, outFd, nullptr, count, 0);
}

ssize_t PosixFileSystem::splice(int inFd, off_t* inOffset, int outFd, std::size_t count) {
    return ::splice(inFd, inOffset, outFd, nullptr, count, 0);
}

int PosixFileSystem::pipe(int fds[2]) {
    return ::pipe2(fds, O_CLOEXEC);
}

int PosixFileSystem::setPipeSize(int fd, int size) {
    return ::fcntl(fd, F_SETPIPE_SZ, size);
}

int PosixFileSystem::preallocate(int fd, off_t length) {
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length);
}

int PosixFileSystem::fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}

int PosixFileSystem::stat(const std::string& path, struct stat* st) {
    return ::stat(path.c_str(), st);
}

int PosixFileSystem::lstat(const std::string& path, struct stat* st) {
    return ::lstat(path.c_str(), st);
}

int PosixFileSystem::fsync(int fd) {
    return ::fsync(fd);
}

int PosixFileSystem::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str());
}

int PosixFileSystem::renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without the flag: a hard link fails just as well on an existing name.
    if (::link(from.c_str(), to.c_str()) != 0)
        return -1;
    return ::unlink(from.c_str());
}

int PosixFileSystem::unlink(const std::string& path) {
    return ::unlink(path.c_str());
}

namespace {

// Reads the entries of an open folder stream; takes it over.
int listEntries(DIR* opened, std::vector<std::string>& names) {
    names.clear();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, ::closedir);
    if (!dir)
        return -1;
    // readdir returns null both at the end and on failure; only errno tells them apart.
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    return errno == 0 ? 0 : -1;
}

} // namespace

int PosixFileSystem::listFolder(const std::string& path, std::vector<std::string>& names) {
    return listEntries(::opendir(path.c_str()), names);
}

int PosixFileSystem::linkOpenFile(int fd, const std::string& to) {
    // Through /proc any user may link the file; AT_EMPTY_PATH needs a privilege, so it only
    // serves where /proc is not mounted.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT)
        return -1;
    return ::linkat(fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH);
}

int PosixFileSystem::fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}

int PosixFileSystem::lock(int fd) {
    for (;;) {
        const int result = ::flock(fd, LOCK_EX);
        if (result == 0 || errno != EINTR)
            return result;
    }
}

int PosixFileSystem::statfs(const std::string& path, struct statfs* info) {
    return ::statfs(path.c_str(), info);
}

int PosixFileSystem::openAt(int folder, const std::string& name, int flags, mode_t mode) {
    return ::openat(folder, name.c_str(), flags | O_CLOEXEC, mode);
}

int PosixFileSystem::lstatAt(int folder, const std::string& name, struct stat* st) {
    return ::fstatat(folder, name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

int PosixFileSystem::renameAt(int folder, const std::string& from, const std::string& to) {
    return ::renameat(folder, from.c_str(), folder, to.c_str());
}

int PosixFileSystem::renameNoReplaceAt(int folder, const std::string& from, const std::string& to) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return -1;
    return ::unlinkat(folder, from.c_str(), 0);
}

int PosixFileSystem::unlinkAt(int folder, const std::string& name) {
    return ::unlinkat(folder, name.c_str(), 0);
}

int PosixFileSystem::listFolderAt(int folder, std::vector<std::string>& names) {
    // A descriptor of its own: the stream takes over what it is given and closes it.
    const int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0)
        return -1;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        const int err = errno;
        ::close(own);
        errno = err;
        return -1;
    }
    return listEntries(dir, names);
}

int PosixFileSystem::linkOpenFileAt(int fd, int folder, const std::string& to) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), folder, to.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT)
        return -1;
    return ::linkat(fd, "", folder, to.c_str(), AT_EMPTY_PATH);
}

int PosixFileSystem::fstatfs(int fd, struct statfs* info) {
    return ::fstatfs(fd, info);
}

int PosixFileSystem::tryLock(int fd) {
    for (;;) {
        const int result = ::flock(fd, LOCK_EX | LOCK_NB);
        if (result == 0 || errno != EINTR)
            return result;
    }
}

int PosixFileSystem::truncate(int fd, off_t length) {
    for (;;) {
        const int result = ::ftruncate(fd, length);
        if (result == 0 || errno != EINTR)
            return result;
    }
}

void PosixFileSystem::startWriteBack(int fd, off_t offset, off_t length) {
    // A hint: where the call is refused, the flush that follows does all the work.
    ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}

FileSystem& defaultFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

} // namespace tolvar
