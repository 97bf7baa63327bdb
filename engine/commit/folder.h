#pragma once

// A folder held open by descriptor. Internal to the engine.
//
// A run checks the folder it works in once and then acts only through that descriptor:
// another user who controls a folder above it may rename it away or put a symbolic link in
// its place at any moment, and a run that went by path again would then write wherever the
// link points. Through the descriptor it goes on in the folder it checked (wherever that now
// is), or fails; it never reaches another folder.

#include "failure.h"
#include "file_io.h"
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
    // The path the folder had when opened, for messages and for journals.
    const std::string& path() const { return where; }
    // The path of a name in it, for messages only: never opened again.
    std::string pathOf(const std::string& name) const;
    // The folder's status when opened (device, inode, owner, mode).
    const struct stat& status() const { return opened; }
    // Whether path still names this same folder.
    bool stillAt(FileSystem& fs, const std::string& path) const;

private:
    Folder(FileHandle handle, std::string where, const struct stat& opened)
        : handle(std::move(handle)), where(std::move(where)), opened(opened) {}

    FileHandle handle;
    std::string where;
    struct stat opened {};
};

} // namespace tolvar::detail
