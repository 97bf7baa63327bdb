#pragma once

// The checksum files a split may write beside its set. Since format 2 they are two:
//
// - base + "sha256" (movie.sha256 beside movie.000, movie.001, ...), for the recipients: only
//   "<64 hex digits>  <name>" lines, one per part and then one per recovery part, so that
//   GNU and uutils sha256sum -c, Perl's shasum -a 256 -c, busybox sha256sum -c and 7-Zip's
//   hash test all check the set in its folder without this program, and count no line as bad;
// - base + "tolvar" (movie.tolvar), the companion, for this program: the same digests with
//   what only it reads, in "#" lines, including the SHA-256 of the plain file:
//
//   # Tolvar Files Splitter checksum file, format 2
//   # program: Tolvar Files Splitter 2.0
//   # source: movie.avi            (the name only: a set tells nothing of the sender's folders)
//   # size: 1073741824
//   # modified: 1765194788.123456789
//   # mode: 0644
//   # part-size: 104857600
//   # whole-sha256: <64 hex digits: the SHA-256 of the whole original>
//   # sha256-file: <64 hex digits: the SHA-256 of movie.sha256>
//   # parts: 11
//   <64 hex digits>  movie.000
//   ...
//   <64 hex digits>  movie.010
//   # recovery-parts: 2
//   <64 hex digits>  movie.r00
//   <64 hex digits>  movie.r01
//   # self-sha256: <64 hex digits: the SHA-256 of every byte before this line>
//
// Format 1, written before, is the companion's text alone at the plain file's name (its source
// a full path, no sha256-file line); such files are read as they always were.
//
// The part lines follow "# parts: N" in index order; recovery parts, when there are any,
// follow "# recovery-parts: M". Metadata lines are "# key: value"; keys this version does not
// know are kept, in order, and written back. The last line checks the file itself, so a
// damaged checksum file is told from a damaged part. Names and values holding a backslash,
// a newline or a carriage return are escaped as sha256sum escapes names: the line starts
// with a backslash and they read "\\", "\n" and "\r".

#include "failure.h"
#include "file_system.h"
#include "part_header.h"
#include "progress.h"
#include "sha256.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tolvar {

inline constexpr std::string_view kChecksumSuffix = "sha256";
inline constexpr std::string_view kCompanionSuffix = "tolvar";

// Where the checksum file of the set whose parts are base000, base001, ... lives.
std::string checksumFilePath(std::string_view base);
// Where its companion lives.
std::string companionFilePath(std::string_view base);

struct ChecksumEntry {
    std::string name; // relative to the checksum file's folder
    Digest digest{};
};

// Everything a checksum file says.
struct ChecksumFile {
    std::string program;              // the writer's name and version
    std::string sourcePath;           // the original's name (format 1: its full name)
    std::uint64_t sourceSize = 0;     // bytes
    std::int64_t modifiedSeconds = 0; // the original's modification time, since the epoch
    std::int64_t modifiedNanoseconds = 0;
    std::uint32_t mode = 0;              // the original's permission bits (07777 at most)
    std::uint64_t partSize = 0;          // payload bytes of every part but the last
    Digest wholeDigest{};                // SHA-256 of the whole original
    std::vector<ChecksumEntry> parts;    // one per part, in index order
    std::vector<ChecksumEntry> recovery; // recovery parts, after the parts
    std::vector<std::pair<std::string, std::string>> extra; // metadata of other versions
    std::optional<Digest> plainDigest; // format 2: the SHA-256 of the plain checksum file
    // False when only the digests are known, read from the plain file with its companion lost:
    // then only the digests and the names mean anything.
    bool complete = true;

    // The payload bytes part `index` should carry, from the size and the part size.
    std::uint64_t payloadOf(int index) const;
};

// The program's name and version as a checksum file records them.
std::string checksumProgramName();

// The companion's text, ending with its self-check line.
std::string formatChecksumFile(const ChecksumFile& file);

// The plain checksum file's text: its digest lines alone.
std::string formatPlainChecksums(const ChecksumFile& file);

// Whether text (the start of a file is enough) begins as this program's checksum files do.
bool isChecksumFileText(std::string_view text);

// Why a file at a checksum file's name cannot be used.
struct ChecksumFileProblem {
    enum class Kind {
        Foreign, // not a checksum file of this program, or not of this set
        Damaged, // ours, but changed since it was written
    };
    Kind kind;
    std::string reason; // e.g. "it was not written by Tolvar Files Splitter"
};

