#pragma once

#include "file_system.h"

#include <string>
#include <string_view>

namespace tolvar::cli {

// The part-name prefix the engine gets for --prefix. Normally the text with "." appended, as
// the window's boxes hold it. A text ending in "/" or naming an existing folder is that
// folder: the files keep the name they would have beside namedAfter (the source of a split,
// the chosen part of a join), its last three bytes cut, in that folder: "out/" with
// "dir/movie.avi" gives "out/movie.", so parts out/movie.000, ... and a join out/movie.avi.
std::string enginePrefix(std::string_view prefix, std::string_view namedAfter, FileSystem& fs);

} // namespace tolvar::cli
