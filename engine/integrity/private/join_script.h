#pragma once

// The join script a split may write beside its set for recipients without this program:
// base + "join.sh", so movie.join.sh beside movie.000, movie.001, ... and movie.sha256. It is
// plain POSIX sh using only what every Unix and busybox have (cat, tail -c +17, printf, ln,
// mv, rm), so `sh movie.join.sh` rebuilds movie.avi under dash, bash or busybox's sh. Before
// it writes a byte it checks that every broken file is there and, where sha256sum or shasum
// is installed, that each one's digest is in the checksum file; it writes under a hidden name,
// checks the whole file's digest where it can, and gives it its name only when no file has it.

#include "sha256.h"

#include <string>
#include <string_view>

namespace tolvar {

inline constexpr std::string_view kJoinScriptSuffix = "join.sh";

// Where the join script of the set whose parts are base000, base001, ... lives.
std::string joinScriptPath(std::string_view base);

// What the script needs to know about the set; names are bare file names, no folder.
struct JoinScriptSet {
    std::string partBase;     // the parts' names without their three digits, e.g. "movie."
    int partCount = 0;        // parts partBase000 ... partBase(count-1)
    std::string output;       // the original's name, e.g. "movie.avi"
    std::string checksumFile; // e.g. "movie.sha256"
    Digest wholeDigest{};     // the original's SHA-256
};

// The script's text, from the one template.
std::string formatJoinScript(const JoinScriptSet& set);

// Whether text (the start of a file is enough) begins as this program's join scripts do.
bool isJoinScriptText(std::string_view text);

} // namespace tolvar
