#include "repair_report.h"

#include "part_set.h"
#include "path_parts.h"

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
            text += ", rebuilt";
        text += '\n';
    }
    const auto count = [](int n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    switch (report.outcome) {
    case RepairReport::Outcome::Whole:
        text += "The set is whole: nothing to repair.\n";
        break;
    case RepairReport::Outcome::Repaired:
        text += "Repaired: " + count(lost, "file", "files") +
                " rebuilt, each checked against its checksum.\n";
        break;
    case RepairReport::Outcome::BeyondRepair:
        text += "Not repaired: " + count(lost, "file is", "files are") +
                " missing or damaged, more than " +
                count(recoveryParts, "recovery part", "recovery parts") +
                " can rebuild; nothing was changed.\n";
        break;
    case RepairReport::Outcome::Refused:
    case RepairReport::Outcome::Cancelled:
        break;
    }
    return text;
}

} // namespace tolvar::cli
