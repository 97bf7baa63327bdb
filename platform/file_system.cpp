#include "file_system.h"

#include <fcntl.h>
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

int PosixFileSystem::unlink(const std::string& path) {
    return ::unlink(path.c_str());
}

FileSystem& defaultFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

} // namespace tolvar
