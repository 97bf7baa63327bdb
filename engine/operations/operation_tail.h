#pragma once

// The end that split and assembly share. Internal to the engine.

#include "file_io.h"
#include "operations.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::detail {

// The files an operation deletes once the user agreed, worked out after its result is on disk;
// nothing when it found a reason to keep them (and said it).
using Doomed = Result<std::optional<std::vector<std::string>>>;

// Reports a failure; after success asks `question` (No the default) and, on Yes, flushes `kept` to
// disk before deleting, in order, the files `doomed` names. True when the operation's work is done
// (the answer No included); false when it was refused, failed, or a deletion could not be done.
// A deletion that fails is reported, then `achieved` (messages::kPartsComplete, assembledAs) and
// the files still there, and context.filesLeftUndeleted is set; so it is when `doomed` kept them.
bool finishOperation(OperationContext& context, const Step& outcome, const std::string& question,
                     const std::string& achieved, const std::vector<std::string>& kept,
                     const std::function<Doomed()>& doomed);

} // namespace tolvar::detail
