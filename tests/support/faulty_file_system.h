#pragma once

// A file layer for tests that passes every call to the real file system, counts the calls of
// each kind, and makes a chosen call fail with a chosen errno. Header-only and free of any
// test framework so that fuzzers can use it too.

#include "file_system.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tolvar::testing {

enum class FsCall : int {
    Open,
    Read,
    Pread,
    Write,
    CopyFileRange,
    Fstat,
    Stat,
    Lstat,
    Fsync,
    Close,
    Rename,
    Unlink,
    ListFolder,
    Splice,
    Pipe,
    SetPipeSize,
    Preallocate,
    Link,
    Fchmod,
    Lock,
    RenameNoReplace,
    Statfs,
    Truncate,
};
inline constexpr std::size_t kFsCallKinds = 23;

inline const char* fsCallName(FsCall kind) {
    static constexpr std::array<const char*, kFsCallKinds> names = {
        "open",        "read",          "pread",
        "write",       "copyFileRange", "fstat",
        "stat",        "lstat",         "fsync",
        "close",       "rename",        "unlink",
        "listFolder",  "splice",        "pipe",
        "setPipeSize", "preallocate",   "link",
        "fchmod",      "lock",          "renameNoReplace",
        "statfs",      "truncate"};
    return names[static_cast<std::size_t>(kind)];
}

// One call as the layer saw it, for tests that check the order of calls.
struct LoggedCall {
    FsCall kind;
    std::string path; // the file the call was about; for rename, the name moved to
};

// What the injected fault hit.
struct InjectedFault {
    FsCall kind;
    int err;
    std::uint64_t callNumber;       // 1-based, counted over all kinds
    std::vector<std::string> paths; // the files the call was about (both, for copy and rename)
    int openFlags = 0; // the flags of the open call, or those the descriptor was opened with
};

class FaultyFileSystem : public FileSystem {
public:
    // Makes the nth call (1-based, counted since the last resetCounts) of `kind` fail with
    // `err`. One fault at a time; it fires once.
    void failNth(FsCall kind, std::uint64_t nth, int err) {
        plan = Plan{kind, nth, err, false, {}};
        injected.reset();
    }

    // Makes the nth call of `kind` and every later one fail with `err`, as a disk that stays
    // full does. The first of them is reported as the injected fault.
    void failFrom(FsCall kind, std::uint64_t nth, int err) {
        plan = Plan{kind, nth, err, true, {}};
        injected.reset();
    }

    // Makes the first call of `kind` about `path` fail with `err`; fires once.
    void failOn(FsCall kind, std::string path, int err) {
        plan = Plan{kind, 1, err, false, std::move(path)};
        injected.reset();
    }

    // Makes the nth call of any kind fail with `err`; fires once.
    void failNthCall(std::uint64_t nth, int err) {
        plan = Plan{std::nullopt, nth, err, false, {}};
        injected.reset();
    }

    // Makes every call of `kind` fail with `err`, e.g. copyFileRange with EXDEV to force the
    // read/write fallback. These failures are not reported as the injected fault.
    void failEvery(FsCall kind, int err) { always[static_cast<std::size_t>(kind)] = err; }

    // Makes every call fail as the FUSE drivers of removable media do (measured with
    // exfat-fuse, fusefat and ntfs-3g): no unnamed files, no rename flags, no reservation, no
    // kernel copy from another file system; exFAT and FAT have no hard links, FAT no modes.
    // Names are not emulated. Not reported as the injected fault.
    enum class Media { ExFat, Fat32, Ntfs, NoFsync };
    void behaveLike(Media media) {
        noUnnamedFiles = true;
        failEvery(FsCall::RenameNoReplace, EINVAL);
        failEvery(FsCall::Preallocate, EOPNOTSUPP);
        failEvery(FsCall::CopyFileRange, EXDEV);
        if (media != Media::Ntfs)
            failEvery(FsCall::Link, EPERM);
        if (media == Media::Fat32)
            failEvery(FsCall::Fchmod, ENOSYS);
        if (media == Media::NoFsync)
            failEvery(FsCall::Fsync, ENOSYS);
    }

    // Makes every open with O_TMPFILE fail with EOPNOTSUPP, as file systems without unnamed
    // files do. Not reported as the injected fault.
    void withoutUnnamedFiles(bool without) { noUnnamedFiles = without; }

