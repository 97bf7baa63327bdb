#pragma once

#include "repair.h"

#include <string>

namespace tolvar::cli {

// The listing "repair" prints on standard output: one line per file the checksum file lists,
// with what was found and, for the files rebuilt, that they were; then the outcome.
std::string formatRepairReport(const RepairReport& report);

} // namespace tolvar::cli
