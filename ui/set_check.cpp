#include "set_check.h"

#include "operations.h"
#include "part_header.h"
#include "recovery.h"
#include "repair.h"
#include "set_findings.h"
#include "translation.h"

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
        return verdict.condition == PartCondition::Damaged ? _("damaged: ") + verdict.detail
                                                           : _("foreign: ") + verdict.detail;
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
                   ? std::string(_("There is no checksum file beside the set, so the contents of "
                                   "its broken files cannot be checked. "))
                   : Message(MessageId::ChecksumFileUnusableForCheck,
                             {messages::checksumFileCannotBeUsed(checksumPath, checksumProblem)})
                         .text();
    else if (!incomplete.empty())
        said = _("The files were checked against '") + escapedForDisplay(checksumPath) +
               _("' alone: ") + incomplete + ". ";
    if (whole())
        return said + (contentsChecked ? _("The set is whole: all ") + std::to_string(total) +
                                             _(" files are good.")
                                       : std::string(_("Every broken file is there.")));
    said += _("The set is not whole:");
    const char* const words[] = {"", _(" damaged"), _(" missing"), _(" foreign")};
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
        return said + _(" The recovery files can rebuild them: press Repair.");
    if (!contentsChecked)
        return said;
    if (!untrusted.empty())
        return said + _(" The checksum file cannot be used to rebuild them: ") + untrusted + ".";
    const bool hasRecovery = std::any_of(verdicts.begin(), verdicts.end(),
                                         [](const PartVerdict& v) { return v.recovery; });
    return said + (hasRecovery ? _(" There are too few good recovery files to rebuild them.")
                               : _(" The set has no recovery files to rebuild them from."));
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
