#include "split_plan.h"

#include "part_header.h"
#include "translation.h"

#include <limits>
#include <string>

namespace tolvar {

Result<SplitPlan> planSplit(SplitRule rule, std::int32_t amount, std::int64_t length) {
    if (amount < 0)
        return makeFailure(FailureKind::InvalidArgument,
                           rule == SplitRule::Kilobytes
                               ? _("the size of a broken file cannot be negative")
                               : _("the number of broken files cannot be negative"));
    SplitPlan plan;
    plan.length = length;
    if (rule == SplitRule::Kilobytes) {
        // The part size is a 32-bit byte count, as in every set written so far.
        plan.partSize = std::int64_t{amount} * 1024;
        if (plan.partSize > std::numeric_limits<std::int32_t>::max()) {
            const std::string asked = std::to_string(amount);
            return makeFailure(FailureKind::Overflow,
                               _("a broken file can hold at most 2097151 KB, not ") + asked +
                                   " KB");
        }
    } else {
        if (amount == 0)
            return makeFailure(FailureKind::DivisionByZero,
                               _("cannot split a file into 0 broken files"));
        plan.partSize = length / amount;
    }
    using Verdict = SplitPlan::Verdict;
    if (length <= plan.partSize) {
        plan.verdict = Verdict::TooSmall;
        return plan;
    }
    if (plan.partSize == 0) {
        plan.verdict = Verdict::NoPartSize;
        return plan;
    }
    plan.partCount = length / plan.partSize + 1;
    if (plan.partCount > std::numeric_limits<std::int16_t>::max())
        plan.verdict = Verdict::CountOverflows;
    else if (plan.partCount > kMaxPartCount)
        plan.verdict = Verdict::TooManyParts;
    return plan;
}

} // namespace tolvar
