#pragma once

// What a split or a join needs in its destination folder, against the room there: one answer
// for the runs themselves (which refuse before their first byte), the window's line beside
// the part count, the command line's --size max and the in-place runs, which need to know
// whether a plain run fits before they offer theirs.

#include "file_system.h"
#include "operations.h"
#include "room_check.h"
#include "split_plan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvar {

// The size of each file a split cut as plan writes: its broken files, its recovery files and,
// as options ask, its checksum file, companion and join script (their sizes estimated from
// the number of files and baseNameLength, the length of the parts' name without the folder).
std::vector<std::uint64_t> splitFileSizes(const SplitPlan& plan, const SplitOptions& options,
                                          std::size_t baseNameLength);

// The split's files against the room of the folder at folderPath (as held when asked); the
// names the split writes are not looked up: nothing counted as replaced. Unknown room where
// the folder cannot be opened or does not say.
RoomCheck splitRoomAt(FileSystem& fs, const std::string& folderPath, const SplitPlan& plan,
                      const SplitOptions& options, std::size_t baseNameLength);

// A rebuilt file of length bytes against the room of the folder at folderPath.
RoomCheck joinRoomAt(FileSystem& fs, const std::string& folderPath, std::uint64_t length);

// The refusal of a run that does not fit: "The broken files need 150.0 MB in '/media/stick';
// it has 100.0 MB free." (or "The rebuilt file needs ..."), and where the files it replaces
// would have made room, that they go only at the end.
std::string roomRefusal(const RoomCheck& check, bool rebuiltFile, const std::string& folder);

// The largest part size in kilobytes the folder at folderPath takes: within the largest file
// its file system holds where statfs tells it (FAT32: 4 GiB - 1), else the format's largest.
std::int32_t largestPartAt(FileSystem& fs, const std::string& folderPath);

} // namespace tolvar
