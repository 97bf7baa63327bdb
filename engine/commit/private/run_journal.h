#pragma once

// The journal a run keeps while it puts files into a folder, and the clean-up after runs that
// were killed. Internal to the engine.
//
// Journals live in this user's own state folder ($XDG_STATE_HOME/tolvar-files-splitter, else
// ~/.local/state/tolvar-files-splitter, created 0700), never in the folder being written:
// anyone may put files into that folder, and nothing found there may tell us what to rename
// or delete. A journal names its folder by path, device and inode, and every file it will
// touch by a plain name in that folder with the device, inode and size this run created or
// found it with, and a fingerprint of its contents (see Fingerprint). The inode is the fast
// first test; where it no longer matches (FUSE drivers and the kernel's vfat number inodes
// afresh after a remount, and FUSE ones after the kernel merely forgets them), the fingerprint
// tells the run's old file from its new one and from anyone else's, which is left alone. Its
// owner is named by host, boot, PID namespace, number and start time, so a reused number or a
// run in another namespace or on another host is never taken for a finished one.

#include "failure.h"
#include "file_system.h"
#include "message_box.h"
#include "process_identity.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace tolvar::detail {

class Folder;

// A file as this run created or found it. The fingerprint is empty in journals of the first
// format, which settled files by inode alone.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::string fingerprint; // see fingerprintOf

    static FileIdentity of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, {}}; }
    bool matches(const struct stat& st) const {
        return st.st_dev == device && st.st_ino == inode && st.st_size == size;
    }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What a file holds, in a form that survives a remount: 64 hex digits of SHA-256 over its size,
// its first 4 KiB (the part header and what follows it) and up to seven more 4 KiB blocks spread
// evenly to its end. Not the whole-file digest a checksum file carries: the old files a commit
// replaces were never hashed, hashing them whole would read a multi-gigabyte set again at every
// commit, and only runs with checksums hash their new parts. Telling a run's old file from its
// new one and from a stranger's needs no more than this: parts of two sets differ in their
// headers or their bytes, and at most 32 KiB of each file are read. Failures name reportPath.
Result<std::string> fingerprintOf(FileSystem& fs, int fd, off_t size,
                                  const std::string& reportPath);
// The same for the file at name in folder (never a link), as long as it is regular and the
// size given; fills status. Nothing when it cannot be read.
std::optional<std::string> fingerprintAt(FileSystem& fs, int folder, const std::string& name,
                                         struct stat& status);

// An in-place split (split_in_place.h): the source as it was before its first cut and how it
// is cut, so that running the same split again picks up where a kill stopped it. Names are
// plain names in the journal's folder.
struct InPlaceSplitRecord {
    std::string source;    // the file being cut; its bytes not yet in a broken file
    FileIdentity original; // device, inode and length before the first cut (no fingerprint)
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::uint32_t mode = 0;
    int rule = 0; // SplitRule
    std::int32_t amount = 0;
    int recoveryParts = 0;
    bool checksums = false;
    bool joinScript = false;
    std::string base;        // the set's names but for their index
    std::string wholeDigest; // 64 hex digits of the whole source, or empty without checksums
};

// A file of an in-place split, complete and flushed under its hidden name: it holds the user's
// only copy of its bytes once the source is cut. No clean-up ever removes it.
struct InPlaceFile {
    std::string name;   // the real name it goes to at the end
    std::string hidden; // our hidden name it waits under
    FileIdentity identity;
    std::string digest; // 64 hex digits of its contents, or empty without checksums
};

