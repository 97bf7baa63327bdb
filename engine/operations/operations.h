#pragma once

#include "file_system.h"
#include "message.h"
#include "message_box.h"
#include "progress.h"
#include "split_plan.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace tolvar {

// What was at a name when the user was asked about it.
struct SeenFile {
    bool present = false;
    struct stat status {}; // when present
};

// What every operation needs from its caller besides its arguments: the box it talks through,
// the file layer (real unless a test injects faults) and, optionally, a progress observer. What
// one operation is asked to do travels apart (SplitOptions, JoinOptions), and so does how it
// ended (SplitEnd, JoinEnd).
struct OperationContext {
    MessageBox& box;
    FileSystem& fs = defaultFileSystem();
    ProgressObserver* progress = nullptr;
    // How long an operation waits for another run to finish committing in its folder before
    // it refuses.
    int lockWaitMilliseconds = 5000;
};

// What a split writes beside the broken files.
struct SplitOptions {
    // How many recovery parts (0 to 100) to write beside the set, so that as many of its files
    // may later be lost or damaged and rebuilt. 0 writes none.
    int recoveryParts = 0;
    // Also write the checksum files beside the set (base + "sha256" and its companion, base +
    // "tolvar"), hashing the parts as they are written.
    bool writeChecksums = false;
    // With writeChecksums: also write the join script beside the set (base + "join.sh") for
    // recipients without this program.
    bool writeJoinScript = false;
    // Split in place: cut the source from its end as each broken file is written and flushed,
    // so only one broken file is ever held twice; the source is gone at the end. The broken
    // files go into the source's own folder, onto free names only.
    bool inPlace = false;
    // Where the broken files do not fit beside the source but would in place: Ask, the window,
    // asks whether to split in place (No the default); Suggest, the command line, refuses and
    // says how.
    enum class WhenOnlyInPlace { Ignore, Ask, Suggest };
    WhenOnlyInPlace whenOnlyInPlace = WhenOnlyInPlace::Ignore;
};

// The engine's messages, as catalogue entries (message.h holds their English text); refusals
// are shown critical, product title.
namespace messages {
inline const Message kConfirmSplit{MessageId::ConfirmSplit};
inline const Message kTooSmall{MessageId::TooSmall};
inline const Message kAlreadySplit{MessageId::AlreadySplit};
inline const Message kDeleteSource{MessageId::DeleteSource};
// kDeleteSource and, on a line of its own, the file: "Would you like to delete the original
// file?\n'/a/big.bin'". Asked with No as the default.
Message deleteSourceQuestion(const std::string& source);
inline const Message kConfirmAssemble{MessageId::ConfirmAssemble};
// "'big.bin' already exists. Replace it?", naming the file without its folder. Asked with No
// as the default before a rebuilt file takes the name of an existing one.
Message replaceQuestion(const std::string& output);
// The success messages of a split and of an assembly, in both front ends.
inline const Message kSplitDone{MessageId::SplitDone};
inline const Message kAssembleDone{MessageId::AssembleDone};
// The success message of an assembly that no checksum file vouched for.
inline const Message kAssembledUnchecked{MessageId::AssembledUnchecked};
inline const Message kNotSplitFile{MessageId::NotSplitFile};
inline const Message kNotBrokenFile{MessageId::NotBrokenFile};
inline const Message kDeleteParts{MessageId::DeleteParts};
// kDeleteParts and, on a line of its own, what goes: "Do you want to delete the broken
// files?\nThe 7 broken files of '/a/big.bin', with its checksum and recovery files." Asked with
// No as the default.
Message deletePartsQuestion(std::size_t partCount, const std::string& output, bool checksumFile,
                            bool recoveryFiles);
// What an operation achieved, then the files its deletions left, in order:
// "The file was assembled as '/b/movie.avi', but these files could not be deleted and are still
// there: '/a/movie.002' to '/a/movie.006' and '/a/movie.sha256'." One file reads "..., but
// '/a/movie.avi' could not be deleted and is still there."
Message notDeletedMessage(const std::string& achieved, const std::vector<std::string>& left);
inline const Message kPartsComplete{MessageId::PartsComplete};
// "The file was assembled as '/b/movie.avi'"
Message assembledAs(const std::string& output);
inline const Message kPartIsSource{MessageId::PartIsSource};
inline const Message kOutputIsPart{MessageId::OutputIsPart};
inline const Message kUnsafeNameTail{MessageId::UnsafeNameTail};
// "A file named '/a/movie.sha256' is already there and was not written by Tolvar Files
// Splitter. Move it away, or split without checksums."
Message checksumNameTakenMessage(const std::string& path);
// "The checksum file '/a/movie.sha256' cannot be used: <reason>", which each caller ends in
// its own way.
Message checksumFileCannotBeUsed(const std::string& path, const std::string& reason);
// "The checksum file '/a/movie.sha256' cannot be used: <reason>. The broken files are
// checked without it."
Message checksumFileUnusableMessage(const std::string& path, const std::string& reason);
// "The checksum file '/a/movie.sha256' is damaged: <reason>, so the broken files cannot be
// checked against it." Each front end adds how to go on.
Message checksumFileDamagedMessage(const std::string& path, const std::string& reason);
inline const Message kAssembleWithoutChecksumFile{MessageId::AssembleWithoutChecksumFile};
// "Nothing was assembled: these broken files do not match the checksum file: ..."
Message partsDoNotMatchMessage(const std::string& list);
inline const Message kAssembledDiffers{MessageId::AssembledDiffers};
// "This split would need 1024 broken files, but a set can hold at most 999. Choose a larger
// size or fewer broken files."
Message tooManyPartsMessage(std::int64_t partCount);
// "'d/x.a' cannot be split under this name: the broken files would be hidden ('d/.000').
// Rename the file, or choose where to save the broken files."
Message unusablePartNameMessage(const std::string& source, const std::string& partName);
// "'d/ab' cannot be split: its name has fewer than three characters, ... Rename the file
// first."
Message shortNameMessage(const std::string& source);
// "'/a/movie.avi' is a folder: the rebuilt file cannot take its name. ..."
Message outputIsFolderMessage(const std::string& path);
// "The broken files are complete, but '/a/movie.avi' was not deleted: it is no longer the file
// that was split ..."
Message sourceChangedMessage(const std::string& path);
// "Not assembled: " followed by what is wrong with the set, naming the file.
Message notAssembledMessage(const std::string& problem);
// "These files were not deleted: they are no longer the files that were read (...):" and the
// files, one a line.
std::string changedSinceReadMessage(const std::vector<std::string>& paths);
} // namespace messages