// Reads a checksum file's text. Refuses, as Foreign, text that neither starts with this
// program's first line nor ends with its self-check line (another tool's checksums), or that
// is intact but of an unknown format; as Damaged, text whose self-check fails or is missing,
// or whose lines do not read as the format says (a name holding "/", more than 999 parts or
// 100 recovery parts). Any changed byte of a file this program wrote is Damaged.
std::variant<ChecksumFile, ChecksumFileProblem> parseChecksumFile(std::string_view text);

// What lies at a set's checksum file name.
struct ChecksumLookup {
    // The checksum file's name, checksumFilePath(base); the companion's when a problem is its.
    std::string path;
    std::optional<ChecksumFile> file;           // set when the file is there and usable
    std::optional<ChecksumFileProblem> problem; // set when it is there but unusable
    std::optional<struct stat> status;          // the file at path as it was read, when there
    // Format 2: the companion, when it was read, and the file there as it was read.
    std::string companionPath;
    std::optional<struct stat> companionStatus;
    std::string joinScriptPath; // our join script of the set, when one is there
    // Set when the file is usable but incomplete: why only the digests could be checked.
    std::string incomplete;
    bool present() const { return file.has_value() || problem.has_value(); }
    // The set's checksum files that are there and this program's: what goes with the set.
    std::vector<std::string> paths() const;
};

// Which of the checksum files at a set's names a split over the set may replace or remove as
// its own: the plain file when it is in format 1 or its companion, ours, records its digest;
// the companion when it opens as ours. Reads no more than 4 MiB of either.
struct OwnChecksumFiles {
    bool plain = false;
    bool companion = false;
};
Result<OwnChecksumFiles> ownChecksumFiles(FileSystem& fs, std::string_view base);

// Looks for the checksum file of the set with parts base000 ... and the header of one of its
// parts, through fs. Absent when there is no file of that name. A file that parses but does
// not belong to the set is Foreign: another count of parts, another name tail, or any name
// other than the set's own in its place (part i is PartFileName(base, i), recovery part j is
// RecoveryFileName(base, j)), so a usable file names only files of the set. No more than
// 4 MiB of it is read: a larger file is Damaged when it opens with this program's first line
// (ours, grown), Foreign otherwise. A failure only when the file is there but cannot be read.
// A plain checksum file is read with its companion, which must record its digest (else the
// plain file is Damaged); with the companion missing, the plain file alone gives an incomplete
// file whose lines must be exactly the set's names, else it is Foreign (another tool's).
Result<ChecksumLookup> lookUpChecksumFile(FileSystem& fs, std::string_view base,
                                          const PartHeader& header);

// The same for a set known by its names only (its chosen part lost its header): the set is
// the one the checksum file describes, as long as its names are the set's.
Result<ChecksumLookup> lookUpChecksumFile(FileSystem& fs, std::string_view base);

// Why the checksum file is not that of the set whose broken files carry header's count and
// name tail, in the words a lookup gives ("it lists 5 broken files where the set has 3");
// nothing when it is.
std::optional<std::string> setDisagreement(const ChecksumFile& file, const PartHeader& header);

// What verifying found at one entry of a checksum file.
enum class PartCondition {
    Good,    // its SHA-256 matches
    Damaged, // a part of this set whose bytes changed: cut short, grown, altered, or another
             // part's bytes under this name (a swapped or misnamed part)
    Missing, // no file of that name
    Foreign, // a file that is no part of this set: no part header, or another set's part
};

struct PartVerdict {
    std::string path;
    int index = 0;         // the part's index, or the recovery part's position in its list
    bool recovery = false; // a recovery part rather than a part
    PartCondition condition = PartCondition::Missing;
    std::string detail; // for Damaged and Foreign: what is wrong, e.g. "120 bytes short"
    // The file as it was read, when an ordinary file was there: what a repair expects to find
    // at the name when it puts its files in place.
    std::optional<struct stat> status;
    // The count and name tail the file's own header gives its set, when it carries one (a
    // broken file's part header, a recovery part's header): what shows whose set the files at
    // these names are when the chosen name carries no header.
    std::optional<PartHeader> setHeader;
};

// Hashes every part and recovery part that `file` lists, at the set's own names beside base
// (PartFileName, RecoveryFileName), and says what each is, in the order listed, with the header
// each carries. Reads through fs and changes no file; hashes on two threads while the caller's
// thread reads. The observer, when given, hears the bytes read and may cancel: then the result
// is false and verdicts is incomplete. A failure when a file is there but cannot be read.
Result<bool> verifyParts(FileSystem& fs, std::string_view base, const ChecksumFile& file,
                         const PartHeader& header, ProgressObserver* observer,
                         std::vector<PartVerdict>& verdicts);

// "good", "damaged (120 bytes short)", "missing", "foreign (not a broken file)".
std::string describeVerdict(const PartVerdict& verdict);

} // namespace tolvar
