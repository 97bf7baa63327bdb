#pragma once

#include "checksum_file.h"
#include "join_plan.h"
#include "message_box.h"

#include <optional>
#include <string>
#include <vector>

namespace tolvar::cli {

// What verify says of the set as planned to its contents (planJoin), changing no file. Empty when
// there is no usable checksum file beside the set (the caller then lists the set as "info" does); a
// checksum file that is there but not the set's (or another tool's) is said through box first.
// A damaged one is said through box too, and gives a verdict without files: the set is not
// vouched for, so verify does not succeed.
std::optional<SetVerdict> verifyWithChecksums(const JoinPlan& plan, MessageBox& box);

// One line per listed file ("  003  damaged (120 bytes short)  movie.003", recovery parts
// with their own name's tail) and a closing verdict.
std::string formatVerifyReport(const SetVerdict& report);

} // namespace tolvar::cli
