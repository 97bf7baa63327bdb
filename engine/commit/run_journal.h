#pragma once

// The journal a run keeps while it puts files into a folder, and the clean-up after runs that
// were killed. Internal to the engine.
//
// Journals live in this user's own state folder ($XDG_STATE_HOME/tolvar-files-splitter, else
// ~/.local/state/tolvar-files-splitter, created 0700), never in the folder being written:
// anyone may put files into that folder, and nothing found there may tell us what to rename
// or delete. A journal names its folder by path, device and inode, and every file it will
// touch by a plain name in that folder with the device, inode and size this run created or
// found it with; a file whose identity no longer matches is left alone (at a hidden name,
// whose letters only the journal knows, a file of this user's with one name still counts: FUSE
// drivers renumber inodes). Its owner is named by host, boot, PID namespace, number and start
// time, so a reused number or a run in another namespace or on another host is never taken
// for a finished one.

#include "failure.h"
#include "file_system.h"
#include "message_box.h"
#include "process_identity.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tolvar::detail {

class Folder;

// A file as this run created or found it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;

    static FileIdentity of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size}; }
    bool matches(const struct stat& st) const {
        return st.st_dev == device && st.st_ino == inode && st.st_size == size;
    }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
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
    // Set once every new file has its real name: from here on the next run finishes the
    // commit (removes the backups) instead of undoing it.
    bool committed = false;
};

// The journal's bytes, and back. Parsing refuses (nothing) a journal of another format, one
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
    // Marks the commit point; durable also flushes the journal to the disk.
    Result<void> markCommitted(bool durable);
    // What it says stays for the next run: something could not be undone.
    void keep() { kept = true; }

private:
    RunJournal(FileSystem& fs, std::string path, int fd, std::string reportPath)
        : fs(fs), path(std::move(path)), fd(fd), reportPath(std::move(reportPath)) {}
    Result<void> append(const std::string& text);

    FileSystem& fs;
    std::string path;
    int fd;
    std::string reportPath;
    bool kept = false;
};

// Finishes or undoes, in every folder they recorded, what this user's killed runs left: runs
// whose owner is certainly gone (see livenessOf). Gives one line for each run it dealt with.
// Best effort: a journal whose folder cannot be reached or changed stays for a later run.
std::vector<std::string> finishInterruptedRuns(FileSystem& fs);
// The same, each line told through box.
void finishInterruptedRuns(FileSystem& fs, MessageBox& box);

} // namespace tolvar::detail
