#pragma once

// One open file and the reads and writes every layer of the engine makes through the file
// layer. Internal to the engine.

#include "failure.h"
#include "file_system.h"
#include "part_header.h"

#include <optional>
#include <string>
#include <sys/stat.h>

namespace tolvar::detail {

// What a stage of an operation gives back: a failure to report, or whether to go on. False
// stops the operation without a further message: it refused and said why, stopped silently
// as the classic behaviour does, or the observer cancelled.
using Step = Result<bool>;

// Owns one descriptor opened through the file layer; closes it on every way out.
class FileHandle {
public:
    FileHandle() = default;
    FileHandle(FileSystem& fs, int fd) : fs(&fs), fd(fd) {}
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int get() const { return fd; }
    bool isOpen() const { return fd >= 0; }
    // Closes now and returns close()'s result (errno set on -1); a failed close of a written
    // file is a failed write.
    int close();

private:
    FileSystem* fs = nullptr;
    int fd = -1;
};

// Opens an existing regular file for reading. A folder is refused as EISDIR, a device, FIFO
// or socket as not an ordinary file; none of them blocks the call. The file's status goes to
// info when given.
Result<FileHandle> openForReading(FileSystem& fs, const std::string& path,
                                  struct stat* info = nullptr);

// Takes over fd, just opened for reading (-1 with errno when the open failed), and keeps it
// only when it is an ordinary file; failures name reportPath.
Result<FileHandle> ordinaryFileOpened(FileSystem& fs, int fd, const std::string& reportPath,
                                      struct stat* info = nullptr);

// What opening a file to look at its start found.
struct FileStart {
    // Regular: an ordinary file, open, its first bytes read.
    using Found = FileFound;
    Found found = Found::Missing;
    // Missing and NotRegular: what opening it for reading reports, for callers that say so.
    std::optional<Failure> failure;
    // Regular: the file, still open for whoever reads on; its status; the bytes read.
    FileHandle file;
    struct stat status {};
    std::size_t length = 0;
};

// Opens path once and, when it is an ordinary file, reads up to size bytes from its start
// into buffer (fewer only when the file is shorter). A folder, device or FIFO is never read
// and never blocks the call. A failure only when something is there but cannot be opened,
// examined or read.
Result<FileStart> readFileStart(FileSystem& fs, const std::string& path, char* buffer,
                                std::size_t size);

// The permission bits a new file asked for with mode gets: mode less the umask, as cp gives
// its copies when it does not keep the original's.
mode_t lessUmask(mode_t mode);

// The same failure, naming `known` where it named `actual` (a temporary name the user never
// sees).
Failure reportedAs(Failure failure, const std::string& actual, const std::string& known);

// Reads up to buffer.size() bytes from offset, fewer only at the end of the file.
Result<std::size_t> readFully(FileSystem& fs, int fd, char* buffer, std::size_t size, off_t offset,
                              const std::string& path);

// Writes all of data, looping on partial writes. A write that makes no progress is a full
// disk, never a reason to try again forever.
Result<void> writeAll(FileSystem& fs, int fd, const char* data, std::size_t size,
                      const std::string& path);

// Whether two stat results name the same file.
bool sameFile(const struct stat& a, const struct stat& b);
// Whether two stat results name the same file with the same size and modification time.
bool sameVersion(const struct stat& a, const struct stat& b);

} // namespace tolvar::detail
