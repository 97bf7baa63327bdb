#pragma once

// The end that split and assembly share. Internal to the engine.

#include "file_handle.h"
#include "folder.h"
#include "operations.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::detail {

// A file an operation deletes once the user agreed: a name in a folder the operation holds
// (path as the user knows it), and the file as the operation read it.
struct DoomedFile {
    const Folder* folder;
    std::string path;
    struct stat seen;
};

// The files an operation deletes once the user agreed, worked out after its result is on disk;
// nothing when it found a reason to keep them (and said it).
using Doomed = Result<std::optional<std::vector<DoomedFile>>>;

// How an operation's end went.
enum class Finish {
    Done,      // the work is done, and the files the user agreed to delete are gone (or kept)
    FilesLeft, // the work is done, but files the user agreed to delete are still there (said)
    NotDone,   // refused, failed or declined before the work was done, or a failure was said
};

// Reports a failure; after success asks `question` (No the default) and, on Yes, flushes `kept`
// (names in keptFolder) to disk before deleting, in order, the files `doomed` names. A name that
// no longer holds the file that was read (another program wrote or replaced it meanwhile, the
// question may have waited for hours) is kept and named. Done when the operation's work is
// done (the answer No included). A deletion that fails is reported, then `achieved`
// (messages::kPartsComplete, assembledAs) and the files still there: FilesLeft, as when
// `doomed` kept them. operation ("split", "join") names the run to a later command that finishes
// deletions a kill interrupted.
Finish finishOperation(OperationContext& context, const Step& outcome, const Message& question,
                       const std::string& achieved, const char* operation, const Folder* keptFolder,
                       const std::vector<std::string>& kept, const std::function<Doomed()>& doomed);

} // namespace tolvar::detail
