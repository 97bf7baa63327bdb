#pragma once

// The one reader and judge of a set. AssembleFile, the window's assembly and the command line's
// join read the set through planJoin and act on its outcome, so they refuse, ask and offer a
// rebuild for the same reasons; the copy that follows trusts the contents the plan checked and
// only makes sure each file is still the one that was read. Verify, info, the check dialog and
// repair read the set through the same call and act on its verdict, so every front end finds
// the same checksum file and judges the same files the same way.

#include "checksum_file.h"
#include "failure.h"
#include "file_system.h"
#include "part_set.h"
#include "progress.h"
#include "recovery.h"
#include "set_verdict.h"

#include <optional>
#include <string>
#include <vector>

namespace tolvar {

// What a set is fit for, judged in this order.
enum class JoinOutcome {
    Ready,               // the set can be joined as it is
    Failed,              // a file cannot be read, or a broken file is missing: see failure
    NotASplitFile,       // the chosen file is no broken file, or its count names no set
    NotFirstPart,        // the chosen file is a later broken file of its set
    ChecksumFileDamaged, // only the user may say to join without checking the contents
    NotABrokenFile,      // a file at one of the set's names is no broken file: see problem
    WrongIndex,          // a broken file carries another index than its name: see problem
    SetMismatch,         // a broken file of another set, or of the wrong size: see problem
    RebuildPossible,     // broken files differ from the checksum file; recovery files can help
    RebuildImpossible,   // broken files differ from the checksum file; nothing can rebuild them
    Cancelled,           // the observer stopped the check
};

// What a plan is made for, which decides how the chosen name is taken.
enum class PlanFor {
    // The chosen file must be the set's first broken file: a plan stops at the first reason a
    // join has to refuse, and its outcome is the join's.
    Join,
    // Verify, info and the check dialog: any broken file or recovery part of the set, which must
    // be there. The outcome is Ready, Failed (a file cannot be read: see failure) or Cancelled;
    // the verdict says the rest.
    Check,
    // The same for repair, whose chosen name may be that of a lost file: the checksum file is
    // found by the set's names alone, since the chosen header may be what was damaged.
    Repair,
};

// How deep a plan reads.
enum class PlanDepth {
    Parts,    // the chosen file's set, one header each: what info lists
    Headers,  // and the set's checksum file, so a caller may ask its questions before hashing
    Contents, // and every file the checksum file lists, hashed once
};

// What to plan.
struct PlanRequest {
    std::string chosen;
    std::string prefix; // a join's output prefix; empty: beside the set
    PlanFor purpose = PlanFor::Join;
    PlanDepth depth = PlanDepth::Contents;
    // Go without the set's checksum file, as the user chose after being told it is damaged.
    bool withoutChecksumFile = false;
};

// What planning one set found; nothing is written while it is made.
struct JoinPlan {
    JoinOutcome outcome = JoinOutcome::NotASplitFile;
    PlanFor purpose = PlanFor::Join;
    std::string chosen;
    // partBaseName(chosen): the set's files are base000 ..., baser00 ...; empty when the name
    // is too short to have siblings.
    std::string base;
    // What is at the chosen name: checks and repairs also take a recovery part, and a repair
    // the name of a lost file.
    FileFound chosenFound = FileFound::Missing;
    std::optional<RecoveryHeader> chosenRecovery; // when the chosen file is a recovery part
    std::optional<PartSet> set;                   // when the chosen file is a broken file
    std::string output; // where the set is joined to: set->outputName(prefix)
    // The set's checksum file as it was found; left unread when the user chose to join
    // without it.
    ChecksumLookup checksums;
    // The verdict on every file: judged by the checksum file once its contents are read
    // (verdict.contentsChecked), else by their headers and sizes. Its lost slots are what a
    // rebuild must write. A join's RebuildPossible says the recovery files cover what is lost;
    // verdict.repairable says too that the checksum file may be trusted to rebuild from, as a
    // repair demands.
    SetVerdict verdict;
    std::optional<Failure> failure;   // for Failed, and a rebuild's only missing file
    std::optional<PartEntry> problem; // the file behind NotABrokenFile, WrongIndex, SetMismatch
    // The count and name tail the set is judged against: the checksum file's when it is usable,
    // else those of the chosen file's header; 0 and empty when there is neither.
    PartHeader judgedBy;
    // The contents were checked and at least one broken file at the set's names is exactly as
    // the checksum file lists it. A stale checksum file found by name may describe an earlier
    // split under the same names, and agrees with that split's recovery parts; only the broken
    // files can show it is this set's.
    bool corroborated = false;
    // When it is not corroborated: why, in the words a lookup gives ("it lists 5 broken files
    // where the set has 3") when a header names another set; else that no broken file is as it
    // lists them.
    std::string disagreement;

    // The set's checksum file vouches for its contents.
    bool checksCopy() const { return checksums.file.has_value(); }
    // The checksum file lists recovery files to rebuild lost broken files from.
    bool hasRecoveryFiles() const { return checksums.file && !checksums.file->recovery.empty(); }
    // Whether the output's name is the chosen file's or one of the set's parts': the join
    // refuses it, so no front end asks to replace what is there.
    bool outputNamesAPart() const;
    // The names, without their folder, of the broken files a rebuild would write.
    std::vector<std::string> lostBrokenFiles() const;
    // One line for each file that is not good: "'/a/big.002': damaged (its contents differ)".
    std::string lostInWords(bool withRecoveryFiles) const;
};

// Reads the chosen file's set, one header each, as deep as asked, through fs: the set's
// checksum file (unless told to go without it) and, for Contents, every file it lists, hashed
// once while the observer hears "checking" progress over the broken files and may cancel.
// A set with a usable checksum file is a Ready join only once its contents are judged.
JoinPlan planJoin(FileSystem& fs, const PlanRequest& request, ProgressObserver* observer = nullptr);

// Deepens a plan made to Headers to Contents: hashes every file the checksum file lists, once,
// and judges the set by them (a join: Ready, RebuildPossible, RebuildImpossible, or why not).
// Does nothing to a plan already judged by them, one without a usable checksum file, or a join
// that is refused already.
void checkJoinContents(FileSystem& fs, JoinPlan& plan, ProgressObserver* observer);

// Sets the checksum file of a join that found it damaged aside, as the user chose: the plan is
// judged by its headers, as a plan made without it would be.
void setChecksumFileAside(JoinPlan& plan);

} // namespace tolvar
