#pragma once

#include "checksum_file.h"
#include "failure.h"
#include "file_system.h"
#include "progress.h"
#include "set_findings.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tolvar {

// One file's condition in words, as the check dialog lists it: "good", "damaged (120 bytes
// short)", "missing", "foreign (not a broken file)", or "there (its contents cannot be
// checked)".
std::string describeInCheck(const SetVerdict& set, const PartVerdict& verdict);

// One line on the whole set: "The set is whole: all 9 files are good.", "The set is not
// whole: 1 damaged, 1 missing. The recovery files can rebuild them: press Repair." ...
std::string verdictInWords(const SetVerdict& set);

// Checks the set that chosen (any of its broken files or recovery files) belongs to, through
// fs, changing nothing. Empty when the observer cancelled. A refusal (in the user's words)
// when chosen belongs to no set; a failure when a file is there but cannot be read.
struct SetCheckRefusal {
    std::string message;
};
Result<std::variant<SetVerdict, SetCheckRefusal, std::monostate>>
checkSet(FileSystem& fs, const std::string& chosen, ProgressObserver* observer);

} // namespace tolvar
