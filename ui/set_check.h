#pragma once

#include "checksum_file.h"
#include "set_verdict.h"

#include <string>

namespace tolvar {

// One file's condition in words, as the check dialog lists it: "good", "damaged (120 bytes
// short)", "missing", "foreign (not a broken file)", or "there (its contents cannot be
// checked)".
std::string describeInCheck(const SetVerdict& set, const PartVerdict& verdict);

// One line on the whole set: "The set is whole: all 9 files are good.", "The set is not
// whole: 1 damaged, 1 missing. The recovery files can rebuild them: press Repair." ...
std::string verdictInWords(const SetVerdict& set);

} // namespace tolvar
