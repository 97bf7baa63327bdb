#include "verify_report.h"

#include "operations.h"
#include "set_report.h"

namespace tolvar::cli {

std::optional<SetVerdict> verifyWithChecksums(const SetFindings& found, MessageBox& box) {
    const ChecksumLookup& checksums = found.checksums;
    if (const auto& problem = checksums.problem) {
        if (problem->kind == ChecksumFileProblem::Kind::Damaged) {
            box.refuse(messages::checksumFileDamagedMessage(checksums.path, problem->reason) +
                       " The set is listed without it.");
            SetVerdict damaged;
            damaged.checksumPath = checksums.path;
            damaged.checksumProblem = problem;
            return damaged;
        }
        box.inform(messages::checksumFileUnusableMessage(checksums.path, problem->reason));
        return std::nullopt;
    }
    if (!found.contentsChecked)
        return std::nullopt;
    if (!checksums.incomplete.empty())
        box.inform("The broken files were checked against '" + escapedForDisplay(checksums.path) +
                   "' alone: " + checksums.incomplete + ".");
    return judgeSet(found);
}

std::string formatVerifyReport(const SetVerdict& report) {
    std::string text = "Checksum file: " + escapedForDisplay(report.checksumPath) + "\n";
    int good = 0;
    int damaged = 0;
    int missing = 0;
    int foreign = 0;
    for (const PartVerdict& verdict : report.verdicts) {
        switch (verdict.condition) {
        case PartCondition::Good:
            ++good;
            break;
        case PartCondition::Damaged:
            ++damaged;
            break;
        case PartCondition::Missing:
            ++missing;
            break;
        case PartCondition::Foreign:
            ++foreign;
            break;
        }
        const std::string slot = verdict.recovery ? "r" + formatIndex(verdict.index).substr(1)
                                                  : formatIndex(verdict.index);
        text += formatPartLine(slot, describeVerdict(verdict), verdict.path);
    }
    const std::string counted =
        std::to_string(good) + " of " + std::to_string(report.verdicts.size()) + " files good";
    if (report.whole())
        return text + "Whole: " + counted + ".\n";
    text += "Not whole: " + counted;
    if (damaged > 0)
        text += ", " + std::to_string(damaged) + " damaged";
    if (missing > 0)
        text += ", " + std::to_string(missing) + " missing";
    if (foreign > 0)
        text += ", " + std::to_string(foreign) + " foreign";
    return text + ".\n";
}

} // namespace tolvar::cli
