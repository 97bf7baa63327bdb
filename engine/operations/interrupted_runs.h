#pragma once

#include "file_system.h"

#include <string>
#include <vector>

namespace tolvar {

// Finishes or undoes what this user's killed runs left in the folders they were writing,
// before a front end starts work of its own. Gives one line for each run it dealt with, and
// for each folder it had to leave for a later run.
std::vector<std::string> finishInterruptedRuns(FileSystem& fs);

} // namespace tolvar
