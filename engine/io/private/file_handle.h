#pragma once

// File helpers shared by the split and assemble operations. Internal to the engine.

#include "failure.h"
#include "file_system.h"
#include "part_header.h"
#include "path_parts.h"
#include "progress.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// A hidden name that no other run picks: ".tolvar-<seven random letters>.tmp" (or another
// suffix). Kept short: ntfs-3g looks a file's folder up again for every 4 KiB it writes, and
// once the folder's names outgrow its index root each lookup costs a read, so a split's hidden
// names should take no more room there than its parts' own names will.
std::string newHiddenName(const char* suffix = ".tmp");
// count random lower-case letters and digits, for names no other run picks.
std::string randomLetters(int count);

// The permission bits a new file asked for with mode gets: mode less the umask, as cp gives
// its copies when it does not keep the original's.
mode_t lessUmask(mode_t mode);

// The same failure, naming `known` where it named `actual` (a temporary name the user never
// sees).
Failure reportedAs(Failure failure, const std::string& actual, const std::string& known);

class RunJournal;
class Folder;

// Opens name in folder for reading as openForReading does; failures name reportPath.
Result<FileHandle> openForReadingAt(FileSystem& fs, const Folder& folder, const std::string& name,
                                    const std::string& reportPath, struct stat* info = nullptr);

// Creates a new, hidden, uniquely named file in folder with the permission bits mode (less
// the umask); its plain name goes to tempName. Its name is in journal before the file exists
// and its identity right after, so a kill at any point leaves nothing the next run cannot
// remove. Failures are reported against reportPath (the name the user knows); a journal that
// cannot be written fails the call and leaves no file.
Result<FileHandle> createTemporary(FileSystem& fs, RunJournal& journal, const Folder& folder,
                                   const std::string& reportPath, std::string& tempName,
                                   mode_t mode, const char* suffix = ".tmp");

// A file being written for finalPath, which appears under that name only once committed (see
// PendingSet). It is unnamed (O_TMPFILE) where the file system allows it, so a killed run
// leaves nothing behind; elsewhere it has a hidden name beside finalPath, which the run's
// journal records so that the next run can remove it. Every step goes through the held folder
// finalPath names a file of. What was not committed is removed when the object goes.
class PendingFile {
public:
    PendingFile(FileSystem& fs, const Folder& folder, std::string finalPath, RunJournal& journal)
        : fs(fs), folder(folder), finalPath(std::move(finalPath)), journal(journal) {}
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile() { discard(); }

    // Creates the file in the folder. It stays private to its owner while written and gets the
    // permission bits mode less the umask when parked (where the file system has permission
    // bits at all).
    Result<void> create(mode_t mode);
    int get() const { return file.get(); }
    // A second, read-only descriptor of the same file, for reading back what was written.
    Result<FileHandle> openForReadBack();
    // Gives the complete file its permission bits and a hidden name, and closes it, so that a
    // set of any size never holds more than one descriptor per file being written.
    Result<void> park();
    // Removes the file unless it was committed.
    void discard();

    const std::string& target() const { return finalPath; }
    // The plain name in the folder the file will have.
    std::string targetName() const;
    // The hidden name, once the file has one (always after park).
    const std::string& hiddenName() const { return tempName; }
    // A path that reaches the hidden file through the held folder, for readers by path.
    std::string hiddenPath() const;
    // The parked file's status.
    const struct stat& status() const { return parkedStatus; }
    // After the commit moved the parked file onto finalPath: nothing left to remove.
    void placed() { tempName.clear(); }

private:
    FileSystem& fs;
    const Folder& folder;
    std::string finalPath;
    RunJournal& journal;
    FileHandle file;
    std::string tempName; // the hidden name, once the file has one
    mode_t finalMode = 0;
    struct stat parkedStatus {};
};

// Reads up to buffer.size() bytes from offset, fewer only at the end of the file.
Result<std::size_t> readFully(FileSystem& fs, int fd, char* buffer, std::size_t size, off_t offset,
                              const std::string& path);

