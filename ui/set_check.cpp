#include "set_check.h"

#include "part_header.h"
#include "recovery.h"
#include "repair.h"
#include "set_findings.h"

#include <algorithm>

namespace tolvar {

namespace {

std::string notAPartOfAnySet(const std::string& path) {
    return "'" + escapedForDisplay(path) + "' is not a broken file or a recovery file of a set.";
}

} // namespace

bool SetCheck::whole() const {
    for (const PartVerdict& verdict : verdicts)
        if (verdict.condition != PartCondition::Good)
            return false;
    return !verdicts.empty();
}

std::string SetCheck::describe(const PartVerdict& verdict) const {
    if (!contentsChecked && verdict.condition == PartCondition::Good)
        return "there (its contents cannot be checked)";
    if (!contentsChecked && !verdict.detail.empty())
        return verdict.condition == PartCondition::Damaged ? "damaged: " + verdict.detail
                                                           : "foreign: " + verdict.detail;
    return describeVerdict(verdict);
}

std::string SetCheck::verdict() const {
    int counts[4] = {0, 0, 0, 0};
    for (const PartVerdict& v : verdicts)
        ++counts[static_cast<int>(v.condition)];
    const int total = static_cast<int>(verdicts.size());
    std::string said;
    if (!contentsChecked)
        said = checksumProblem.empty()
                   ? "There is no checksum file beside the set, so the contents of its broken "
                     "files cannot be checked. "
                   : "The checksum file '" + escapedForDisplay(checksumPath) +
                         "' cannot be used: " + checksumProblem +
                         ", so the contents of the broken files cannot be checked. ";
    else if (!incomplete.empty())
        said = "The files were checked against '" + escapedForDisplay(checksumPath) +
               "' alone: " + incomplete + ". ";
    if (whole())
        return said + (contentsChecked
                           ? "The set is whole: all " + std::to_string(total) + " files are good."
                           : "Every broken file is there.");
    said += "The set is not whole:";
    const char* const words[] = {"", " damaged", " missing", " foreign"};
    bool first = true;
    for (const PartCondition c :
         {PartCondition::Damaged, PartCondition::Missing, PartCondition::Foreign}) {
        const int n = counts[static_cast<int>(c)];
        if (n == 0)
            continue;
        said += (first ? " " : ", ") + std::to_string(n) + words[static_cast<int>(c)];
        first = false;
    }
    said += ".";
    if (repairable)
        return said + " The recovery files can rebuild them: press Repair.";
    if (!contentsChecked)
        return said;
    if (!untrusted.empty())
        return said + " The checksum file cannot be used to rebuild them: " + untrusted + ".";
    const bool hasRecovery = std::any_of(verdicts.begin(), verdicts.end(),
                                         [](const PartVerdict& v) { return v.recovery; });
    return said + (hasRecovery ? " There are too few good recovery files to rebuild them."
                               : " The set has no recovery files to rebuild them from.");
}

Result<std::variant<SetCheck, SetCheckRefusal, std::monostate>>
checkSet(FileSystem& fs, const std::string& chosen, ProgressObserver* observer) {
    using Found = std::variant<SetCheck, SetCheckRefusal, std::monostate>;
    if (!partBaseName(chosen, {}))
        return Found{SetCheckRefusal{notAPartOfAnySet(chosen)}};
    auto read = readSetFindings(fs, chosen, ChosenName::MustBeThere, observer);
    if (!read)
        return read.failure();
    if (!read.value())
        return Found{std::monostate{}};
    SetFindings& found = *read.value();
    const ChecksumLookup& checksums = found.checksums;
    // Without checksums the set is judged as joining judges it, which needs a set to judge.
    if (!found.contentsChecked && (!found.set || !found.set->countIsValid()))
        return Found{SetCheckRefusal{notAPartOfAnySet(chosen)}};

    SetCheck check;
    if (checksums.present())
        check.checksumPath = checksums.path;
    if (checksums.problem)
        check.checksumProblem = checksums.problem->reason;
    check.contentsChecked = found.contentsChecked;
    check.verdicts = std::move(found.verdicts);
    check.incomplete = checksums.incomplete;
    if (const auto& file = checksums.file; file && !file->complete) {
        check.untrusted = checksums.incomplete;
    } else if (file) {
        std::vector<int> lost;
        for (std::size_t slot = 0; slot < check.verdicts.size(); ++slot)
            if (check.verdicts[slot].condition != PartCondition::Good)
                lost.push_back(static_cast<int>(slot));
        check.repairable = !lost.empty() && !file->recovery.empty() &&
                           canRebuild(recoveryLayoutOf(*file, found.judgedBy), lost);
        // A repair would refuse it; the window says so before offering it.
        if (check.repairable && !found.corroborated) {
            check.repairable = false;
            check.untrusted = found.disagreement;
        }
    }
    return Found{std::move(check)};
}

} // namespace tolvar