// What a journal holds. Names are plain names in `folder`.
struct JournalContents {
    ProcessIdentity owner;
    std::string operation; // "split", "join", "repair": for the note after a clean-up
    std::string folder;    // absolute
    dev_t folderDevice = 0;
    ino_t folderInode = 0;
    struct Temporary {
        std::string name; // one of our hidden names (see isOurTemporaryName)
        FileIdentity identity;
    };
    // Hidden files the run made in the folder.
    std::vector<Temporary> temporaries;
    // Hidden names the run was about to create a file at, recorded before the file is made so
    // that a kill between the two leaves nothing unnamed. A file found at one of these that was
    // never recorded as a temporary is removed only while it is still as it was born: empty,
    // ours and with one name.
    std::vector<std::string> intended;
    struct Move {
        std::string name;      // the real name
        std::string backup;    // the hidden name its old file goes to
        std::string temporary; // the hidden name of the new file; empty for a retired name
        FileIdentity replacement;
        std::optional<FileIdentity> old; // the file found at the name, if any
    };
    std::vector<Move> moves;
    struct Deletion {
        std::string name; // a real name whose file the run was deleting
        FileIdentity identity;
    };
    // Files a run was about to delete once its work was done (the parts after a join): the
    // next run deletes those that still hold what was recorded.
    std::vector<Deletion> deletions;
    // Set once every new file has its real name: from here on the next run finishes the
    // commit (removes the backups) instead of undoing it.
    bool committed = false;
    // Read from a journal of the first format, whose identities have no fingerprint: settled
    // by inode alone, as the version that wrote it did.
    bool firstFormat = false;

    // An in-place join: each broken file is deleted as soon as its bytes are durable in the
    // rebuilt file's temporary, which then holds the user's only copy of them. No clean-up
    // touches anything such a journal names; only the same join, run again, picks it up.
    struct InPlaceJoin {
        std::string output;    // the rebuilt file's real name
        std::string temporary; // its hidden name until it is complete
        std::string base;      // the set's names without their three digits
        std::string digest;    // the whole file's SHA-256 (hex) from the checksum file, or empty
        std::vector<Deletion> parts; // the broken files in order, as they were judged
        std::vector<Deletion> after; // the checksum and recovery files, which go last
        std::size_t partsIn = 0;     // broken files whose bytes are durable in the temporary
        off_t length = 0;            // the temporary's length with them
        std::string fingerprint;     // fingerprintOf the temporary's first `length` bytes
        bool placed = false;         // the temporary has taken the real name
    };
    std::optional<InPlaceJoin> inPlace;
    // An in-place split's journal: no clean-up acts on it; only the same split, run again,
    // goes on with it (and removes it once the set is in place).
    std::optional<InPlaceSplitRecord> inPlaceSplit;
    std::vector<InPlaceFile> inPlaceFiles;
    // Every file of the in-place split has its name: the journal only waits to be removed.
    bool inPlaceDone = false;
};

// The journal's bytes (always the current format), and back. Parsing reads the current and the
// first format, and refuses (nothing) a journal of another format, one
// with a name that is not plain or not ours where ours are due, and stops at a record cut
// short by a kill.
std::string formatJournal(const JournalContents& contents);
std::optional<JournalContents> parseJournal(const std::string& text);

// The largest journal any run writes (1,099 files with names of 255 bytes, with room to spare);
// a larger file in the state folder is not ours and is never read beyond this.
inline constexpr std::size_t kMaxJournalSize = std::size_t{4} << 20;

// A name with no "/" that is not "." or "..".
bool isPlainName(const std::string& name);
// How many random letters or digits a hidden name carries.
inline constexpr int kHiddenLetters = 7;
// ".tolvar-<seven letters or digits>.tmp" (or ".bak", or a probe's suffix holding ".probe"):
// the hidden names runs make. Earlier versions wrote ".tolvar-<digits>-<ten letters>..."; a
// journal such a run left still names them, so they are ours too.
bool isOurTemporaryName(const std::string& name);

// This user's state folder, created 0700 if missing. Refused when it is not a folder of this
// user's that nobody else may write.
Result<std::string> stateFolder();

// This run's journal for one folder. Removed when the object goes, unless kept.
class RunJournal {
public:
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;
    ~RunJournal();

    // Starts the journal for the held folder, named by its path, device and inode as it was
    // opened; reportPath names failures the user can place.
    static Result<std::unique_ptr<RunJournal>> start(FileSystem& fs, const Folder& folder,
                                                     const char* operation,
                                                     const std::string& reportPath);

