#include "destinations.h"

#include "part_header.h"
#include "translation.h"

#include <algorithm>
#include <iterator>

namespace tolvar {

namespace {

constexpr std::uint64_t kSector = 2048;
// A mail message's headers, its text and the MIME boundaries around the attachment.
constexpr std::uint64_t kMailMargin = 100 * 1024;
// What the disc's own file system takes, assumed ISO 9660 with Joliet and a UDF bridge (CD,
// DVD: volume descriptors, path tables, directories and anchors for a few hundred files stay
// well under 2 and 4 MiB) or UDF 2.50 with its metadata file and mirror (BD: 16 MiB).
constexpr std::uint64_t kCdFileSystem = 2 * 1024 * 1024;
constexpr std::uint64_t kDvdFileSystem = 4 * 1024 * 1024;
constexpr std::uint64_t kBdFileSystem = 16 * 1024 * 1024;

constexpr std::uint64_t kLargestPartFile =
    std::uint64_t{kLargestPartKilobytes} * 1024 + kHeaderSize;

// One row per destination. To change a limit, change its figure, its source and the date.
constexpr Destination kTable[] = {
    {"fat32", N_("FAT32 stick or card (4 GB per file)"), 4'294'967'295, LimitCounts::PerFile, 0,
     "Microsoft, \"FAT32 file system\" (learn.microsoft.com, fat32 volume limits: files of at "
     "most 4 GiB - 1 byte), recorded 2026-12-09"},
    {"cd", N_("CD-R, 80 minutes (700 MB)"), 737'280'000, LimitCounts::PerDisc, kCdFileSystem,
     "ECMA-130 / Orange Book: 80 minutes of 75 sectors of 2048 bytes (360,000 sectors), "
     "recorded 2026-12-09"},
    {"dvd", N_("DVD-R or DVD+R (4.7 GB)"), 4'700'000'000, LimitCounts::PerDisc, kDvdFileSystem,
     "ECMA-359 (DVD-R: 2,298,496 sectors) and ECMA-349 (DVD+R: 2,295,104 sectors): both hold "
     "4,700,000,000 bytes, recorded 2026-12-09"},
    {"dvd-dl", N_("DVD-R or DVD+R, double layer (8.5 GB)"), 8'543'666'176, LimitCounts::PerDisc,
     kDvdFileSystem,
     "ECMA-382 (DVD-R DL: 4,171,712 sectors; DVD+R DL holds 4,173,824), recorded 2026-12-09"},
    {"bd", N_("BD-R (25 GB)"), 25'025'314'816, LimitCounts::PerDisc, kBdFileSystem,
     "Blu-ray Disc Association, BD-R format 1.3: 12,219,392 sectors per single layer, recorded "
     "2026-12-09"},
    {"email", N_("Mail attachment (25 MB)"), 25'000'000, LimitCounts::PerMessage, kMailMargin,
     "Gmail Help, \"Attach files\" (25 MB per message, counted encoded); Outlook.com and Yahoo "
     "Mail give the same or more, recorded 2026-12-09"},
    {"email-10mb", N_("Company mail attachment (10 MB)"), 10'000'000, LimitCounts::PerMessage,
     kMailMargin,
     "Microsoft Exchange Online and Postfix default message_size_limit (10,240,000): 10 MB per "
     "message, recorded 2026-12-09"},
    {"discord", N_("Discord upload (10 MB)"), 10'485'760, LimitCounts::PerFile, 0,
     "Discord Support, \"File attachments FAQ\" (10 MB per file without Nitro since 2025; "
     "Discord's MB is 1024 x 1024 bytes), recorded 2026-12-09"},
    {"telegram", N_("Telegram upload (2 GB)"), 2'000'000'000, LimitCounts::PerFile, 0,
     "telegram.org/faq (files of up to 2 GB each without Premium), recorded 2026-12-09"},
    {"github", N_("GitHub release asset (2 GB)"), 2'000'000'000, LimitCounts::PerFile, 0,
     "docs.github.com \"About releases\" (each file under 2 GiB); uploads above 2,000,000,000 "
     "bytes fail in practice (github.com/orgs/community/discussions/61733), recorded "
     "2026-12-09"},
};

std::uint64_t roundUp(std::uint64_t bytes, std::uint64_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

} // namespace

std::span<const Destination> destinations() {
    return kTable;
}

const Destination* findDestination(std::string_view name) {
    const auto found = std::find_if(std::begin(kTable), std::end(kTable),
                                    [&](const Destination& row) { return row.name == name; });
    return found == std::end(kTable) ? nullptr : &*found;
}

std::uint64_t chargedBytes(LimitCounts counts, std::uint64_t payload) {
    const std::uint64_t file = payload + kHeaderSize;
    switch (counts) {
    case LimitCounts::PerFile:
        return file;
    case LimitCounts::PerDisc:
        return roundUp(file, kSector);
    case LimitCounts::PerMessage: {
        const std::uint64_t encoded = (file + 2) / 3 * 4;
        return encoded + (encoded + 75) / 76 * 2;
    }
    }
    return file;
}

bool fitsDestination(const Destination& destination, std::uint64_t payload, int parts) {
    if (destination.limit < destination.margin || parts < 1)
        return false;
    return chargedBytes(destination.counts, payload) * std::uint64_t(parts) <=
           destination.limit - destination.margin;
}

DestinationPlan planFor(const Destination& destination) {
    // The fewest broken files that take the whole unit: one, unless a disc is larger than the
    // format's largest part.
    int parts = 1;
    if (destination.counts == LimitCounts::PerDisc && destination.limit > destination.margin)
        while (chargedBytes(LimitCounts::PerDisc, kLargestPartFile - kHeaderSize) *
                   std::uint64_t(parts) <
               destination.limit - destination.margin)
            ++parts;
    // The largest whole number of kilobytes that fits: halve the range until it is one.
    std::int64_t low = 0;
    std::int64_t high = std::int64_t{kLargestPartKilobytes} + 1;
    while (high - low > 1) {
        const std::int64_t middle = low + (high - low) / 2;
        if (fitsDestination(destination, std::uint64_t(middle) * 1024, parts))
            low = middle;
        else
            high = middle;
    }
    return {static_cast<std::int32_t>(low), parts};
}

std::int32_t largestPartFor(std::optional<std::uint64_t> fileLimit) {
    if (!fileLimit || *fileLimit >= kLargestPartFile)
        return kLargestPartKilobytes;
    if (*fileLimit < kHeaderSize + 1024)
        return 0;
    return static_cast<std::int32_t>((*fileLimit - kHeaderSize) / 1024);
}

} // namespace tolvar
