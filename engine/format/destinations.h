#pragma once

// Where broken files are meant to go, and the part size each place takes. People split a file
// because it does not fit somewhere: a FAT32 stick, a mail, a chat upload, a disc. One table,
// one row per place, so that when a service changes its limit a maintainer changes one row
// (its figure, its source and the date it was checked) and everything else follows: the
// command line's --for, the window's "Size for:" list and the tests that check every row.

#include "input_rules.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tolvar {

// What counts against a destination's limit.
enum class LimitCounts {
    // One file: the whole broken file, its 16-byte header included.
    PerFile,
    // One mail message: the broken file after base64 (4 characters for every 3 bytes, a line
    // break of 2 after every 76) and the message's own headers and text (the margin).
    PerMessage,
    // One disc: every broken file on it, each taking whole 2048-byte sectors, and the disc's
    // file system (the margin).
    PerDisc,
};

struct Destination {
    std::string_view name;  // for the command line: --for fat32
    std::string_view label; // for the window's list, marked for translation
    std::uint64_t limit;    // bytes, as the service or standard gives them
    LimitCounts counts;
    // Bytes of the limit that broken files cannot use: the mail's headers and text, the disc's
    // file system. 0 for a plain file limit.
    std::uint64_t margin;
    // Where the figure comes from and the day it was recorded from there.
    std::string_view source;
};

// The table, in the order the window lists it.
std::span<const Destination> destinations();

// The row named name (exactly as the table spells it), or nothing.
const Destination* findDestination(std::string_view name);

// The part size for a destination: the largest whole number of kilobytes whose broken file
// fits its limit, within the format's largest part (2097151 KB). A disc larger than one such
// part holds several: the fewest that fill it, each as large as that count allows, so that
// the disc is filled with the least waste.
struct DestinationPlan {
    std::int32_t partKilobytes = 0;
    // Broken files a disc holds (1 for every other kind).
    int partsPerUnit = 1;
};
DestinationPlan planFor(const Destination& destination);

// The bytes one broken file of payload bytes takes against a limit of this kind: the file for
// a file or disc (a disc rounds it up to whole sectors), the encoded attachment for a mail.
std::uint64_t chargedBytes(LimitCounts counts, std::uint64_t payload);

// Whether parts broken files of payload bytes each fit one destination's limit.
bool fitsDestination(const Destination& destination, std::uint64_t payload, int parts);

// The largest part (in kilobytes) for a folder whose file system holds files of at most
// fileLimit bytes (FAT32: 4 GiB - 1), or the format's largest where nothing limits it.
std::int32_t largestPartFor(std::optional<std::uint64_t> fileLimit);

} // namespace tolvar
