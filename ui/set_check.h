#pragma once

#include "checksum_file.h"
#include "failure.h"
#include "file_system.h"
#include "progress.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tolvar {

// What checking a set without assembling it found: each broken file and recovery file, and
// the verdict on the whole. The same engine as the command line's verify.
struct SetCheck {
    // The checksum file's name; empty when there is none beside the set.
    std::string checksumPath;
    // Why the checksum file there cannot be used; empty when it can, or there is none.
    std::string checksumProblem;
    // True when the files were hashed against the checksum file; false when they could only
    // be listed (no usable checksum file): then Good means "there", not "checked".
    bool contentsChecked = false;
    std::vector<PartVerdict> verdicts;
    // Some file is not good and the recovery files can rebuild every one of them.
    bool repairable = false;
    // Why the checksum file, usable for checking, cannot be trusted to rebuild from: no broken
    // file is as it lists them, so it may be an earlier split's. Empty when it can be.
    std::string untrusted;
    // Why only the files' digests could be checked (the checksum file's companion is lost);
    // empty when everything could.
    std::string incomplete;

    bool whole() const;
    // One line on the whole set: "The set is whole: all 9 files are good.", "The set is not
    // whole: 1 damaged, 1 missing. The recovery files can rebuild them: press Repair." ...
    std::string verdict() const;
    // One file's condition in words: "good", "damaged (120 bytes short)", "missing",
    // "foreign (not a broken file)", or "there (its contents cannot be checked)".
    std::string describe(const PartVerdict& verdict) const;
};

// Checks the set that chosen (any of its broken files or recovery files) belongs to, through
// fs, changing nothing. Empty when the observer cancelled. A refusal (in the user's words)
// when chosen belongs to no set; a failure when a file is there but cannot be read.
struct SetCheckRefusal {
    std::string message;
};
Result<std::variant<SetCheck, SetCheckRefusal, std::monostate>>
checkSet(FileSystem& fs, const std::string& chosen, ProgressObserver* observer);

} // namespace tolvar
