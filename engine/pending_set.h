#pragma once

// The files of one set being written under temporary names and moved onto their real names
// together, so that whoever looks at the folder sees the old files or the whole new set,
// never a mix. Internal to the engine.

#include "file_io.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvar::detail {

// How the move is made safe against a kill. Under an exclusive lock of the folder, so that two
// runs never move files of the same folder at once:
//   1. a journal, ".tolvar-<process>-<random>.undo", names every real name, the hidden backup
//      name its old file goes to (if it had one) and the new file's inode;
//   2. the old files move to their backups, the first part first: from then on no set is
//      visible;
//   3. the new files move onto the real names, the first part last: the set appears whole;
//   4. the journal goes (the new set is now the one that stays), then the backups.
// A failure in 2 to 4 undoes what was done, in reverse. A run killed before 4 leaves its
// journal, and the next run in the folder (tidyFolder) puts the old files back and removes the
// new ones. A run killed between removing the journal and its backups leaves backups,
// ".tolvar-<process>-<random>.bak", of files its complete set replaced: they are never removed
// by any run, for the user to look at or delete.
class PendingSet {
public:
    PendingSet(FileSystem& fs, std::string folder) : fs(fs), folder(std::move(folder)) {}
    PendingSet(const PendingSet&) = delete;
    PendingSet& operator=(const PendingSet&) = delete;
    // What was not committed is removed.
    ~PendingSet() = default;

    // Starts the file for finalPath (in the set's folder) with the permission bits mode less
    // the umask; gives its position.
    Result<std::size_t> add(const std::string& finalPath, mode_t mode);
    PendingFile& file(std::size_t index) { return *files[index]; }
    std::size_t size() const { return files.size(); }
    // A name that goes with the set when it is committed, without a new file in its place.
    void retire(const std::string& path) { retired.push_back(path); }

    // Moves every file onto its real name, the first one added last. On failure nothing has
    // changed.
    Result<void> commit();

private:
    struct Move {
        std::string path;   // the real name
        std::string backup; // where its old file went; empty when there was none
        PendingFile* file;  // the new file; null for a retired name
        bool movedAside = false;
        bool placed = false;
    };
    Result<void> writeJournal(const std::vector<Move>& moves, std::string& journal);
    // Puts back what the moves did; true when all of it could be undone.
    bool undo(std::vector<Move>& moves);

    FileSystem& fs;
    std::string folder;
    std::vector<std::unique_ptr<PendingFile>> files;
    std::vector<std::string> retired;
};

// Opens folder and takes its lock (FileSystem::lock); the handle holds it.
Result<FileHandle> lockFolder(FileSystem& fs, const std::string& folder);

// Cleans up after runs that were killed in folder: puts back what an unfinished commit moved
// (see PendingSet) and removes hidden temporary files, ".tolvar-<process>-*.tmp", whose process
// no longer exists. Touches nothing else: another run's files, backups, files of other names.
// Best effort: a folder that cannot be read or a file that cannot be removed stays as it is.
void tidyFolder(FileSystem& fs, const std::string& folder);

} // namespace tolvar::detail
