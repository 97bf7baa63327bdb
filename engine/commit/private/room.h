#pragma once

// How much a folder can still take. Internal to the engine.
//
// A split or join that needs more room than the folder has writes part after part and then
// fails on a full disk; asked first, the file system says how much an ordinary user may still
// write there, and the run can refuse before the first byte or suggest another way.

#include "file_system.h"
#include "folder.h"

#include <cstdint>
#include <optional>

namespace tolvar::detail {

// The bytes an ordinary (not root) user may still write in folder's file system (statfs:
// f_bavail blocks of f_frsize bytes), or nothing where it cannot be known: the call fails, or
// a share reports no blocks at all.
std::optional<std::uint64_t> freeRoom(FileSystem& fs, const Folder& folder);

} // namespace tolvar::detail
