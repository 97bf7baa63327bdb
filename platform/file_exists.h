#pragma once

#include "failure.h"
#include "file_system.h"

#include <string>

namespace tolvar {

// Whether strPath names at least one existing ordinary file. The last component may hold
// the wildcards "*" (any run of characters) and "?" (one character); folders, devices,
// sockets, FIFOs and hidden files (names starting with ".") never count. A search that
// cannot be made (an unreadable folder) is a failure; a missing folder simply finds nothing.
// Every look at the disk goes through fileSystem.
Result<bool> FileExists(const std::string& strPath, FileSystem& fileSystem);

// The wildcard match used above, exposed for tests: "*" and "?" only, byte by byte.
bool matchesWildcard(std::string_view pattern, std::string_view name);

} // namespace tolvar
