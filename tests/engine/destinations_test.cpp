// The table of destinations: every row's broken file fits its limit, wastes little of it, and
// is the largest that fits; a disc takes the fewest parts that fill it.

#include "destinations.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>

namespace tolvar {
namespace {

// What one broken file of payload bytes costs against the limit, worked out here from what
// each kind means rather than from the table's own arithmetic.
std::uint64_t cost(const Destination& row, std::uint64_t payload) {
    const std::uint64_t file = payload + 16;
    switch (row.counts) {
    case LimitCounts::PerFile:
        return file;
    case LimitCounts::PerDisc:
        return file % 2048 == 0 ? file : (file / 2048 + 1) * 2048;
    case LimitCounts::PerMessage: {
        // base64: 4 characters for each 3 bytes or part of them; CRLF after every full or
        // last line of 76.
        const std::uint64_t characters = 4 * (file / 3 + (file % 3 != 0 ? 1 : 0));
        const std::uint64_t lines = characters / 76 + (characters % 76 != 0 ? 1 : 0);
        return characters + 2 * lines;
    }
    }
    return file;
}

TEST(Destinations, EachRowsPartFitsWastesLittleAndIsTheLargest) {
    // Parts per disc for the discs: the fewest whose parts stay within the format's largest.
    const std::map<std::string, int> perDisc = {{"cd", 1}, {"dvd", 3}, {"dvd-dl", 4}, {"bd", 12}};
    const std::set<std::string> required = {"fat32", "cd",         "dvd",     "dvd-dl",   "bd",
                                            "email", "email-10mb", "discord", "telegram", "github"};
    std::set<std::string> seen;
    for (const Destination& row : destinations()) {
        SCOPED_TRACE(std::string(row.name));
        EXPECT_TRUE(seen.insert(std::string(row.name)).second) << "named twice";
        EXPECT_FALSE(row.label.empty());
        EXPECT_NE(row.source.find("recorded 20"), std::string_view::npos) << "no date recorded";
        const DestinationPlan plan = planFor(row);
        ASSERT_GT(plan.partKilobytes, 0);
        ASSERT_LE(plan.partKilobytes, kLargestPartKilobytes);
        const auto count = static_cast<std::uint64_t>(plan.partsPerUnit);
        const auto payload = static_cast<std::uint64_t>(plan.partKilobytes) * 1024;
        const std::uint64_t room = row.limit - row.margin;
        // The whole broken file, header included, fits (count of them on a disc).
        EXPECT_LE(cost(row, payload) * count, room);
        // One kilobyte more would not fit, unless the format allows no more.
        if (plan.partKilobytes < kLargestPartKilobytes) {
            EXPECT_GT(cost(row, payload + 1024) * count, room);
        }
        // Little is wasted: of the limit, or of the format's largest part where that is less.
        const std::uint64_t usable =
            std::min<std::uint64_t>(room, std::uint64_t{kLargestPartKilobytes} * 1024 + 16);
        if (row.counts != LimitCounts::PerDisc)
            EXPECT_LT(usable - cost(row, payload), usable / 20);
        else
            EXPECT_LT(row.limit - cost(row, payload) * count, row.limit / 20);
        // A disc takes as many parts as fill it: one fewer, even of the format's largest,
        // would leave room unused; that many of the largest would not fit.
        if (row.counts == LimitCounts::PerDisc) {
            const std::uint64_t largest = cost(row, std::uint64_t{kLargestPartKilobytes} * 1024);
            EXPECT_EQ(plan.partsPerUnit, perDisc.at(std::string(row.name)));
            EXPECT_LT(largest * (count - 1), room);
            EXPECT_GE(largest * count, room);
        } else {
            EXPECT_EQ(plan.partsPerUnit, 1);
        }
        EXPECT_TRUE(fitsDestination(row, payload, plan.partsPerUnit));
        EXPECT_EQ(findDestination(row.name), &row);
    }
    for (const std::string& name : required)
        EXPECT_TRUE(seen.contains(name)) << name;
    EXPECT_EQ(findDestination("FAT32"), nullptr);
    // FAT32 holds larger files than the format writes: the format's largest part.
    EXPECT_EQ(planFor(*findDestination("fat32")).partKilobytes, kLargestPartKilobytes);
}

TEST(Destinations, LargestPartForAFolderStaysWithinItsFileLimit) {
    EXPECT_EQ(largestPartFor(std::nullopt), kLargestPartKilobytes);
    EXPECT_EQ(largestPartFor(4'294'967'295), kLargestPartKilobytes);
    // A file system with smaller files than the format's largest part: the header counts.
    EXPECT_EQ(largestPartFor(1024 * 1024 + 16), 1024);
    EXPECT_EQ(largestPartFor(1024 * 1024 + 15), 1023);
    EXPECT_EQ(largestPartFor(100), 0);
}

} // namespace
} // namespace tolvar
