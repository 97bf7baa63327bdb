#pragma once

// The in-place split itself, from the checked source and plan to the set in place. Internal to
// the engine; SplitFile and SplitFile2 call it for SplitOptions::inPlace.

#include "file_handle.h"
#include "folder.h"
#include "operations.h"
#include "run_journal.h"
#include "split_plan.h"

#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tolvar::detail {

// What the split checked before it cuts anything.
struct InPlaceSplitJob {
    OperationContext& context;
    const SplitOptions& options;
    SplitRule rule;
    std::int32_t amount;
    const std::string& source; // as the user named it
    const Folder& folder;      // the source's, where the set goes
    FileHandle& sourceFile;    // open for reading and writing; closed where the source is gone
    const SplitPlan& plan;     // for the source's length before its first cut
    const std::string& base;   // the set's names but for their index
    // The set's files, as placed: broken files, recovery files, checksum files.
    std::vector<std::string>& created;
};

// The unfinished in-place split of the file name in folder that no run is going on with: the
// one whose source is the file open at source (while it is still there: the same inode and
// the same first bytes), else (source -1) the one that consumed a file of that name and left
// files there. Found in this user's journals only, never in the folder.
std::optional<FoundInPlaceSplit> earlierInPlaceSplit(FileSystem& fs, const Folder& folder,
                                                     const std::string& name, int source);

// Writes the set from the source's end down, cutting the source after each broken file is
// flushed and recorded, then the recovery and checksum files, and puts them all onto their
// names, the first broken file last. Goes on from where earlier stopped. True when the set is
// in place and the source gone; false when refused (said) or cancelled. Whatever stops it,
// every byte is in the source or in a flushed broken file that the journal keeps; `unfinished`
// is set once that journal exists.
Step splitInPlace(InPlaceSplitJob& job, const std::optional<FoundInPlaceSplit>& earlier,
                  bool& unfinished);

} // namespace tolvar::detail
