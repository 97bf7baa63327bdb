#pragma once

// The files of one set being written under temporary names and moved onto their real names
// together, so that whoever looks at the folder sees the old files or the whole new set,
// never a mix. Every operation that puts files in place (split, join, repair) goes through
// it. Internal to the engine.

#include "file_handle.h"
#include "folder.h"
#include "pending_file.h"
#include "run_journal.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::detail {

// How long a run waits for the lock of a folder another run is committing in, and who hears
// that it waits. Another run holds it for the moment its moves take; a lock held longer is
// someone else's, and a run that waited for it without end would hang without a word.
struct LockWait {
    std::chrono::milliseconds limit{5000};
    // Told once, after the first second: "waiting for another run in '<folder>'".
    std::function<void(const std::string&)> notice;
};

// How the move is made safe against a kill and a power cut. Every step goes through the folder
// held open (see Folder), never its path. Under an exclusive lock of the folder, so that two
// runs never move files of the same folder at once:
//   1. the run's journal (see RunJournal, kept outside the folder) already names every hidden
//      file the run made; it now gets every real name, the hidden backup name its old file
//      goes to, and the identities of the old and the new file;
//   2. the old files move to their backups: from then on no set is visible;
//   3. the new files move onto the real names, the first one added last: the set appears
//      whole;
//   4. the journal marks the commit point; only where old files are about to be deleted, the
//      new files and the folder are first flushed to the disk, and the mark with them;
//   5. the backups go, then the journal.
// A failure in 2 or 3 undoes what was done, in reverse. A run killed before 4 is undone by the
// next run of any command, one killed after it finished (see finishInterruptedRuns).
class PendingSet {
public:
    // operation names the run in the note a later clean-up gives ("split", "join", "repair").
    // folder holds the set's files; it outlives the set.
    PendingSet(FileSystem& fs, const Folder& folder, const char* operation)
        : fs(fs), folder(folder), operation(operation) {}
    PendingSet(const PendingSet&) = delete;
    PendingSet& operator=(const PendingSet&) = delete;
    // What was not committed is removed, then the journal that named it (members go in
    // reverse order of declaration).
    ~PendingSet() = default;

    // This run's journal, started on first use; reportPath names a failure to start it.
    Result<RunJournal*> journalFor(const std::string& reportPath);
    // How long the commit waits for the folder's lock.
    void setLockWait(LockWait wait) { lockWait = std::move(wait); }
    // Starts the file for finalPath (a name in the set's folder) with the permission bits mode less
    // the umask; gives its position.
    Result<std::size_t> add(const std::string& finalPath, mode_t mode);
    PendingFile& file(std::size_t index) { return *files[index]; }
    std::size_t size() const { return files.size(); }
    // A name that goes with the set when it is committed, without a new file in its place.
    void retire(const std::string& path) { retired.push_back(path); }
    // The commit goes ahead only if, under the folder's lock, path (a name in the set's folder)
    // still holds the file it held when it was looked at (status as it was then; nothing if it
    // was absent): so a run that decided from what it read never replaces what another run put
    // there since.
    void expect(const std::string& path, std::optional<struct stat> status) {
        expectations.push_back({path, status});
    }

    // Parks every file and moves it onto its real name, the first one added last. On failure
    // nothing has changed.
    Result<void> commit();

private:
    struct Move {
        std::string path;   // the real name, as the user knows it
        std::string backup; // the hidden name its old file goes to
        PendingFile* file;  // the new file; null for a retired name
        std::optional<struct stat> old;
        bool movedAside = false;
        bool placed = false;
    };
    struct Expectation {
        std::string path;
        std::optional<struct stat> status;
    };
    Result<void> startJournal(const std::string& reportPath);
    Result<void> checkExpectations();
    Result<void> recordMoves(std::vector<Move>& moves);
    Result<void> placeAll(std::vector<Move>& moves);
    Result<void> removeBackups(std::vector<Move>& moves);
    // Puts back what the moves did, never over a file another program put at a name meanwhile;
    // gives what could not be put back, in words, or nothing when all of it was undone.
    std::optional<std::string> undo(std::vector<Move>& moves);

    FileSystem& fs;
    const Folder& folder;
    LockWait lockWait;
    const char* operation;
    // Declared before the files: it outlives them, so it still names whatever they leave.
    std::unique_ptr<RunJournal> journal;
    std::vector<std::unique_ptr<PendingFile>> files;
    std::vector<std::string> retired;
    std::vector<Expectation> expectations;
};

// Takes the held folder's lock on a descriptor of its own; the handle holds it. Waits at most
// wait.limit for a lock another holds, telling wait.notice after the first second, then
// refuses naming the folder, and the user whose process holds it where that is another user.
Result<FileHandle> lockFolder(FileSystem& fs, const Folder& folder, const LockWait& wait = {});
// The same for the folder at path, opened for the purpose.
Result<FileHandle> lockFolder(FileSystem& fs, const std::string& folder);

// Moves from onto to (names in folder) only when nothing has that name. Where the file system
// has neither the rename flag nor hard links (exFAT and FAT through FUSE, many network file
// systems), it checks that the name is free and renames: under the folder's lock no run of
// ours can take the name in between, though another program could.
int moveOntoFreeName(FileSystem& fs, const Folder& folder, const std::string& from,
                     const std::string& to);

} // namespace tolvar::detail