    // Hands out at most `bytes` per read, pread, write, copyFileRange and splice (short
    // transfers, as pipes and network file systems do); 0 lifts the limit.
    void limitTransfers(std::size_t bytes) { transferLimit = bytes; }

    // Starts or stops keeping a log of every call, in order (off by default: long copies
    // make many calls).
    void keepLog(bool keep) {
        logging = keep;
        calledLog.clear();
    }
    const std::vector<LoggedCall>& log() const { return calledLog; }

    // Calls hook before every call, with its kind and the file it is about, so a test can
    // change the folder between two calls exactly where it wants (as another user would).
    void beforeEachCall(std::function<void(FsCall, const std::string&)> hook) {
        beforeCall = std::move(hook);
    }

    void clearFaults() {
        plan.reset();
        injected.reset();
        always.fill(0);
        noUnnamedFiles = false;
    }

    void resetCounts() {
        counts.fill(0);
        reserved.clear();
        total = 0;
        largest.fill(0);
        maxOpen = openFiles.size();
        dataWriteCount = 0;
    }

    std::uint64_t calls(FsCall kind) const { return counts[static_cast<std::size_t>(kind)]; }
    std::uint64_t totalCalls() const { return total; }
    // Writes to anything but a run's journal, which lives outside the folders written.
    std::uint64_t dataWrites() const { return dataWriteCount; }
    // The injected fault, once it has fired.
    const std::optional<InjectedFault>& fault() const { return injected; }

    // Files opened through this layer and not yet closed, and the most open at one time
    // since the last resetCounts.
    std::size_t openCount() const { return openFiles.size(); }
    // Pipe ends made through this layer and not yet closed.
    std::size_t openPipeCount() const { return pipes.size(); }
    // Every reservation asked for, in order: the file and the length.
    const std::vector<std::pair<std::string, off_t>>& preallocations() const { return reserved; }
    std::size_t maxOpenCount() const { return maxOpen; }
    std::vector<std::string> openPaths() const {
        std::vector<std::string> paths;
        for (const auto& [fd, file] : openFiles)
            paths.push_back(file.path);
        return paths;
    }
    // The largest byte count asked of one read, pread, write, copyFileRange or splice call.
    std::size_t largestRequest(FsCall kind) const {
        return largest[static_cast<std::size_t>(kind)];
    }

    int open(const std::string& path, int flags, mode_t mode = 0) override {
        if (fails(FsCall::Open, {path}, flags))
            return -1;
        if (noUnnamedFiles && (flags & O_TMPFILE) == O_TMPFILE) {
            errno = EOPNOTSUPP;
            return -1;
        }
        const int fd = real.open(path, flags, mode);
        if (fd >= 0) {
            openFiles[fd] = OpenFile{path, flags};
            maxOpen = std::max(maxOpen, openFiles.size());
        }
        return fd;
    }

    // An injected close failure still releases the descriptor, as Linux does.
    int close(int fd) override {
        const bool inject = fails(FsCall::Close, {pathOf(fd)}, flagsOf(fd));
        openFiles.erase(fd);
        pipes.erase(fd);
        const int result = real.close(fd);
        if (inject) {
            errno = injected->err;
            return -1;
        }
        return result;
    }