// Cuts Filename into parts carrying Filesize KB (1 KB = 1024 bytes) of payload each, the
// last part taking the rest. Prefix is the part-name prefix (empty: parts go beside the
// source, named after it); DeletePath is the file deleted when the user agrees to delete the
// source (the window passes its source box, which holds Filename).
// Asks for confirmation first and about deleting the source at the end; refuses a source not
// larger than one part, one that is already a part, a set of 1000 or more parts, and a set
// whose part would be the source itself; reports every failure as a failure report.
// Returns true only when every part is written (and the source deleted if asked).
bool SplitFile(const std::string& Filename, std::int32_t Filesize, const std::string& Prefix,
               const std::string& DeletePath, OperationContext& context,
               const SplitOptions& options = {});

// The same operation with PartSize = source length div Filenumber; the remainder goes into
// one further, short part.
bool SplitFile2(const std::string& Filename, std::int32_t Filenumber, const std::string& Prefix,
                const std::string& DeletePath, OperationContext& context,
                const SplitOptions& options = {});

// How a split ended.
enum class SplitEnd {
    Split,     // every part is written, and the source deleted if the user agreed
    FilesLeft, // every part is written, but the source the user agreed to delete is still there:
               // the deletion failed, or it had changed since it was read (said, naming it)
    NotDone,   // declined, refused, failed or cancelled, and said why
};

// SplitFile (rule Kilobytes, amount the size) or SplitFile2 (NumberOfParts, amount the number),
// saying how it ended.
SplitEnd splitBy(SplitRule rule, const std::string& Filename, std::int32_t amount,
                 const std::string& Prefix, const std::string& DeletePath,
                 OperationContext& context, const SplitOptions& options = {});

// What a join is told besides its set: the user's answers to questions asked before it.
struct JoinOptions {
    // Join without the set's checksum file even when one is there, as the user chose after being
    // told it is damaged. False: a damaged checksum file stops the join.
    bool withoutChecksumFile = false;
    // What the caller found at the output's name when it asked whether to replace it. The join
    // puts its file there only if that is still so; unset, it notes what is there when it starts.
    std::optional<SeenFile> outputSeen = std::nullopt;
};

// How a join ended.
enum class JoinEnd {
    Joined,     // the output is in place, and the files the user agreed to delete are gone
    Unfinished, // the output is in place, but its deletions could not begin (said)
    Declined,   // the user said No to the confirmation
    Refused,    // refused or failed, and said why through the box
    Stopped,    // stopped without a word, as the classic join does: a later part was chosen, or
                // a broken file carries another index than its name (the plan says which)
    Cancelled,  // the observer stopped it; nothing is left behind
    FilesLeft,  // the output is in place, but files the user agreed to delete are still there:
                // a deletion failed, or they had changed since they were read (said, naming them)
};

struct JoinPlan;

// Rebuilds a file from the set whose first part is Filename. The output is Prefix (or the
// chosen path without its last three bytes, when Prefix is empty) followed by the set's
// NameTail. The output is written to a temporary file beside it and moved into place only
// when every part has been copied, so a refused, failed or cancelled assembly leaves an
// existing file of that name untouched. Asks for confirmation first and about deleting the
// parts at the end. Returns true only when the output is in place (and the parts deleted if
// asked).
bool AssembleFile(const std::string& Filename, const std::string& Prefix,
                  OperationContext& context);

// The same, with the user's earlier answers, saying how it ended.
JoinEnd AssembleFile(const std::string& Filename, const std::string& Prefix,
                     OperationContext& context, const JoinOptions& options);

// The same for a set its caller planned (planJoin) to ask its own questions first: asks the
// confirmation, checks the contents if the plan has not, then acts on the plan. A plan that
// found a reason to refuse is refused in AssembleFile's words.
JoinEnd assemblePlanned(JoinPlan& plan, OperationContext& context, const JoinOptions& options);

} // namespace tolvar
