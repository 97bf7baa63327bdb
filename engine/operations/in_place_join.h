#pragma once

// Joining a set in place: each broken file is deleted as soon as its bytes are durable in the
// rebuilt file, so the join needs room for little more than one broken file instead of the
// whole file beside its set. The run's journal marks the rebuilt file's temporary as holding
// the user's only copy of the files already gone; nothing but the same join, run again, acts
// on it, and that picks up where the run stopped.

#include "join_plan.h"
#include "operations.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tolvar {

struct InPlaceOptions {
    JoinOptions join;
    // The user said, apart from starting the join, that a set without a checksum file may be
    // joined in place with its contents unchecked (the command line's --no-checksums); when
    // false they are asked.
    bool uncheckedConfirmed = false;
    // Told, when given, whether the rebuilt file was checked against a checksum file (a run
    // picking up another's checks what that run was to check).
    bool* contentsChecked = nullptr;
};

// What a join of the planned set needs beside it: the whole file, or, in place, its largest
// broken file's bytes and its checksum file.
struct JoinRoom {
    std::uint64_t plain = 0;
    std::uint64_t inPlace = 0;
    std::optional<std::uint64_t> free; // what the folder has; nothing when it cannot be known

    bool fitsPlainly() const { return !free || *free >= plain; }
    // An in-place join frees room only where the broken files are: with the rebuilt file
    // going to another folder it is no way out.
    bool besideTheParts = false;
    bool fitsOnlyInPlace() const {
        return besideTheParts && free && *free < plain && *free >= inPlace;
    }
};
JoinRoom roomForJoin(FileSystem& fs, const JoinPlan& plan);

namespace messages {
// "There is room to assemble 'big.iso' only by deleting each broken file as soon as ...
// Assemble that way?", No the default.
Message inPlaceJoinQuestion(const std::string& output);
// "There is no room for 'big.iso' beside its broken files: it needs 40 GB, and 25 GB are
// free. Joined in place, it needs room only for its largest broken file and the checksum
// file: 1.2 GB. To join it that way, give --in-place."
Message inPlaceSuggestion(const std::string& output, const JoinRoom& room);
} // namespace messages

// Whether an in-place join of the set whose first broken file is (or was) `chosen` was
// interrupted and waits to be picked up: then joinInPlace goes on with it, even with the
// chosen file already gone.
bool inPlaceJoinWaits(FileSystem& fs, const std::string& chosen);

// Asks the confirmation, then joins the planned set in place, or picks up the interrupted
// in-place join of that set. Before anything is deleted the whole set is judged: its headers,
// and with a checksum file every file's contents (a damaged broken file that the recovery
// files can rebuild is repaired first); without one the user is asked again unless options
// say so. Each broken file's bytes are appended to the rebuilt file's hidden temporary and
// made durable, the journal records it, and only then is that file deleted. The complete file
// is checked against the checksum file's whole-file digest, takes its name, and then the
// checksum and recovery files go. Cancelled, refused or failed after a first broken file was
// deleted, it says how to finish; nothing is ever lost.
JoinEnd joinInPlace(JoinPlan& plan, OperationContext& context, const InPlaceOptions& options);

} // namespace tolvar
