#include "set_check.h"

#include "part_header.h"
#include "part_set.h"
#include "recovery.h"
#include "repair.h"

#include <algorithm>

namespace tolvar {

namespace {

std::string notAPartOfAnySet(const std::string& path) {
    return "'" + escapedForDisplay(path) + "' is not a broken file or a recovery file of a set.";
}

// Without checksums a file can only be judged by its header and size, as joining judges it.
PartVerdict listed(const PartSet& set, const PartEntry& entry) {
    PartVerdict verdict;
    verdict.path = entry.path;
    verdict.index = entry.index;
    switch (entry.state) {
    case PartState::Present:
        verdict.condition = PartCondition::Good;
        break;
    case PartState::Missing:
        verdict.condition = PartCondition::Missing;
        break;
    case PartState::NotAPart:
    case PartState::OtherSet:
        verdict.condition = PartCondition::Foreign;
        break;
    case PartState::Unreadable:
    case PartState::WrongIndex:
    case PartState::WrongSize:
        verdict.condition = PartCondition::Damaged;
        break;
    }
    if (verdict.condition != PartCondition::Good && verdict.condition != PartCondition::Missing)
        verdict.detail = set.problemInWords(entry);
    return verdict;
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
    const bool hasRecovery = std::any_of(verdicts.begin(), verdicts.end(),
                                         [](const PartVerdict& v) { return v.recovery; });
    return said + (hasRecovery ? " There are too few good recovery files to rebuild them."
                               : " The set has no recovery files to rebuild them from.");
}

Result<std::variant<SetCheck, SetCheckRefusal, std::monostate>>
checkSet(FileSystem& fs, const std::string& chosen, ProgressObserver* observer) {
    using Found = std::variant<SetCheck, SetCheckRefusal, std::monostate>;
    const auto base = partBaseName(chosen, {});
    if (!base)
        return Found{SetCheckRefusal{notAPartOfAnySet(chosen)}};
    auto read = readPartSet(fs, chosen);
    if (!read)
        return read.failure();
    const std::optional<PartSet>& set = read.value();
    // A chosen file without its header (a recovery file, a damaged part) is still found in
    // the checksum file by its name.
    auto lookup =
        set ? lookUpChecksumFile(fs, *base, set->chosen.header) : lookUpChecksumFile(fs, *base);
    if (!lookup)
        return lookup.failure();

    SetCheck check;
    if (lookup.value().present())
        check.checksumPath = lookup.value().path;
    if (lookup.value().problem)
        check.checksumProblem = lookup.value().problem->reason;
    if (const auto& file = lookup.value().file) {
        PartHeader header;
        header.PartCount = static_cast<std::int16_t>(file->parts.size());
        header.NameTail = std::string(nameTailOf(file->sourcePath));
        auto verified = verifyParts(fs, *base, *file, header, observer, check.verdicts);
        if (!verified)
            return verified.failure();
        if (!verified.value())
            return Found{std::monostate{}};
        check.contentsChecked = true;
        std::vector<int> lost;
        for (std::size_t slot = 0; slot < check.verdicts.size(); ++slot)
            if (check.verdicts[slot].condition != PartCondition::Good)
                lost.push_back(static_cast<int>(slot));
        check.repairable = !lost.empty() && !file->recovery.empty() &&
                           canRebuild(recoveryLayoutOf(*file, header), lost);
        return Found{std::move(check)};
    }
    if (!set || !set->countIsValid())
        return Found{SetCheckRefusal{notAPartOfAnySet(chosen)}};
    for (const PartEntry& entry : set->parts)
        check.verdicts.push_back(listed(*set, entry));
    return Found{std::move(check)};
}

} // namespace tolvar
