#include "copier.h"

#include "translation.h"

#include <algorithm>
#include <cerrno>

namespace tolvar::detail {

ProgressTracker::ProgressTracker(ProgressObserver* observer, std::uint64_t total, int partCount)
    : observer(observer) {
    progress.bytesTotal = total;
    progress.partCount = partCount;
}

void ProgressTracker::setPart(int index, const std::string& path, bool recoveryFile) {
    progress.partIndex = index;
    progress.recoveryFile = recoveryFile;
    if (observer != nullptr)
        progress.partPath = path;
}

bool ProgressTracker::advance(std::uint64_t done) {
    progress.bytesDone += done;
    return observer == nullptr || observer->onProgress(progress);
}

Result<void> preallocate(FileSystem& fs, int fd, std::uint64_t size, const std::string& path) {
    if (size == 0)
        return {};
    while (fs.preallocate(fd, static_cast<off_t>(size)) != 0) {
        if (errno == EINTR)
            continue;
        // Only a lack of room is certain to make the copy fail later; anything else (FAT,
        // fuse and NFS file systems that cannot reserve) leaves the copy to find out.
        if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
            return fileFailure(errno, FileAction::Write, path);
        break;
    }
    return {};
}

namespace {

// The file systems cannot copy between these descriptors this way: try the next one.
bool kernelCopyUnsupported(int err) {
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF ||
           err == ETXTBSY || err == EPERM;
}

// copy_file_range does not say which side failed; these can only come from writing.
bool isWriteSideError(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

// Larger kernel copies are cheaper; a listener still hears from us every few MiB.
constexpr std::uint64_t kQuietChunk = std::uint64_t{1} << 30;
constexpr std::uint64_t kListenedChunk = std::uint64_t{4} << 20;

// The largest pipe an ordinary user may ask for by default (/proc/sys/fs/pipe-max-size).
// Copying 1 GiB through it takes a third less time than through the 64 KiB pipe the kernel
// itself uses for copy_file_range between files it cannot clone.
constexpr int kPipeSize = 1 << 20;
// What a pipe holds when the kernel does not grant more.
constexpr std::size_t kDefaultPipeSize = 65536;
// The kernel's page: a pipe holds a whole number of them, however few bytes each carries.
constexpr std::size_t kPageSize = 4096;

} // namespace

Result<std::uint64_t> Copier::step(int in, off_t& inOffset, int out, off_t outOffset,
                                   std::uint64_t count, const std::string& inPath,
                                   const std::string& outPath) {
    const std::uint64_t chunk = endingOnRun(
        outOffset, std::min(count, tracker.listening() ? kListenedChunk : kQuietChunk), count);
    // A way that copies nothing has either met the end of the file or been refused; the next
    // way then decides, so a file system whose kernel copy stops early loses nothing.
    if (splicing) {
        auto n = spliceStep(in, inOffset, out, outOffset, chunk, inPath, outPath);
        if (!n || n.value() > 0)
            return n;
    }
    if (kernelCopy) {
        auto n = kernelCopyStep(in, inOffset, out, chunk, inPath, outPath);
        if (!n || n.value() > 0)
            return n;
    }
    return userSpaceStep(in, inOffset, out, chunk, inPath, outPath);
}

bool Copier::openPipe() {
    if (pipeIn.isOpen())
        return true;
    int fds[2] = {-1, -1};
    if (fs.pipe(fds) != 0)
        return false;
    pipeOut = FileHandle(fs, fds[0]);
    pipeIn = FileHandle(fs, fds[1]);
    const int granted = fs.setPipeSize(fds[1], kPipeSize);
    pipeCapacity = granted > 0 ? static_cast<std::size_t>(granted) : kDefaultPipeSize;
    return true;
}

Result<std::uint64_t> Copier::spliceStep(int in, off_t& inOffset, int out, off_t outOffset,
                                         std::uint64_t count, const std::string& inPath,
                                         const std::string& outPath) {
    if (!openPipe()) {
        splicing = false;
        return std::uint64_t{0};
    }
    std::uint64_t copied = 0;
    while (splicing && copied < count) {
        // The pipe is empty here, so the kernel never waits for room in it.
        auto want = static_cast<std::size_t>(std::min<std::uint64_t>(count - copied, pipeCapacity));
        // Writes start on kWriteRun boundaries of out and go on in whole runs. A source off a
        // page boundary spans a page more of the pipe than it holds bytes, so a run less is
        // asked of it.
        const auto outAt = static_cast<std::size_t>(outOffset) + copied;
        if (pipeCapacity >= 2 * kWriteRun) {
            if (outAt % kWriteRun != 0)
                want = std::min(want, kWriteRun - outAt % kWriteRun);
            else if (static_cast<std::size_t>(inOffset) % kPageSize != 0)
                want = std::min(want, pipeCapacity - kWriteRun);
        }
        const ssize_t n = fs.splice(in, &inOffset, pipeIn.get(), want);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (!kernelCopyUnsupported(errno))
                return fileFailure(errno, FileAction::Read, inPath);
            splicing = false;
            break;
        }
        if (auto emptied = emptyPipe(static_cast<std::size_t>(n), out, inPath, outPath); !emptied)
            return emptied.failure();
        copied += static_cast<std::uint64_t>(n);
    }
    if (!splicing) {
        pipeIn.close();
        pipeOut.close();
    }
    return copied;
}

Result<void> Copier::emptyPipe(std::size_t pending, int out, const std::string& inPath,
                               const std::string& outPath) {
    while (pending > 0 && splicing) {
        const ssize_t n = fs.splice(pipeOut.get(), nullptr, out, pending);
        if (n > 0) {
            pending -= static_cast<std::size_t>(n);
            continue;
        }
        // A write that makes no progress is a full disk, as in writeAll.
        if (n == 0)
            return fileFailure(ENOSPC, FileAction::Write, outPath);
        if (errno == EINTR)
            continue;
        if (!kernelCopyUnsupported(errno))
            return fileFailure(errno, FileAction::Write, outPath);
        splicing = false;
    }
    // The output's file system takes no splice: what the pipe holds goes through the buffer.
    // The pipe holds exactly pending bytes, so reading it never waits.
    while (pending > 0) {
        const ssize_t got = fs.read(pipeOut.get(), buffer.data(), std::min(pending, buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return fileFailure(got < 0 ? errno : EIO, FileAction::Read, inPath);
        if (auto written = writeAll(fs, out, buffer.data(), static_cast<std::size_t>(got), outPath);
            !written)
            return written;
        pending -= static_cast<std::size_t>(got);
    }
    return {};
}

Result<std::uint64_t> Copier::kernelCopyStep(int in, off_t& inOffset, int out, std::uint64_t count,
                                             const std::string& inPath,
                                             const std::string& outPath) {
    for (;;) {
        const ssize_t n = fs.copyFileRange(in, &inOffset, out, static_cast<std::size_t>(count));
        if (n >= 0)
            return static_cast<std::uint64_t>(n);
        if (errno == EINTR)
            continue;
        if (kernelCopyUnsupported(errno)) {
            kernelCopy = false;
            return std::uint64_t{0};
        }
        return isWriteSideError(errno) ? fileFailure(errno, FileAction::Write, outPath)
                                       : fileFailure(errno, FileAction::Read, inPath);
    }
}

Result<std::uint64_t> Copier::userSpaceStep(int in, off_t& inOffset, int out, std::uint64_t count,
                                            const std::string& inPath, const std::string& outPath) {
    std::uint64_t copied = 0;
    while (copied < count) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - copied, buffer.size()));
        auto got = readFully(fs, in, buffer.data(), want, inOffset, inPath);
        if (!got)
            return got.failure();
        if (got.value() == 0)
            break;
        if (auto written = writeAll(fs, out, buffer.data(), got.value(), outPath); !written)
            return written.failure();
        inOffset += static_cast<off_t>(got.value());
        copied += got.value();
        if (got.value() < want)
            break;
    }
    return copied;
}

Step Copier::copyExactly(int in, off_t& inOffset, int out, off_t outOffset, std::uint64_t count,
                         const std::string& inPath, const std::string& outPath) {
    while (count > 0) {
        const auto n = step(in, inOffset, out, outOffset, count, inPath, outPath);
        if (!n)
            return n.failure();
        if (n.value() == 0)
            return makeFailure(FailureKind::IoError,
                               "'" + inPath + _("' became shorter while it was being read"));
        count -= n.value();
        outOffset += static_cast<off_t>(n.value());
        if (!tracker.advance(n.value()))
            return false;
    }
    return true;
}

std::uint64_t endingOnRun(off_t at, std::uint64_t chunk, std::uint64_t count) {
    const std::uint64_t over = (static_cast<std::uint64_t>(at) + chunk) % kWriteRun;
    return chunk < count && chunk > over ? chunk - over : chunk;
}

} // namespace tolvar::detail
