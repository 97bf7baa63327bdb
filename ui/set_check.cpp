#include "set_check.h"

#include "operations.h"
#include "translation.h"

#include <algorithm>

namespace tolvar {

std::string describeInCheck(const SetVerdict& set, const PartVerdict& verdict) {
    if (!set.contentsChecked && verdict.condition == PartCondition::Good)
        return _("there (its contents cannot be checked)");
    if (!set.contentsChecked && !verdict.detail.empty())
        return verdict.condition == PartCondition::Damaged ? _("damaged: ") + verdict.detail
                                                           : _("foreign: ") + verdict.detail;
    return describeVerdict(verdict);
}

std::string verdictInWords(const SetVerdict& set) {
    const int total = static_cast<int>(set.verdicts.size());
    std::string said;
    if (!set.contentsChecked)
        said = !set.checksumProblem
                   ? std::string(_("There is no checksum file beside the set, so the contents of "
                                   "its broken files cannot be checked. "))
                   : Message(MessageId::ChecksumFileUnusableForCheck,
                             {messages::checksumFileCannotBeUsed(set.checksumPath,
                                                                 set.checksumProblem->reason)})
                         .text();
    else if (!set.incomplete.empty())
        said = _("The files were checked against '") + escapedForDisplay(set.checksumPath) +
               _("' alone: ") + set.incomplete + ". ";
    if (set.whole())
        return said + (set.contentsChecked ? _("The set is whole: all ") + std::to_string(total) +
                                                 _(" files are good.")
                                           : std::string(_("Every broken file is there.")));
    said += _("The set is not whole:");
    const char* const words[] = {"", _(" damaged"), _(" missing"), _(" foreign")};
    bool first = true;
    for (const PartCondition c :
         {PartCondition::Damaged, PartCondition::Missing, PartCondition::Foreign}) {
        const int n = set.count(c);
        if (n == 0)
            continue;
        said += (first ? " " : ", ") + std::to_string(n) + words[static_cast<int>(c)];
        first = false;
    }
    said += ".";
    if (set.repairable)
        return said + _(" The recovery files can rebuild them: press Repair.");
    if (!set.contentsChecked)
        return said;
    if (!set.untrusted.empty())
        return said + _(" The checksum file cannot be used to rebuild them: ") + set.untrusted +
               ".";
    const bool hasRecovery = std::any_of(set.verdicts.begin(), set.verdicts.end(),
                                         [](const PartVerdict& v) { return v.recovery; });
    return said + (hasRecovery ? _(" There are too few good recovery files to rebuild them.")
                               : _(" The set has no recovery files to rebuild them from."));
}

} // namespace tolvar
