#pragma once

// Splitting a file in place: cut from its end, each broken file written and flushed before
// the source is shortened by its bytes, so the split needs room for one broken file (and the
// recovery and checksum files) instead of a second copy of the file. What the front ends need
// to offer it.

#include "file_system.h"
#include "split_plan.h"

#include <cstdint>
#include <string>

namespace tolvar {

struct SplitOptions;

// Where a split's files fit, as far as the folder's free room tells.
enum class SplitRoom {
    Unknown,         // the room, or the file, cannot be known: nothing to offer
    FitsBeside,      // beside the source, the source kept whole until the end
    FitsOnlyInPlace, // only by shortening the source as each broken file is written
    FitsNeither,
};

// Where they fit, with the figures a suggestion names: what the plain split needs, what the
// folder has and what the split in place needs (zero where unknown).
struct SplitRoomCheck {
    SplitRoom verdict = SplitRoom::Unknown;
    std::uint64_t plain = 0;
    std::uint64_t free = 0;
    std::uint64_t inPlace = 0;
};

// Where the files a split of source (as SplitFile takes it: prefix, rule and amount) writes
// would fit. In place, the folder must hold the largest broken file, every header and the
// recovery and checksum files, each rounded up to whole blocks; beside it, the whole set.
SplitRoomCheck splitRoom(FileSystem& fs, const std::string& source, const std::string& prefix,
                         SplitRule rule, std::int32_t amount, const SplitOptions& options);

} // namespace tolvar