// Writes all of data, looping on partial writes. A write that makes no progress is a full
// disk, never a reason to try again forever.
Result<void> writeAll(FileSystem& fs, int fd, const char* data, std::size_t size,
                      const std::string& path);

// Flushes each file (paths of names in folder, as the user knows them) and the folder to the
// disk.
Result<void> syncToDisk(FileSystem& fs, const Folder& folder,
                        const std::vector<std::string>& paths);

// Tells the caller's observer how far the copy has come, and whether to go on.
class ProgressTracker {
public:
    ProgressTracker(ProgressObserver* observer, std::uint64_t total, int partCount);
    bool listening() const { return observer != nullptr; }
    void setPart(int index, const std::string& path);
    // Adds done bytes; false when the observer asked to stop.
    bool advance(std::uint64_t done);

private:
    ProgressObserver* observer;
    Progress progress;
};

// Reserves room for a file of size bytes (see FileSystem::preallocate). No room is a failure
// reported against path; a file system that cannot reserve is no failure.
Result<void> preallocate(FileSystem& fs, int fd, std::uint64_t size, const std::string& path);

// Copies bytes from one descriptor to another, in the kernel where the file systems allow
// it, else through one user-space block of CopyStepSize bytes. The ways, fastest first:
// splice through a pipe of its own, copy_file_range, read and write. A way the file systems
// refuse is left for the rest of the copier's life; nothing is lost or copied twice when
// that happens in the middle of a copy.
class Copier {
public:
    Copier(FileSystem& fs, ProgressTracker& tracker) : fs(fs), tracker(tracker) {}

    // Copies exactly count bytes from in at inOffset (advanced) to the current position of
    // out, which is outOffset. The source ending early is a failure: it changed while being
    // read. False when the observer cancelled.
    Step copyExactly(int in, off_t& inOffset, int out, off_t outOffset, std::uint64_t count,
                     const std::string& inPath, const std::string& outPath);

private:
    // One step: copies up to count bytes; gives the bytes copied, 0 at end of file.
    Result<std::uint64_t> step(int in, off_t& inOffset, int out, off_t outOffset,
                               std::uint64_t count, const std::string& inPath,
                               const std::string& outPath);
    // The ways, each giving 0 when it copied nothing: at the end of the file, or refused.
    Result<std::uint64_t> spliceStep(int in, off_t& inOffset, int out, off_t outOffset,
                                     std::uint64_t count, const std::string& inPath,
                                     const std::string& outPath);
    Result<std::uint64_t> kernelCopyStep(int in, off_t& inOffset, int out, std::uint64_t count,
                                         const std::string& inPath, const std::string& outPath);
    Result<std::uint64_t> userSpaceStep(int in, off_t& inOffset, int out, std::uint64_t count,
                                        const std::string& inPath, const std::string& outPath);
    bool openPipe();
    // Moves the pending bytes held by the pipe on to out.
    Result<void> emptyPipe(std::size_t pending, int out, const std::string& inPath,
                           const std::string& outPath);

    FileSystem& fs;
    ProgressTracker& tracker;
    bool splicing = true;
    bool kernelCopy = true;
    FileHandle pipeOut; // the end the copier reads from
    FileHandle pipeIn;  // the end the copier writes to
    std::size_t pipeCapacity = 0;
    std::array<char, CopyStepSize> buffer{};
};

// What one FUSE write request carries at most by default (32 pages), and so the run of bytes
// in which exFAT, FAT and NTFS drivers on a stick take writes. Writes that start off such a
// boundary cost a request more per run, and the driver a cluster written in pieces; the 16-byte
// header puts every part's payload, and in a join every source, off one.
constexpr std::size_t kWriteRun = std::size_t{128} << 10;
// chunk, shortened where it stops before count so that bytes written from offset at end on a
// kWriteRun boundary, and the next chunk's writes start on one.
std::uint64_t endingOnRun(off_t at, std::uint64_t chunk, std::uint64_t count);

// Whether two stat results name the same file.
bool sameFile(const struct stat& a, const struct stat& b);
// Whether two stat results name the same file with the same size and modification time.
bool sameVersion(const struct stat& a, const struct stat& b);

} // namespace tolvar::detail
