#pragma once

#include "checksum_file.h"
#include "failure.h"
#include "file_system.h"
#include "message_box.h"
#include "part_set.h"
#include "progress.h"

#include <optional>
#include <string>
#include <vector>

namespace tolvar::cli {

// What "verify" found: each file the checksum file lists, with its condition.
struct VerifyReport {
    std::string checksumPath;
    std::vector<PartVerdict> verdicts;
    // The checksum file is damaged: nothing was checked against it and verdicts is empty.
    bool checksumFileDamaged = false;

    // True when every listed file is good (never with a damaged checksum file).
    bool whole() const;
};

// Checks the set of partPath against its checksum file, through fs, changing no file. set is
// the set as readPartSet read it from partPath, empty when partPath is no part (its header
// may be gone: the set is then found by its name, when the checksum file lists it). Empty
// optional when there is no usable checksum file beside the set (the caller then lists the
// set as "info" does); a checksum file that is there but not the set's (or another tool's) is
// said through box first. A damaged one is said through box too, and gives a report marked
// checksumFileDamaged: the set is not vouched for, so verify does not succeed. A failure when a
// file cannot be read or the observer cancelled.
Result<std::optional<VerifyReport>> verifyWithChecksums(const std::string& partPath,
                                                        const std::optional<PartSet>& set,
                                                        FileSystem& fs, MessageBox& box,
                                                        ProgressObserver* progress);

// One line per listed file ("  003  damaged (120 bytes short)  movie.003", recovery parts
// with their own name's tail) and a closing verdict.
std::string formatVerifyReport(const VerifyReport& report);

} // namespace tolvar::cli
