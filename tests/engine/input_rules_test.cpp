// The typed-input rules both front ends share: rounding half to even, whole kilobytes within
// 32 bits, the sizes a broken file can have, the bounds of the size and the number of parts,
// and how a split cuts a source.

#include "input_rules.h"
#include "split_plan.h"

#include <gtest/gtest.h>
#include <limits>
#include <tuple>

namespace tolvar {
namespace {

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    const std::pair<double, double> rows[] = {{2.5, 2.0},
                                              {3.5, 4.0},
                                              {0.5, 0.0},
                                              {1.5, 2.0},
                                              {2.4999, 2.0},
                                              {2.5001, 3.0},
                                              {-2.5, -2.0},
                                              {-3.5, -4.0},
                                              {2147483647.5, 2147483648.0},
                                              {2147483646.5, 2147483646.0}};
    for (const auto& [value, expected] : rows)
        EXPECT_EQ(roundHalfEven(value), expected) << value;
}

TEST(RoundToWholeKilobytes, RoundsHalfToEvenWithin32Bits) {
    const std::pair<double, std::int32_t> rows[] = {{2.5, 2},
                                                    {3.5, 4},
                                                    {0.4, 0},
                                                    {0.5, 0},
                                                    {1.5, 2},
                                                    {0.512, 1},
                                                    {1536.0, 1536},
                                                    {2.500001, 3},
                                                    {7.49, 7},
                                                    {2147483646.5, 2147483646},
                                                    {2147483647.0, 2147483647}};
    for (const auto& [kilobytes, whole] : rows) {
        const std::optional<std::int32_t> rounded = roundToWholeKilobytes(kilobytes);
        ASSERT_TRUE(rounded) << kilobytes;
        EXPECT_EQ(*rounded, whole) << kilobytes;
    }
}

TEST(RoundToWholeKilobytes, NothingAbove32BitsOrForNoNumber) {
    for (double kilobytes :
         {2147483647.5, 2147483648.0, 3e9, 2097152.0 * 1024,
          std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(roundToWholeKilobytes(kilobytes)) << kilobytes;
}

// Whatever rounds to 1 to 2097151 KB fits a broken file; the rest is refused in the unit typed.
TEST(PartSizeRefusal, OneKilobyteToThirtyOneBitsOfBytesInTheUnitTyped) {
    constexpr SizeUnit K = SizeUnit::Kilobytes;
    constexpr SizeUnit M = SizeUnit::Megabytes;
    for (const auto& [size, unit] :
         {std::pair{0.6, K}, std::pair{1.0, K}, std::pair{2097151.0, K}, std::pair{2097151.4, K},
          std::pair{0.0006, M}, std::pair{2047.999, M}})
        EXPECT_EQ(partSizeRefusal(size, unit), std::nullopt) << size;
    const std::tuple<double, SizeUnit, const char*> refused[] = {
        {0.4, K, "A broken file holds at least 1 KB; 0.4 KB rounds to 0 KB."},
        {0.5, K, "A broken file holds at least 1 KB; 0.5 KB rounds to 0 KB."},
        {0.0004, M, "A broken file holds at least 1 KB; 0.0004 MB rounds to 0 KB."},
        {2097151.5, K, "A broken file holds at most 2097151 KB, not 2097151.5 KB."},
        {3e9, K, "A broken file holds at most 2097151 KB, not 3000000000 KB."},
        {2048, M, "A broken file holds at most 2047.999 MB, not 2048 MB."},
        {99999999, M, "A broken file holds at most 2047.999 MB, not 99999999 MB."}};
    for (const auto& [size, unit, words] : refused)
        EXPECT_EQ(partSizeRefusal(size, unit), words) << size;
}

TEST(InputBounds, SizesAboveZeroAndTwoToFiftyParts) {
    EXPECT_TRUE(sizeIsRefused(0));
    EXPECT_TRUE(sizeIsRefused(-5));
    EXPECT_FALSE(sizeIsRefused(0.001));
    for (double refused : {-3.0, 1.0, 50.5, 51.0})
        EXPECT_TRUE(partCountIsRefused(refused)) << refused;
    for (double accepted : {1.5, 2.0, 50.0})
        EXPECT_FALSE(partCountIsRefused(accepted)) << accepted;
}

// Each row sits on a boundary: one byte either side of one part, of 999 parts, of a count a
// header cannot hold, and a part size that divides the source exactly.
TEST(PlanSplit, CutsAtTheBoundariesOfOnePartAndOfTheCount) {
    using enum SplitPlan::Verdict;
    constexpr SplitRule kKilobytes = SplitRule::Kilobytes;
    constexpr SplitRule kNumber = SplitRule::NumberOfParts;
    const struct {
        SplitRule rule;
        std::int32_t amount;
        std::int64_t length;
        SplitPlan::Verdict verdict;
        std::int64_t partSize, partCount, lastPartSize;
    } rows[] = {
        {kKilobytes, 1, 1024, TooSmall, 1024, 0, 0},
        {kKilobytes, 1, 1025, Ready, 1024, 2, 1},
        {kKilobytes, 1, 2048, Ready, 1024, 3, 0},
        {kKilobytes, 1, 998 * 1024 + 1023, Ready, 1024, 999, 1023},
        {kKilobytes, 1, 999 * 1024, TooManyParts, 1024, 1000, 0},
        {kKilobytes, 1, 32766 * 1024 + 1, TooManyParts, 1024, 32767, 1},
        {kKilobytes, 1, 32767 * 1024, CountOverflows, 1024, 32768, 0},
        {kKilobytes, 2097151, 3000000000, Ready, 2147482624, 2, 852517376},
        {kNumber, 3, 1000000, Ready, 333333, 4, 1},
        {kNumber, 4, 10, Ready, 2, 6, 0},
        {kNumber, 2, 0, TooSmall, 0, 0, 0},
        {kNumber, 50, 30, NoPartSize, 0, 0, 0},
    };
    for (const auto& row : rows) {
        const Result<SplitPlan> plan = planSplit(row.rule, row.amount, row.length);
        SCOPED_TRACE(testing::Message() << row.amount << (row.rule == kNumber ? " parts" : " KB")
                                        << " of " << row.length);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan.value().verdict, row.verdict);
        EXPECT_EQ(plan.value().partSize, row.partSize);
        EXPECT_EQ(plan.value().partCount, row.partCount);
        if (row.verdict == Ready) {
            EXPECT_EQ(plan.value().lastPartSize(), row.lastPartSize);
        }
    }
}

TEST(PlanSplit, AmountsNoFrontEndPassesAreFailures) {
    const struct {
        SplitRule rule;
        std::int32_t amount;
        FailureKind kind;
    } rows[] = {
        {SplitRule::Kilobytes, -1, FailureKind::InvalidArgument},
        {SplitRule::NumberOfParts, -3, FailureKind::InvalidArgument},
        {SplitRule::Kilobytes, 2097152, FailureKind::Overflow},
        {SplitRule::NumberOfParts, 0, FailureKind::DivisionByZero},
    };
    for (const auto& row : rows) {
        const Result<SplitPlan> plan = planSplit(row.rule, row.amount, 5000);
        ASSERT_FALSE(plan) << row.amount;
        EXPECT_EQ(plan.failure().kind, row.kind) << row.amount;
    }
}

} // namespace
} // namespace tolvar
