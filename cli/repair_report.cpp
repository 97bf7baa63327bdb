#include "repair_report.h"

#include "part_set.h"
#include "path_parts.h"
#include "translation.h"

#include <algorithm>

namespace tolvar::cli {

std::string formatRepairReport(const RepairReport& report) {
    std::string text;
    int lost = 0;
    int recoveryParts = 0;
    for (const PartVerdict& verdict : report.verdicts) {
        recoveryParts += verdict.recovery ? 1 : 0;
        text +=
            "  " + escapedForDisplay(fileNameOf(verdict.path)) + ": " + describeVerdict(verdict);
        if (verdict.condition != PartCondition::Good)
            ++lost;
        if (std::find(report.rebuilt.begin(), report.rebuilt.end(), verdict.path) !=
            report.rebuilt.end())
            text += _(", rebuilt");
        text += '\n';
    }
    const auto count = [](int n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    switch (report.outcome) {
    case RepairReport::Outcome::Whole:
        text += _("The set is whole: nothing to repair.\n");
        break;
    case RepairReport::Outcome::Repaired:
        text += _("Repaired: ") + count(lost, _("file"), _("files")) +
                _(" rebuilt, each checked against its checksum.\n");
        break;
    case RepairReport::Outcome::BeyondRepair:
        text += _("Not repaired: ") + count(lost, _("file is"), _("files are")) +
                _(" missing or damaged, more than ") +
                count(recoveryParts, _("recovery part"), _("recovery parts")) +
                _(" can rebuild; nothing was changed.\n");
        break;
    case RepairReport::Outcome::Refused:
    case RepairReport::Outcome::Cancelled:
        break;
    }
    return text;
}

} // namespace tolvar::cli
