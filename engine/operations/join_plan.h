#pragma once

// The one judge of a set before it is joined. AssembleFile, the window's assembly and the
// command line's join read the set through planJoin and act on its outcome, so they refuse,
// ask and offer a rebuild for the same reasons; the copy that follows trusts the contents the
// plan checked and only makes sure each file is still the one that was read.

#include "checksum_file.h"
#include "failure.h"
#include "file_system.h"
#include "part_set.h"
#include "progress.h"
#include "set_findings.h"

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

// What planning the join of one set found; nothing is written while it is made.
struct JoinPlan {
    JoinOutcome outcome = JoinOutcome::NotASplitFile;
    std::string chosen;
    std::optional<PartSet> set; // when the chosen file is a broken file
    std::string output;         // where the set is joined to: set->outputName(prefix)
    // The set's checksum file as it was found; left unread when the user chose to join
    // without it.
    ChecksumLookup checksums;
    // The verdict on every file: judged by the checksum file once checkJoinContents has read
    // them (verdict.contentsChecked), else by their headers and sizes. Its lost slots are what
    // a rebuild must write, and it is repairable exactly when the outcome is RebuildPossible.
    SetVerdict verdict;
    std::optional<Failure> failure;   // for Failed, and a rebuild's only missing file
    std::optional<PartEntry> problem; // the file behind NotABrokenFile, WrongIndex, SetMismatch

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

// Reads the chosen file's set, its headers once, and looks up its checksum file (unless told to
// go without it), through fs; reads no file's contents. A set with a usable checksum file is
// Ready only once checkJoinContents has judged it.
JoinPlan planJoin(FileSystem& fs, const std::string& chosen, const std::string& prefix,
                  bool withoutChecksumFile);

// Hashes every file the plan's checksum file lists, once, and judges the set by them: Ready,
// RebuildPossible, RebuildImpossible, or why not. Does nothing to a plan already judged, or one
// without a usable checksum file. The observer hears "checking" progress over the broken files.
void checkJoinContents(FileSystem& fs, JoinPlan& plan, ProgressObserver* observer);

} // namespace tolvar
