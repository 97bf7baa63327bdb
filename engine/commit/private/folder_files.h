#pragma once

// Files in a held folder: reading one, creating a hidden temporary the journal knows, and
// flushing what was written. Internal to the engine.

#include "failure.h"
#include "file_handle.h"
#include "file_system.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace tolvar::detail {

// A hidden name that no other run picks: ".tolvar-<seven random letters>.tmp" (or another
// suffix). Kept short: ntfs-3g looks a file's folder up again for every 4 KiB it writes, and
// once the folder's names outgrow its index root each lookup costs a read, so a split's hidden
// names should take no more room there than its parts' own names will.
std::string newHiddenName(const char* suffix = ".tmp");
// count random lower-case letters and digits, for names no other run picks.
std::string randomLetters(int count);

class RunJournal;
class Folder;

// Opens name in folder for reading as openForReading does; failures name reportPath.
Result<FileHandle> openForReadingAt(FileSystem& fs, const Folder& folder, const std::string& name,
                                    const std::string& reportPath, struct stat* info = nullptr);

// Creates a new, hidden, uniquely named file in folder with the permission bits mode (less
// the umask); its plain name goes to tempName. Its name is in journal before the file exists
// and its identity right after, so a kill at any point leaves nothing the next run cannot
// remove. Failures are reported against reportPath (the name the user knows); a journal that
// cannot be written fails the call and leaves no file.
Result<FileHandle> createTemporary(FileSystem& fs, RunJournal& journal, const Folder& folder,
                                   const std::string& reportPath, std::string& tempName,
                                   mode_t mode, const char* suffix = ".tmp");

// Whether a failed fsync only says the file system cannot flush (FUSE without fsync, a folder
// on some network shares): it has nothing more to give than what the writes already did.
bool cannotFlush(int err);

// Flushes each file (paths of names in folder, as the user knows them) and the folder to the
// disk.
Result<void> syncToDisk(FileSystem& fs, const Folder& folder,
                        const std::vector<std::string>& paths);

} // namespace tolvar::detail
