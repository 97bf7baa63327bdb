#pragma once

// Copying bytes between descriptors while the caller's observer hears how far it came.
// Internal to the engine.

#include "file_handle.h"
#include "progress.h"

#include <array>
#include <cstdint>
#include <string>

namespace tolvar::detail {

// Tells the caller's observer how far the copy has come, and whether to go on.
class ProgressTracker {
public:
    ProgressTracker(ProgressObserver* observer, std::uint64_t total, int partCount);
    bool listening() const { return observer != nullptr; }
    // Reports the files as checked rather than copied.
    void setChecking() { progress.checking = true; }
    // Reports each broken file as moved into the rebuilt file, in place.
    void setMoving() { progress.movingInPlace = true; }
    void setPart(int index, const std::string& path, bool recoveryFile = false);
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

} // namespace tolvar::detail
