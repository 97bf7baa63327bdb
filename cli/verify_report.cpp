#include "verify_report.h"

#include "operations.h"
#include "set_report.h"
#include "translation.h"

namespace tolvar::cli {

std::optional<SetVerdict> verifyWithChecksums(const JoinPlan& plan, MessageBox& box) {
    const ChecksumLookup& checksums = plan.checksums;
    if (const auto& problem = checksums.problem) {
        if (problem->kind == ChecksumFileProblem::Kind::Damaged) {
            box.refuse(messages::checksumFileDamagedMessage(checksums.path, problem->reason) +
                       _(" The set is listed without it."));
            SetVerdict damaged;
            damaged.checksumPath = checksums.path;
            damaged.checksumProblem = problem;
            return damaged;
        }
        box.inform(messages::checksumFileUnusableMessage(checksums.path, problem->reason));
        return std::nullopt;
    }
    if (!plan.verdict.contentsChecked)
        return std::nullopt;
    if (!checksums.incomplete.empty())
        box.inform(_("The broken files were checked against '") +
                   escapedForDisplay(checksums.path) + _("' alone: ") + checksums.incomplete + ".");
    return plan.verdict;
}

std::string formatVerifyReport(const SetVerdict& report) {
    std::string text = _("Checksum file: ") + escapedForDisplay(report.checksumPath) + "\n";
    for (const PartVerdict& verdict : report.verdicts) {
        const std::string slot = verdict.recovery ? "r" + formatIndex(verdict.index).substr(1)
                                                  : formatIndex(verdict.index);
        text += formatPartLine(slot, describeVerdict(verdict), verdict.path);
    }
    const int damaged = report.count(PartCondition::Damaged);
    const int missing = report.count(PartCondition::Missing);
    const int foreign = report.count(PartCondition::Foreign);
    const std::string counted = std::to_string(report.count(PartCondition::Good)) + _(" of ") +
                                std::to_string(report.verdicts.size()) + _(" files good");
    if (report.whole())
        return text + _("Whole: ") + counted + ".\n";
    text += _("Not whole: ") + counted;
    if (damaged > 0)
        text += ", " + std::to_string(damaged) + _(" damaged");
    if (missing > 0)
        text += ", " + std::to_string(missing) + _(" missing");
    if (foreign > 0)
        text += ", " + std::to_string(foreign) + _(" foreign");
    return text + ".\n";
}

} // namespace tolvar::cli
