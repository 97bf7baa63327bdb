#pragma once

// The one reader of a set for verifying, checking and repairing it. The command line's verify,
// the window's check and repair take a set from here, so they find the same checksum file and
// judge the same files the same way.

#include "checksum_file.h"
#include "failure.h"
#include "file_system.h"
#include "part_header.h"
#include "part_set.h"
#include "progress.h"
#include "recovery.h"

#include <optional>
#include <string>
#include <vector>

namespace tolvar {

// How the chosen name is taken.
enum class ChosenName {
    MustBeThere, // verify and check: no ordinary file at the name is a failure
    MayBeLost,   // repair: the name of a lost file still names its set
};

// What reading a set from one chosen name found.
struct SetFindings {
    std::string chosen;
    std::string base; // partBaseName(chosen): the set's files are base000 ..., baser00 ...
    FileFound chosenFound = FileFound::Missing;
    std::optional<PartSet> set;                   // when the chosen file is a broken file
    std::optional<RecoveryHeader> chosenRecovery; // when the chosen file is a recovery part
    // The checksum file: for verify and check looked up by the chosen broken file's header,
    // else (and always for repair) by its name alone.
    ChecksumLookup checksums;
    // The count and name tail the set is judged against: the checksum file's when it is usable,
    // else those of the chosen file's header; 0 and empty when there is neither.
    PartHeader judgedBy;
    // True when the verdicts were hashed against the checksum file; false when they could only
    // be taken from the set's states (no usable checksum file): then Good means "there".
    bool contentsChecked = false;
    // With a usable checksum file, one per file it lists, as verifyParts says; without one, one
    // per index of the set the chosen broken file names, none when it is no broken file.
    std::vector<PartVerdict> verdicts;
    // The checksum file is usable and at least one broken file at the set's names is exactly as
    // it lists it. A stale checksum file found by name may describe an earlier split under the
    // same names, and agrees with that split's recovery parts; only the broken files can show
    // it is this set's.
    bool corroborated = false;
    // When it is not corroborated: why, in the words a lookup gives ("it lists 5 broken files
    // where the set has 3") when a header names another set; else that no broken file is as it
    // lists them.
    std::string disagreement;
};

// The one verdict on a set: what verify prints, the check dialog lists and a join acts on.
struct SetVerdict {
    // The checksum file's name; empty when there is none beside the set.
    std::string checksumPath;
    // Why the checksum file there cannot be used; none when it can, or there is none.
    std::optional<ChecksumFileProblem> checksumProblem;
    // True when the files were hashed against the checksum file; false when they could only
    // be taken from the set's headers (no usable checksum file): then Good means "there".
    bool contentsChecked = false;
    // With contents checked, one per file the checksum file lists, broken files first; else
    // one per index of the set.
    std::vector<PartVerdict> verdicts;
    // Why only the files' digests could be checked (the checksum file's companion is lost);
    // empty when everything could.
    std::string incomplete;
    // Some file is not good and the recovery files can rebuild every one of them.
    bool repairable = false;
    // Why the checksum file, usable for checking, cannot be trusted to rebuild from: no broken
    // file is as it lists them, so it may be an earlier split's. Empty when it can be.
    std::string untrusted;

    // Every file is good (and there is at least one).
    bool whole() const;
    // How many files are in that condition.
    int count(PartCondition condition) const;
    // The places in verdicts of the files that are not good: what a rebuild must write.
    std::vector<int> lostSlots() const;
    bool checksumFileDamaged() const {
        return checksumProblem && checksumProblem->kind == ChecksumFileProblem::Kind::Damaged;
    }
};

// The shape of the set that file describes, whose parts carry header's count and tail.
RecoveryLayout recoveryLayoutOf(const ChecksumFile& file, const PartHeader& header);

// The verdict on the set as read: with a usable, complete checksum file, whether its recovery
// files can rebuild what is lost, and may be trusted to.
SetVerdict judgeSet(const SetFindings& found);

// Reads the set that chosen (one of its broken files or recovery parts) belongs to, through fs,
// changing no file: the chosen file and, when it is a broken file, its set as readPartSet reads
// it; the set's checksum file; and, when that is usable, every file it lists, hashed through
// verifyParts (the observer hears of the bytes read and may cancel). Empty when the observer
// cancelled. A failure when chosen is too short to name a set (fewer than three bytes), when a
// file is there but cannot be read, and, with ChosenName::MustBeThere, when no ordinary file is
// at the chosen name, as readPartSet gives it.
Result<std::optional<SetFindings>> readSetFindings(FileSystem& fs, const std::string& chosen,
                                                   ChosenName name, ProgressObserver* observer);

// One index of a set judged without checksums, by its header and size as joining judges it:
// Present is Good; NotAPart and OtherSet are Foreign; Unreadable, WrongIndex and WrongSize are
// Damaged, with the set's words for what is wrong as the detail.
PartVerdict verdictOf(const PartSet& set, const PartEntry& entry);

} // namespace tolvar
