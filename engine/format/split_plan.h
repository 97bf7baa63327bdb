#pragma once

// How a split cuts a source: the size of each broken file and how many there are, with the
// format's limit on their number. One definition for the split itself, the window's line of
// what recovery files cost and the command line, so none can drift from the others.

#include "failure.h"

#include <cstdint>

namespace tolvar {

// What the user chose: the size of a broken file in kilobytes (1 KB = 1024 bytes), or the
// number of broken files.
enum class SplitRule { Kilobytes, NumberOfParts };

struct SplitPlan {
    enum class Verdict {
        Ready,
        // The source is no larger than one broken file: there is nothing to split.
        TooSmall,
        // The source is shorter than the number of broken files: a part size of 0 bytes.
        NoPartSize,
        // More broken files than a header's count can be read back as (above 32767).
        CountOverflows,
        // More broken files than the three digits of a header hold (kMaxPartCount).
        TooManyParts,
    };
    Verdict verdict = Verdict::Ready;
    // The payload of every broken file but the last.
    std::int64_t partSize = 0;
    // length div partSize + 1; 0 for TooSmall and NoPartSize.
    std::int64_t partCount = 0;
    std::int64_t length = 0;

    // The payload of the last broken file, which takes the rest (possibly nothing).
    std::int64_t lastPartSize() const { return length - (partCount - 1) * partSize; }
};

// The plan for a source of length bytes cut by rule: amount kilobytes per broken file, or
// amount broken files (plus one for the rest). The source is too small when it is no longer
// than one part; the count is length div partSize + 1. A failure for an amount no front end
// passes: a negative one, more kilobytes than a 32-bit part size holds, or 0 broken files.
Result<SplitPlan> planSplit(SplitRule rule, std::int32_t amount, std::int64_t length);

} // namespace tolvar
