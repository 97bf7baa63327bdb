#include "room_needs.h"

#include "destinations.h"
#include "folder.h"
#include "message.h"
#include "part_header.h"
#include "portable_names.h"
#include "recovery.h"
#include "room.h"

namespace tolvar {

std::vector<std::uint64_t> splitFileSizes(const SplitPlan& plan, const SplitOptions& options,
                                          std::size_t baseNameLength) {
    std::vector<std::uint64_t> sizes;
    if (plan.verdict != SplitPlan::Verdict::Ready || plan.partCount < 1)
        return sizes;
    for (std::int64_t index = 0; index < plan.partCount; ++index) {
        const std::int64_t payload =
            index + 1 < plan.partCount ? plan.partSize : plan.lastPartSize();
        sizes.push_back(kHeaderSize + static_cast<std::uint64_t>(payload));
    }
    if (options.recoveryParts > 0) {
        RecoveryLayout layout;
        layout.dataCount = static_cast<int>(plan.partCount);
        layout.recoveryCount = options.recoveryParts;
        layout.partSize = plan.partSize;
        layout.totalLength = plan.length;
        for (int index = 0; index < options.recoveryParts; ++index)
            sizes.push_back(static_cast<std::uint64_t>(layout.recoveryFileSize()));
    }
    if (options.writeChecksums || options.recoveryParts > 0) {
        // A line per listed file: 64 hex digits, two blanks, the name and a line break; the
        // companion holds the same lines and a few of its own about the source.
        const std::uint64_t lines =
            static_cast<std::uint64_t>(plan.partCount + options.recoveryParts);
        const std::uint64_t plain = lines * (64 + 2 + baseNameLength + 4 + 1);
        sizes.push_back(plain);
        sizes.push_back(plain + 1024 + baseNameLength);
    }
    if (options.writeChecksums && options.writeJoinScript)
        sizes.push_back(8 * 1024 + 4 * baseNameLength); // the script's text and its names
    return sizes;
}

RoomCheck splitRoomAt(FileSystem& fs, const std::string& folderPath, const SplitPlan& plan,
                      const SplitOptions& options, std::size_t baseNameLength) {
    auto folder = detail::Folder::open(fs, folderPath);
    if (!folder)
        return {};
    return detail::checkRoom(fs, folder.value(), splitFileSizes(plan, options, baseNameLength), {});
}

RoomCheck joinRoomAt(FileSystem& fs, const std::string& folderPath, std::uint64_t length) {
    auto folder = detail::Folder::open(fs, folderPath);
    if (!folder)
        return {};
    return detail::checkRoom(fs, folder.value(), {length}, {});
}

std::string roomRefusal(const RoomCheck& check, bool rebuiltFile, const std::string& folder) {
    std::string text =
        Message(rebuiltFile ? MessageId::RoomForFile : MessageId::RoomForParts,
                {roomInWords(check.need), quotedName(folder), roomInWords(check.free.value_or(0))})
            .text();
    if (check.fitsOnceReplacedGo())
        text +=
            " " + Message(MessageId::RoomOnlyOnceReplacedGo, {roomInWords(check.replaced)}).text();
    return text;
}

std::int32_t largestPartAt(FileSystem& fs, const std::string& folderPath) {
    auto folder = detail::Folder::open(fs, folderPath);
    if (!folder)
        return kLargestPartKilobytes;
    const auto limit = detail::knownFileSizeLimit(fs, folder.value());
    return largestPartFor(limit ? std::optional(limit->bytes) : std::nullopt);
}

} // namespace tolvar
