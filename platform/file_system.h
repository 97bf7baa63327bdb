#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/vfs.h>
#include <vector>

namespace tolvar {

// Every file operation of the engine goes through this layer, so tests can make any call
// fail with a chosen errno. The calls mirror POSIX: on failure they return -1 and set errno.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual int open(const std::string& path, int flags, mode_t mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buffer, std::size_t count) = 0;
    virtual ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) = 0;
    virtual ssize_t write(int fd, const void* buffer, std::size_t count) = 0;
    // Kernel-side copy; may fail with EXDEV, EINVAL, ENOSYS, EOPNOTSUPP where the file
    // systems do not support it, in which case callers fall back to read and write.
    virtual ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, std::size_t count) = 0;
    // Moves up to count bytes from a file into a pipe, or from a pipe to a file, in the kernel
    // (splice); inOffset is the file's position when reading from it, null from a pipe. Fails
    // with EINVAL or similar where the file system cannot splice.
    virtual ssize_t splice(int inFd, off_t* inOffset, int outFd, std::size_t count) = 0;
    // A pipe with both ends closed on exec: fds[0] to read, fds[1] to write.
    virtual int pipe(int fds[2]) = 0;
    // Asks for a pipe buffer of size bytes (F_SETPIPE_SZ); returns the size granted.
    virtual int setPipeSize(int fd, int size) = 0;
    // Reserves the disk blocks for the first length bytes of a file without changing its size
    // (fallocate with FALLOC_FL_KEEP_SIZE). EOPNOTSUPP and the like where the file system
    // cannot reserve; ENOSPC when there is no room.
    virtual int preallocate(int fd, off_t length) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int stat(const std::string& path, struct stat* st) = 0;
    virtual int lstat(const std::string& path, struct stat* st) = 0;
    virtual int fsync(int fd) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    // Renames only when nothing has the name `to`; EEXIST otherwise.
    virtual int renameNoReplace(const std::string& from, const std::string& to) = 0;
    virtual int unlink(const std::string& path) = 0;
    // Replaces names with the entries of the folder at path, "." and ".." left out, in the
    // order the system gives them. Fails as opendir or readdir would.
    virtual int listFolder(const std::string& path, std::vector<std::string>& names) = 0;
    // Gives an unnamed file (opened with O_TMPFILE) the name `to`, which must not exist.
    virtual int linkOpenFile(int fd, const std::string& to) = 0;
    // Sets a file's permission bits, exactly as given (the umask does not apply).
    virtual int fchmod(int fd, mode_t mode) = 0;
    // Takes the exclusive advisory lock of an open file or folder (flock), waiting for it;
    // closing the descriptor releases it.
    virtual int lock(int fd) = 0;
    // What the file system holding path says of itself: its type and free room (statfs).
    virtual int statfs(const std::string& path, struct statfs* info) = 0;

    // The same calls relative to a folder held open (folder: a descriptor opened with
    // O_DIRECTORY), so that a folder renamed away or replaced by a symbolic link after it was
    // checked is never reached through its old path. name is a plain name in that folder; a
    // symbolic link there is never followed by lstatAt, unlinkAt and the renames, and by
    // openAt only when flags lack O_NOFOLLOW.
    virtual int openAt(int folder, const std::string& name, int flags, mode_t mode = 0) = 0;
    virtual int lstatAt(int folder, const std::string& name, struct stat* st) = 0;
    virtual int renameAt(int folder, const std::string& from, const std::string& to) = 0;
    // Renames only when nothing has the name `to`; EEXIST otherwise.
    virtual int renameNoReplaceAt(int folder, const std::string& from, const std::string& to) = 0;
    virtual int unlinkAt(int folder, const std::string& name) = 0;
    // Replaces names with the folder's entries, "." and ".." left out.
    virtual int listFolderAt(int folder, std::vector<std::string>& names) = 0;
    // Gives an unnamed file (opened with O_TMPFILE) the name `to` in folder.
    virtual int linkOpenFileAt(int fd, int folder, const std::string& to) = 0;
    // statfs of the file system holding an open file or folder.
    virtual int fstatfs(int fd, struct statfs* info) = 0;
    // Takes the exclusive advisory lock like lock, but fails at once with EWOULDBLOCK while
    // another holds it, so callers can bound their wait.
    virtual int tryLock(int fd) = 0;
    // Cuts an open file (opened for writing) to length bytes (ftruncate): an in-place split
    // drops the source's tail once a broken file holds it, and a run picking up an interrupted
    // in-place join drops what it wrote after its last durable record.
    virtual int truncate(int fd, off_t length) = 0;
    // Starts writing bytes [offset, offset + length) of an open file to the disk without
    // waiting (sync_file_range), so a flush that must follow waits less. Only a hint: it makes
    // nothing durable, and a file layer may ignore it.
    virtual void startWriteBack(int fd, off_t offset, off_t length) {
        (void)fd;
        (void)offset;
        (void)length;
    }
};

// The real file system.
class PosixFileSystem : public FileSystem {
public:
    int open(const std::string& path, int flags, mode_t mode = 0) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, std::size_t count) override;
    ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) override;
    ssize_t write(int fd, const void* buffer, std::size_t count) override;
    ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, std::size_t count) override;
    ssize_t splice(int inFd, off_t* inOffset, int outFd, std::size_t count) override;
    int pipe(int fds[2]) override;
    int setPipeSize(int fd, int size) override;
    int preallocate(int fd, off_t length) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const std::string& path, struct stat* st) override;
    int lstat(const std::string& path, struct stat* st) override;
    int fsync(int fd) override;
    int rename(const std::string& from, const std::string& to) override;
    int renameNoReplace(const std::string& from, const std::string& to) override;
    int unlink(const std::string& path) override;
    int listFolder(const std::string& path, std::vector<std::string>& names) override;
    int linkOpenFile(int fd, const std::string& to) override;
    int fchmod(int fd, mode_t mode) override;
    int lock(int fd) override;
    int statfs(const std::string& path, struct statfs* info) override;
    int openAt(int folder, const std::string& name, int flags, mode_t mode = 0) override;
    int lstatAt(int folder, const std::string& name, struct stat* st) override;
    int renameAt(int folder, const std::string& from, const std::string& to) override;
    int renameNoReplaceAt(int folder, const std::string& from, const std::string& to) override;
    int unlinkAt(int folder, const std::string& name) override;
    int listFolderAt(int folder, std::vector<std::string>& names) override;
    int linkOpenFileAt(int fd, int folder, const std::string& to) override;
    int fstatfs(int fd, struct statfs* info) override;
    int tryLock(int fd) override;
    int truncate(int fd, off_t length) override;
    void startWriteBack(int fd, off_t offset, off_t length) override;
};

// A process-wide PosixFileSystem for callers that do not inject their own.
FileSystem& defaultFileSystem();

} // namespace tolvar
