#pragma once

// The one verdict on a set, and how one file of it is judged: what the join plan
// (engine/operations/join_plan.h) finds, and what verify prints, the check dialog lists and a
// join acts on.

#include "checksum_file.h"
#include "part_header.h"
#include "part_set.h"
#include "recovery.h"

#include <optional>
#include <string>
#include <vector>

namespace tolvar {

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

// One index of a set judged without checksums, by its header and size as joining judges it:
// Present is Good; NotAPart and OtherSet are Foreign; Unreadable, WrongIndex and WrongSize are
// Damaged, with the set's words for what is wrong as the detail.
PartVerdict verdictOf(const PartSet& set, const PartEntry& entry);

} // namespace tolvar