    Result<void> addIntended(const std::string& path);
    Result<void> addTemporary(const std::string& path, const struct stat& st);
    Result<void> addMoves(const std::vector<JournalContents::Move>& moves);
    Result<void> addDeletions(const std::vector<JournalContents::Deletion>& deletions);
    // Marks the commit point; durable also flushes the journal to the disk.
    Result<void> markCommitted(bool durable);
    // What it says stays for the next run: something could not be undone.
    void keep() { kept = true; }
    // Its run is over after all (an in-place run that finished): removed when the object goes.
    void drop() { kept = false; }

    // An in-place join's records (see JournalContents::InPlaceJoin), each flushed to the disk
    // before the step it allows: the start, before the temporary holds anything; a broken
    // file's bytes durable in the temporary, before that file is deleted; the temporary under
    // its real name, before the checksum and recovery files go.
    Result<void> startInPlaceJoin(const JournalContents::InPlaceJoin& join);
    Result<void> markPartsIn(std::size_t partsIn, off_t length, const std::string& fingerprint);
    Result<void> markPlaced();
    // Takes over the journal a killed in-place join left at path, to append to it: the
    // interrupted run's record stays the one record of that join.
    static Result<std::unique_ptr<RunJournal>> adopt(FileSystem& fs, const std::string& path,
                                                     const std::string& reportPath);

    // An in-place split's records, each flushed to the disk before the run cuts anything it
    // vouches for. The journal is then kept whatever stops the run.
    Result<void> addInPlaceSplit(const InPlaceSplitRecord& record);
    Result<void> addInPlaceFile(const InPlaceFile& file);
    // Marks the in-place split done, for a journal that then fails to go.
    Result<void> markInPlaceDone();
    // Takes the journal's lock, held while the run lives: another run of the same in-place
    // split, or a clean-up, sees the run is going on. False when another holds it.
    Result<bool> holdLock();

private:
    Result<void> appendDurably(const std::string& text);
    RunJournal(FileSystem& fs, std::string path, int fd, std::string reportPath)
        : fs(fs), path(std::move(path)), fd(fd), reportPath(std::move(reportPath)) {}
    Result<void> append(const std::string& text);

    FileSystem& fs;
    std::string path;
    int fd;
    std::string reportPath;
    bool kept = false;
};

// The identity of the file at name in folder whose status st was just taken, with its
// fingerprint where it is an ordinary file; failures to read it name reportPath.
Result<FileIdentity> identityOf(FileSystem& fs, int folder, const std::string& name,
                                const struct stat& st, const std::string& reportPath);

// Records, before a run deletes files it is done with (plain names in folder, each with the
// status it had when the run read it), each one's identity, so that a run killed midway is
// finished by the next command. Kept until the object goes. A file gone since, or changed
// since it was read, is left out. Fails when a file cannot be read or the journal cannot be
// written: nothing is deleted then.
Result<std::unique_ptr<RunJournal>>
journalDeletions(FileSystem& fs, const Folder& folder,
                 const std::vector<std::pair<std::string, struct stat>>& files,
                 const char* operation);

// The journals of this user's in-place joins whose runs are over (see JournalContents), with
// their paths. None of them is ever settled by finishInterruptedRuns.
std::vector<std::pair<std::string, JournalContents>> unfinishedInPlaceJoins(FileSystem& fs);
// An unfinished in-place split's journal as found in the state folder.
struct FoundInPlaceSplit {
    std::string path; // the journal
    JournalContents contents;
};
// The in-place splits no run is going on with (none holds its journal's lock).
std::vector<FoundInPlaceSplit> unfinishedInPlaceSplits(FileSystem& fs);
// The command that finishes an in-place split: the same split again, as the command line
// spells it.
std::string inPlaceSplitCommand(const JournalContents& run);

// Finishes or undoes, in every folder they recorded, what this user's killed runs left: runs
// whose owner is certainly gone (see livenessOf). An unfinished in-place split is never acted
// on: its files hold the user's only copy; one line says how to finish it. Gives one line for each
// run it dealt with. A journal whose folder is missing, does not answer within a second, or is now
// another folder stays untouched for a later run, with one line per folder and process saying so.
// Each folder is reached once, checked, and then acted on only through its descriptor.
std::vector<std::string> finishInterruptedRuns(FileSystem& fs);
// The same, each line told through box.
void finishInterruptedRuns(FileSystem& fs, MessageBox& box);

} // namespace tolvar::detail
