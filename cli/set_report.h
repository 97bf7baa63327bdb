#pragma once

#include "part_set.h"

#include <string>
#include <string_view>

namespace tolvar::cli {

// One file of a set as "info" and "verify" list it: "  003  <state>  <path>", the state padded
// to a column and the path escaped for a terminal.
std::string formatPartLine(std::string_view slot, std::string_view state, std::string_view path);

// The report as printed by "info": a few lines naming the part, its index and the count, the
// file the set restores to, then one line per index and a closing verdict. Names and name
// tails are escaped for a terminal.
std::string formatSetReport(const PartSet& set);

// Why a join of this set stopped without a word (the chosen part is not the first, or a part
// carries another index than its name calls for), in a sentence naming the part; a general
// sentence when the set could not be read again (nullptr).
std::string silentStopInWords(const PartSet* set);

} // namespace tolvar::cli
