#include "folder.h"

#include "path_parts.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>

namespace tolvar::detail {

namespace {

// The path with its links resolved, or the path as given where it cannot be resolved (the
// open that follows then reports why).
std::string resolved(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           &std::free);
    return real ? std::string(real.get()) : path;
}

} // namespace

Result<Folder> Folder::open(FileSystem& fs, const std::string& path) {
    const std::string real = resolved(path.empty() ? std::string(".") : path);
    const int fd = fs.open(real, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0)
        return fileFailure(errno == ELOOP ? ENOTDIR : errno, FileAction::Open, path);
    FileHandle handle(fs, fd);
    struct stat st {};
    if (fs.fstat(fd, &st) != 0)
        return fileFailure(errno, FileAction::Open, path);
    if (!S_ISDIR(st.st_mode))
        return fileFailure(ENOTDIR, FileAction::Open, path);
    return Folder(std::move(handle), real, path.empty() ? std::string(".") : path, st);
}

Failure Folder::failureFor(const Failure& opened, FileAction action, const std::string& path) {
    if (opened.err == ENOENT || opened.err == ENOTDIR)
        return fileFailure(opened.err, action, path);
    return opened;
}

std::string Folder::pathOf(const std::string& name) const {
    return given == "." ? name : pathIn(given, name);
}

std::string Folder::reach(const std::string& name) const {
    return "/proc/self/fd/" + std::to_string(fd()) + "/" + name;
}

bool Folder::stillAt(FileSystem& fs, const std::string& path) const {
    struct stat st {};
    return fs.stat(path, &st) == 0 && st.st_dev == opened.st_dev && st.st_ino == opened.st_ino;
}

} // namespace tolvar::detail
