#include "file_io.h"

#include "folder.h"
#include "input_rules.h"
#include "run_journal.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <set>
#include <unistd.h>

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
                                  notOrdinaryInWords(mode).value_or("no ordinary file"));
}

// O_NONBLOCK keeps a FIFO at this name from hanging the open; it changes nothing for the
// regular files the callers go on to read.
int openWithoutBlocking(FileSystem& fs, const std::string& path) {
    return fs.open(path, O_RDONLY | O_NONBLOCK);
}

} // namespace

namespace {

// Takes over fd, just opened for reading (-1 with errno when the open failed), and keeps it
// only when it is an ordinary file.
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

} // namespace

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

namespace {

// A file system that cannot flush (FUSE without fsync, a folder on some network shares) has
// nothing more to give than what the writes already did.
bool cannotFlush(int err) {
    return err == ENOSYS || err == EINVAL || err == EOPNOTSUPP;
}

} // namespace

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

ProgressTracker::ProgressTracker(ProgressObserver* observer, std::uint64_t total, int partCount)
    : observer(observer) {
    progress.bytesTotal = total;
    progress.partCount = partCount;
}

void ProgressTracker::setPart(int index, const std::string& path) {
    progress.partIndex = index;
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
                               "'" + inPath + "' became shorter while it was being read");
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

bool sameVersion(const struct stat& a, const struct stat& b) {
    return sameFile(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace tolvar::detail
