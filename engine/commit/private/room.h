#pragma once

// How much a folder can still take. Internal to the engine.
//
// A split or join that needs more room than the folder has writes part after part and then
// fails on a full disk; asked first, the file system says how much an ordinary user may still
// write there, and the run can refuse before the first byte or suggest another way.

#include "file_system.h"
#include "folder.h"
#include "room_check.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::detail {

// The bytes an ordinary (not root) user may still write in folder's file system (statfs:
// f_bavail blocks of f_frsize bytes), or nothing where it cannot be known: the call fails, or
// a share reports no blocks at all.
std::optional<std::uint64_t> freeRoom(FileSystem& fs, const Folder& folder);

// Files of these sizes written into folder, against its free room: each rounded up to the
// file system's block (a FAT cluster, where that is what statfs gives), and the regular files
// now at replacedNames (plain names in folder) counted as replaced.
RoomCheck checkRoom(FileSystem& fs, const Folder& folder, const std::vector<std::uint64_t>& sizes,
                    const std::vector<std::string>& replacedNames);

} // namespace tolvar::detail
