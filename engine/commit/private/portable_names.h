#pragma once

// What a destination folder can hold, asked before the first byte of an operation is written:
// the names (FAT, exFAT and NTFS refuse some characters, some drivers alter names, some
// folders ignore case) and the size of one file (FAT32). The folder is asked by trying, never
// judged by the name of its file system. Internal to the engine.

#include "file_system.h"
#include "folder.h"
#include "run_journal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::detail {

// Why folder cannot take every one of names (plain names in it) as it is, or nothing. Each
// character outside letters, digits, ".", "_", "-" and space, and a name ending in "." or
// " ", is tried once on a hidden probe file created and removed at once; a character whose
// probe the folder refuses, or whose probe appears under another name, is named in the
// answer. Where the folder ignores case, a name that differs only in case from an existing
// file that is not part of a set (a part, a recovery part or a checksum file) is refused too:
// writing it would replace that file. When the folder cannot be probed at all the answer is
// nothing, and the operation's own writes report what is wrong.
// Each probe is named in journal while it exists, so that a kill leaves nothing behind; a
// failure when the journal cannot name one.
Result<std::optional<std::string>> nameRefusal(FileSystem& fs, const Folder& folder,
                                               const std::vector<std::string>& names,
                                               RunJournal& journal);

// Why one of names (plain names in folder), or the hidden name each file of the run waits
// under there, is longer than the folder's file system allows (statfs's f_namelen, NAME_MAX
// where statfs says nothing), or nothing. A name too long fails only once the set is written
// and moved into place; asked first, it costs nothing: "The name '<name>' is 258 bytes long,
// but the folder '<folder>' holds names of at most 255 bytes. Choose a shorter name or
// prefix."
std::optional<std::string> nameLengthRefusal(FileSystem& fs, const Folder& folder,
                                             const std::vector<std::string>& names);

// The largest file the folder's file system can hold, where statfs tells it (FAT: 4 GiB - 1),
// with that file system's name for the message.
struct FileSizeLimit {
    std::uint64_t bytes;
    const char* fileSystem;
};
std::optional<FileSizeLimit> knownFileSizeLimit(FileSystem& fs, const Folder& folder);

// "'<path>' is 5.2 GB; a FAT32 file can hold at most 4 GB. Choose another folder.", or with
// no file system named, "... a file in '<folder>' can hold at most 2 GB. ...". Sizes are in
// GB counted in 1024s; the file's size is rounded up and the limit down, so they never look
// equal.
std::string tooLargeMessage(const std::string& path, std::uint64_t size, std::uint64_t limit,
                            const char* fileSystem, const std::string& folder);

// After writing the file open as fd (folder's file `path`, meant to hold size bytes) failed:
// whether the file system would not let the file grow any larger although there is room for
// the rest, and then the message to give instead of the write's own. A file system with a
// size limit says EFBIG; some FUSE drivers say EPERM at theirs.
// One byte more is tried at the file's end to ask; the file is being discarded anyway.
std::optional<std::string> sizeLimitMessage(FileSystem& fs, int fd, const std::string& path,
                                            std::uint64_t size, const Folder& folder);

} // namespace tolvar::detail
