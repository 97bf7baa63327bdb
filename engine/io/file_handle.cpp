#include "file_handle.h"

#include "input_rules.h"
#include "translation.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace tolvar::detail {

FileHandle::FileHandle(FileHandle&& other) noexcept : fs(other.fs), fd(other.fd) {
    other.fd = -1;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fs = other.fs;
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

FileHandle::~FileHandle() {
    const int savedErrno = errno;
    close();
    errno = savedErrno;
}

int FileHandle::close() {
    if (fd < 0)
        return 0;
    const int result = fs->close(fd);
    // Linux releases the descriptor even when close fails; never close it twice.
    fd = -1;
    return result;
}

namespace {

// Why a file that is there cannot be read as an ordinary file.
Failure notOrdinaryFailure(const std::string& path, mode_t mode) {
    if (S_ISDIR(mode))
        return fileFailure(EISDIR, FileAction::Open, path);
    // A device or FIFO has no end to copy up to (a link to /dev/zero would fill the disk).
    return notOrdinaryFileFailure(FileAction::Open, path,
                                  notOrdinaryInWords(mode).value_or(_("no ordinary file")));
}

// O_NONBLOCK keeps a FIFO at this name from hanging the open; it changes nothing for the
// regular files the callers go on to read.
int openWithoutBlocking(FileSystem& fs, const std::string& path) {
    return fs.open(path, O_RDONLY | O_NONBLOCK);
}

} // namespace

Result<FileHandle> ordinaryFileOpened(FileSystem& fs, int fd, const std::string& reportPath,
                                      struct stat* info) {
    if (fd < 0)
        return fileFailure(errno, FileAction::Open, reportPath);
    FileHandle handle(fs, fd);
    struct stat st {};
    if (fs.fstat(fd, &st) != 0)
        return fileFailure(errno, FileAction::Read, reportPath);
    if (!S_ISREG(st.st_mode))
        return notOrdinaryFailure(reportPath, st.st_mode);
    if (info != nullptr)
        *info = st;
    return handle;
}

Result<FileHandle> openForReading(FileSystem& fs, const std::string& path, struct stat* info) {
    return ordinaryFileOpened(fs, openWithoutBlocking(fs, path), path, info);
}

Result<FileStart> readFileStart(FileSystem& fs, const std::string& path, char* buffer,
                                std::size_t size) {
    FileStart start;
    const int fd = openWithoutBlocking(fs, path);
    if (fd < 0) {
        const int err = errno;
        if (err != ENOENT)
            return fileFailure(err, FileAction::Open, path);
        start.failure = fileFailure(err, FileAction::Open, path);
        return start;
    }
    start.file = FileHandle(fs, fd);
    if (fs.fstat(fd, &start.status) != 0)
        return fileFailure(errno, FileAction::Read, path);
    if (!S_ISREG(start.status.st_mode)) {
        start.found = FileStart::Found::NotRegular;
        start.failure = notOrdinaryFailure(path, start.status.st_mode);
        start.file.close();
        return start;
    }
    auto got = readFully(fs, fd, buffer, size, 0, path);
    if (!got)
        return got.failure();
    start.found = FileStart::Found::Regular;
    start.length = got.value();
    return start;
}

mode_t lessUmask(mode_t mode) {
    // The umask can only be read by setting it; no thread of this program creates files while
    // another one runs this.
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mode & ~mask & 07777;
}

Failure reportedAs(Failure failure, const std::string& actual, const std::string& known) {
    return failure.path == actual ? aboutFile(std::move(failure), known) : failure;
}

Result<std::size_t> readFully(FileSystem& fs, int fd, char* buffer, std::size_t size, off_t offset,
                              const std::string& path) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            fs.pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fileFailure(errno, FileAction::Read, path);
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

Result<void> writeAll(FileSystem& fs, int fd, const char* data, std::size_t size,
                      const std::string& path) {
    while (size > 0) {
        const ssize_t n = fs.write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fileFailure(errno, FileAction::Write, path);
        }
        if (n == 0)
            return fileFailure(ENOSPC, FileAction::Write, path);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

bool sameVersion(const struct stat& a, const struct stat& b) {
    return sameFile(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace tolvar::detail
