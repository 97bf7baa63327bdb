#pragma once

#include "checksum_file.h"
#include "failure.h"
#include "file_system.h"
#include "progress.h"
#include "recovery.h"

#include <string>
#include <vector>

namespace tolvar {

// What RepairSet found and did.
struct RepairReport {
    enum class Outcome {
        Whole,        // every file of the set matches its checksum; nothing written
        Repaired,     // every lost or damaged file rebuilt, checked and in place
        BeyondRepair, // more files lost than the recovery parts cover; nothing changed
        Refused,      // the set cannot be repaired as it is (message says why); nothing changed
        Cancelled,    // the observer stopped it; nothing changed
    };
    Outcome outcome = Outcome::Refused;
    std::string message;               // for Refused: why, in the user's words
    std::vector<PartVerdict> verdicts; // every file the checksum file lists, as found
    std::vector<std::string> rebuilt;  // the files written, broken files first
    // What the clean-up after killed runs did before the repair began, one line each.
    std::vector<std::string> notes;
};

// Repairs the set that the chosen file (one of its broken files or recovery parts, which may
// be one that is lost) belongs to. Checks every file the set's checksum file lists; rebuilds
// those that are missing or fail their checksum (damaged, foreign) from the others with the
// recovery code; checks each rebuilt file against its checksum; then moves each into place
// under its own name, replacing what was there. Only the set's own names are written (the
// checksum file is usable only when it lists just those), never a file that is good. Nothing
// is changed unless every rebuilt file matches. Refuses a set without a usable checksum file,
// one that no header read from a file of the set bears out (JoinPlan::corroborated), a set
// without recovery parts, a chosen name that is not one of the set's, and a set where a listed
// name holds no ordinary file (a folder). A chosen file that does not exist, with no
// set around it, is a FileNotFound failure.
// A failure when a file cannot be read or written; a failure while moving the files into
// place leaves those already moved (each checked) and removes the rest.
Result<RepairReport> RepairSet(const std::string& chosen, FileSystem& fs,
                               ProgressObserver* observer = nullptr);

} // namespace tolvar
