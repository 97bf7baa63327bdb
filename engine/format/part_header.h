#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvar {

// The fixed 16-byte record at the start of every part file:
//   offset 0  "SPLITKV"       magic tag
//   offset 7  PartIndex       three decimal digits, zero-padded
//   offset 10 PartCount       three decimal digits, zero-padded
//   offset 13 NameTail        last three bytes of the source's path
// The payload (a contiguous slice of the source) follows directly; no trailer.
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::string_view kMagicTag = "SPLITKV";
// The three-digit fields hold at most this many parts in one set.
inline constexpr int kMaxPartCount = 999;
// The largest block an operation reads from a file at one step.
inline constexpr std::size_t CopyStepSize = 10240;

using HeaderBytes = std::array<char, kHeaderSize>;

struct PartHeader {
    std::int16_t PartIndex = 0;
    std::int16_t PartCount = 0;
    std::string NameTail; // up to three bytes, exactly as stored

    // Builds the header of part `index` of `count` cut from `sourcePath`. The tail is the
    // path's last three bytes (the whole path if shorter); the result is space-padded or cut
    // to 16 bytes, which only matters outside the format's limits.
    static HeaderBytes build(int index, int count, std::string_view sourcePath);

    // Reads the fields of a header already known to carry the magic tag. A numeric field is
    // the decimal number at its start (blanks and one sign allowed before the digits), 0 when
    // it starts with no number.
    static PartHeader parse(const HeaderBytes& bytes);
};

// True when the first seven bytes are exactly "SPLITKV" (case-sensitive). Fewer than seven
// bytes never make a part.
bool isPart(std::string_view firstBytes);

// What a file's first bytes say of it as a part.
struct HeaderReading {
    std::optional<PartHeader> header; // a whole header carrying the tag
    bool tagged = false;              // the bytes start with the tag, whole header or not
    // Without a header, why: "shorter than a part header" or "no part header".
    std::string_view reason;
};

// Judges the first bytes of a file (a header's worth when it holds that many).
HeaderReading readHeader(std::string_view firstBytes);

// What lies at a name a reader of a set looks at.
enum class FileFound {
    Missing,    // no file of that name
    NotRegular, // a folder, device, FIFO or socket: not read
    Regular,    // an ordinary file, its first bytes read
};

// The index formatted with at least three digits: 0 -> "000", 12 -> "012", 1000 -> "1000".
std::string formatIndex(int index);

// A part's name: the base followed directly by the three-digit index.
std::string PartFileName(std::string_view base, int index);

// The last three bytes of a path (the whole path if shorter).
std::string_view nameTailOf(std::string_view path);

// The base of part names: the prefix when it is not empty, else the source path without its
// last three bytes. Empty optional when the path is too short to drop three bytes.
std::optional<std::string> partBaseName(std::string_view sourcePath, std::string_view prefix);

} // namespace tolvar
