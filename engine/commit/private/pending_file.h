#pragma once

// A file being written that takes its name only when its whole set is committed. Internal to
// the engine.

#include "failure.h"
#include "file_handle.h"
#include "file_system.h"

#include <string>
#include <sys/stat.h>

namespace tolvar::detail {

class Folder;
class RunJournal;

// A file being written for finalPath, which appears under that name only once committed (see
// PendingSet). It is unnamed (O_TMPFILE) where the file system allows it, so a killed run
// leaves nothing behind; elsewhere it has a hidden name beside finalPath, which the run's
// journal records so that the next run can remove it. Every step goes through the held folder
// finalPath names a file of. What was not committed is removed when the object goes.
class PendingFile {
public:
    PendingFile(FileSystem& fs, const Folder& folder, std::string finalPath, RunJournal& journal)
        : fs(fs), folder(folder), finalPath(std::move(finalPath)), journal(journal) {}
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile() { discard(); }

    // Creates the file in the folder. It stays private to its owner while written and gets the
    // permission bits mode less the umask when parked (where the file system has permission
    // bits at all).
    Result<void> create(mode_t mode);
    int get() const { return file.get(); }
    // A second, read-only descriptor of the same file, for reading back what was written.
    Result<FileHandle> openForReadBack();
    // Gives the complete file its permission bits and a hidden name, and closes it, so that a
    // set of any size never holds more than one descriptor per file being written.
    Result<void> park();
    // Removes the file unless it was committed.
    void discard();

    const std::string& target() const { return finalPath; }
    // The plain name in the folder the file will have.
    std::string targetName() const;
    // The hidden name, once the file has one (always after park).
    const std::string& hiddenName() const { return tempName; }
    // A path that reaches the hidden file through the held folder, for readers by path.
    std::string hiddenPath() const;
    // The parked file's status.
    const struct stat& status() const { return parkedStatus; }
    // After the commit moved the parked file onto finalPath: nothing left to remove.
    void placed() { tempName.clear(); }

private:
    FileSystem& fs;
    const Folder& folder;
    std::string finalPath;
    RunJournal& journal;
    FileHandle file;
    std::string tempName; // the hidden name, once the file has one
    mode_t finalMode = 0;
    struct stat parkedStatus {};
};

} // namespace tolvar::detail