    ssize_t read(int fd, void* buffer, std::size_t count) override {
        note(FsCall::Read, count);
        if (fails(FsCall::Read, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.read(fd, buffer, limited(count));
    }

    ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) override {
        note(FsCall::Pread, count);
        if (fails(FsCall::Pread, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.pread(fd, buffer, limited(count), offset);
    }

    ssize_t write(int fd, const void* buffer, std::size_t count) override {
        note(FsCall::Write, count);
        if (!isJournal(fd))
            ++dataWriteCount;
        if (fails(FsCall::Write, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.write(fd, buffer, limited(count));
    }

    ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, std::size_t count) override {
        note(FsCall::CopyFileRange, count);
        if (fails(FsCall::CopyFileRange, {pathOf(inFd), pathOf(outFd)}, flagsOf(outFd)))
            return -1;
        return real.copyFileRange(inFd, inOffset, outFd, limited(count));
    }

    ssize_t splice(int inFd, off_t* inOffset, int outFd, std::size_t count) override {
        note(FsCall::Splice, count);
        if (fails(FsCall::Splice, {pathOf(inFd), pathOf(outFd)}, flagsOf(outFd)))
            return -1;
        return real.splice(inFd, inOffset, outFd, limited(count));
    }

    int pipe(int fds[2]) override {
        if (fails(FsCall::Pipe, {}))
            return -1;
        const int result = real.pipe(fds);
        if (result == 0)
            pipes.insert({fds[0], fds[1]});
        return result;
    }

    int setPipeSize(int fd, int size) override {
        if (fails(FsCall::SetPipeSize, {}))
            return -1;
        return real.setPipeSize(fd, size);
    }

    int preallocate(int fd, off_t length) override {
        reserved.emplace_back(pathOf(fd), length);
        if (fails(FsCall::Preallocate, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.preallocate(fd, length);
    }

    int fstat(int fd, struct stat* st) override {
        if (fails(FsCall::Fstat, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.fstat(fd, st);
    }

    int stat(const std::string& path, struct stat* st) override {
        if (fails(FsCall::Stat, {path}))
            return -1;
        return real.stat(path, st);
    }

    int lstat(const std::string& path, struct stat* st) override {
        if (fails(FsCall::Lstat, {path}))
            return -1;
        return real.lstat(path, st);
    }

    // Counted, ordered and failed like every call, but not passed on: what a flush does for a
    // power cut no test here can see, and thousands of real flushes made the sweep wait on the
    // disk for most of its time. A descriptor that is not open still fails as it would.
    int fsync(int fd) override {
        if (fails(FsCall::Fsync, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return ::fcntl(fd, F_GETFD) < 0 ? -1 : 0;
    }

    int rename(const std::string& from, const std::string& to) override {
        if (fails(FsCall::Rename, {from, to}))
            return -1;
        return real.rename(from, to);
    }

    int renameNoReplace(const std::string& from, const std::string& to) override {
        if (fails(FsCall::RenameNoReplace, {from, to}))
            return -1;
        return real.renameNoReplace(from, to);
    }

    int unlink(const std::string& path) override {
        if (fails(FsCall::Unlink, {path}))
            return -1;
        return real.unlink(path);
    }

    int listFolder(const std::string& path, std::vector<std::string>& names) override {
        if (fails(FsCall::ListFolder, {path}))
            return -1;
        return real.listFolder(path, names);
    }

    int linkOpenFile(int fd, const std::string& to) override {
        if (fails(FsCall::Link, {pathOf(fd), to}, flagsOf(fd)))
            return -1;
        const int linked = real.linkOpenFile(fd, to);
        // A journal is written unnamed, then linked in: from here on its writes are the
        // journal's.
        if (linked == 0 && to.ends_with(".journal"))
            openFiles[fd].path = to;
        return linked;
    }

    int fchmod(int fd, mode_t mode) override {
        if (fails(FsCall::Fchmod, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.fchmod(fd, mode);
    }

    int lock(int fd) override {
        if (fails(FsCall::Lock, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.lock(fd);
    }

    int statfs(const std::string& path, struct statfs* info) override {
        if (fails(FsCall::Statfs, {path}))
            return -1;
        return real.statfs(path, info);
    }

    // Calls relative to an open folder count as the path call of the same kind, about the file
    // the folder held when it was opened, so every sweep and path-aimed fault reaches them.
    int openAt(int folder, const std::string& name, int flags, mode_t mode = 0) override {
        const std::string path = inFolder(folder, name);
        if (fails(FsCall::Open, {path}, flags))
            return -1;
        if (noUnnamedFiles && (flags & O_TMPFILE) == O_TMPFILE) {
            errno = EOPNOTSUPP;
            return -1;
        }
        const int fd = real.openAt(folder, name, flags, mode);
        if (fd >= 0) {
            openFiles[fd] = OpenFile{path, flags};
            maxOpen = std::max(maxOpen, openFiles.size());
        }
        return fd;
    }

    int lstatAt(int folder, const std::string& name, struct stat* st) override {
        if (fails(FsCall::Lstat, {inFolder(folder, name)}))
            return -1;
        return real.lstatAt(folder, name, st);
    }

    int renameAt(int folder, const std::string& from, const std::string& to) override {
        if (fails(FsCall::Rename, {inFolder(folder, from), inFolder(folder, to)}))
            return -1;
        return real.renameAt(folder, from, to);
    }

    int renameNoReplaceAt(int folder, const std::string& from, const std::string& to) override {
        if (fails(FsCall::RenameNoReplace, {inFolder(folder, from), inFolder(folder, to)}))
            return -1;
        return real.renameNoReplaceAt(folder, from, to);
    }

    int unlinkAt(int folder, const std::string& name) override {
        if (fails(FsCall::Unlink, {inFolder(folder, name)}))
            return -1;
        return real.unlinkAt(folder, name);
    }

    int listFolderAt(int folder, std::vector<std::string>& names) override {
        if (fails(FsCall::ListFolder, {pathOf(folder)}))
            return -1;
        return real.listFolderAt(folder, names);
    }

    int linkOpenFileAt(int fd, int folder, const std::string& to) override {
        const std::string path = inFolder(folder, to);
        if (fails(FsCall::Link, {pathOf(fd), path}, flagsOf(fd)))
            return -1;
        const int linked = real.linkOpenFileAt(fd, folder, to);
        if (linked == 0 && to.ends_with(".journal"))
            openFiles[fd].path = path;
        return linked;
    }

    int fstatfs(int fd, struct statfs* info) override {
        if (fails(FsCall::Statfs, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.fstatfs(fd, info);
    }

    int tryLock(int fd) override {
        if (fails(FsCall::Lock, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.tryLock(fd);
    }

    int truncate(int fd, off_t length) override {
        if (fails(FsCall::Truncate, {pathOf(fd)}, flagsOf(fd)))
            return -1;
        return real.truncate(fd, length);
    }

private:
    struct Plan {
        std::optional<FsCall> kind; // none: count calls of every kind
        std::uint64_t nth;
        int err;
        bool sticky;
        std::string path; // when set, only calls about this file count
    };
    struct OpenFile {
        std::string path;
        int flags;
    };
    std::uint64_t dataWriteCount = 0;

    // Counts the call and decides whether it fails; sets errno when it does.
    bool fails(FsCall kind, std::vector<std::string> paths, int flags = 0) {
        if (beforeCall)
            beforeCall(kind, paths.empty() ? std::string() : paths.back());
        const auto index = static_cast<std::size_t>(kind);
        if (logging)
            calledLog.push_back({kind, paths.empty() ? std::string() : paths.back()});
        ++total;
        ++counts[index];
        if (plan && (!injected || plan->sticky)) {
            const bool hit =
                !plan->path.empty() ? plan->kind == kind && std::find(paths.begin(), paths.end(),
                                                                      plan->path) != paths.end()
                : plan->kind ? (*plan->kind == kind && (plan->sticky ? counts[index] >= plan->nth
                                                                     : counts[index] == plan->nth))
                             : total == plan->nth;
            if (hit) {
                if (!injected)
                    injected = InjectedFault{kind, plan->err, total, std::move(paths), flags};
                errno = plan->err;
                return true;
            }
        }
        if (always[index] != 0) {
            errno = always[index];
            return true;
        }
        return false;
    }

    void note(FsCall kind, std::size_t count) {
        auto& most = largest[static_cast<std::size_t>(kind)];
        most = std::max(most, count);
    }

    std::size_t limited(std::size_t count) const {
        return transferLimit == 0 ? count : std::min(count, transferLimit);
    }

    // A journal, or the unnamed file in the journals' folder that becomes one.
    bool isJournal(int fd) const {
        const std::string path = pathOf(fd);
        return path.ends_with(".journal") || path.ends_with("/tolvar-files-splitter");
    }

    std::string pathOf(int fd) const {
        const auto found = openFiles.find(fd);
        return found == openFiles.end() ? std::string() : found->second.path;
    }

    std::string inFolder(int folder, const std::string& name) const {
        return pathOf(folder) + "/" + name;
    }

    int flagsOf(int fd) const {
        const auto found = openFiles.find(fd);
        return found == openFiles.end() ? 0 : found->second.flags;
    }

    PosixFileSystem real;
    std::optional<Plan> plan;
    std::optional<InjectedFault> injected;
    std::array<int, kFsCallKinds> always{};
    std::array<std::uint64_t, kFsCallKinds> counts{};
    std::array<std::size_t, kFsCallKinds> largest{};
    std::uint64_t total = 0;
    std::size_t transferLimit = 0;
    std::map<int, OpenFile> openFiles;
    std::set<int> pipes;
    std::vector<std::pair<std::string, off_t>> reserved;
    std::size_t maxOpen = 0;
    bool logging = false;
    bool noUnnamedFiles = false;
    std::vector<LoggedCall> calledLog;
    std::function<void(FsCall, const std::string&)> beforeCall;
};

} // namespace tolvar::testing
