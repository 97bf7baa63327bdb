#pragma once

// A folder held open by descriptor. Internal to the engine.
//
// A run checks the folder it works in once and then acts only through that descriptor:
// another user who controls a folder above it may rename it away or put a symbolic link in
// its place at any moment, and a run that went by path again would then write wherever the
// link points. Through the descriptor it goes on in the folder it checked (wherever that now
// is), or fails; it never reaches another folder.

#include "failure.h"
#include "file_handle.h"
#include "file_system.h"

#include <string>
#include <sys/stat.h>

namespace tolvar::detail {

class Folder {
public:
    // Resolves path (symbolic links in it are followed once, as the user meant them) and opens
    // the folder it names without following a link at its last step, then takes its status
    // from the descriptor. Refused: a path that names no folder. Failures name path.
    static Result<Folder> open(FileSystem& fs, const std::string& path);

    int fd() const { return handle.get(); }
    // The folder's absolute path, links resolved, when opened: for journals.
    const std::string& path() const { return where; }
    // The path as the user gave it, for messages.
    const std::string& shown() const { return given; }
    // The path of a name in it as the user would write it, for messages only: never opened
    // again.
    std::string pathOf(const std::string& name) const;
    // A path that reaches name through the held descriptor (/proc/self/fd/N/name), for
    // readers that take a path: it never leads into whatever now has the folder's old path.
    std::string reach(const std::string& name) const;
    // The folder's status when opened (device, inode, owner, mode).
    const struct stat& status() const { return opened; }
    // How a run reports a folder it cannot hold, when opened for the file at path: a folder
    // that is missing makes the file missing (action on path, as if the folder had not been
    // held first); any other failure names the folder.
    static Failure failureFor(const Failure& opened, FileAction action, const std::string& path);
    // Whether path still names this same folder.
    bool stillAt(FileSystem& fs, const std::string& path) const;

private:
    Folder(FileHandle handle, std::string where, std::string given, const struct stat& opened)
        : handle(std::move(handle)), where(std::move(where)), given(std::move(given)),
          opened(opened) {}

    FileHandle handle;
    std::string where;
    std::string given;
    struct stat opened {};
};

} // namespace tolvar::detail
