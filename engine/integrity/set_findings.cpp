#include "set_findings.h"

#include "part_file.h"
#include "translation.h"

#include <algorithm>
#include <utility>

namespace tolvar {

namespace {

// Reads the chosen file: the set it names when it is a broken file, its header when it is a
// recovery part. Where there is no ordinary file at the name, repair goes on by the name alone.
Result<void> readChosen(FileSystem& fs, ChosenName name, SetFindings& found) {
    auto read = readPartSet(fs, found.chosen);
    if (read) {
        found.chosenFound = FileFound::Regular;
        found.set = std::move(read.value());
        if (found.set)
            return {};
        auto recovery = readRecoveryFile(fs, found.chosen);
        if (!recovery)
            return recovery.failure();
        found.chosenFound = recovery.value().found;
        found.chosenRecovery = recovery.value().header;
        return {};
    }
    if (name == ChosenName::MustBeThere)
        return read.failure();
    auto file = readPartFile(fs, found.chosen);
    if (!file)
        return file.failure();
    if (file.value().found == FileFound::Regular)
        return read.failure();
    found.chosenFound = file.value().found;
    return {};
}

// Whether the files now at the set's names bear the checksum file out: one broken file at least
// must be exactly as it lists it. Headers alone cannot tell: a stale checksum file agrees with
// the recovery parts of its own split, and a damaged header may name any set. When none is,
// the first header that names another set, the chosen file's first, says why.
void corroborate(SetFindings& found, const std::optional<PartHeader>& chosenHeader) {
    const ChecksumFile& file = *found.checksums.file;
    found.corroborated =
        std::any_of(found.verdicts.begin(), found.verdicts.end(), [](const PartVerdict& verdict) {
            return !verdict.recovery && verdict.condition == PartCondition::Good;
        });
    if (found.corroborated)
        return;
    std::optional<std::string> why;
    if (chosenHeader)
        why = setDisagreement(file, *chosenHeader);
    for (const PartVerdict& verdict : found.verdicts)
        if (!why && !verdict.recovery && verdict.setHeader)
            why = setDisagreement(file, *verdict.setHeader);
    found.disagreement = why.value_or(
        _("none of the broken files beside it is as it lists them, so it may come from another "
          "split under the same names"));
}

} // namespace

bool SetVerdict::whole() const {
    return !verdicts.empty() && lostSlots().empty();
}

int SetVerdict::count(PartCondition condition) const {
    return static_cast<int>(
        std::count_if(verdicts.begin(), verdicts.end(),
                      [&](const PartVerdict& v) { return v.condition == condition; }));
}

std::vector<int> SetVerdict::lostSlots() const {
    std::vector<int> lost;
    for (std::size_t slot = 0; slot < verdicts.size(); ++slot)
        if (verdicts[slot].condition != PartCondition::Good)
            lost.push_back(static_cast<int>(slot));
    return lost;
}

RecoveryLayout recoveryLayoutOf(const ChecksumFile& file, const PartHeader& header) {
    RecoveryLayout layout;
    layout.dataCount = static_cast<int>(file.parts.size());
    layout.recoveryCount = static_cast<int>(file.recovery.size());
    layout.partSize = static_cast<std::int64_t>(file.partSize);
    layout.totalLength = static_cast<std::int64_t>(file.sourceSize);
    layout.nameTail = header.NameTail;
    return layout;
}

SetVerdict judgeSet(const SetFindings& found) {
    const ChecksumLookup& checksums = found.checksums;
    SetVerdict judged;
    if (checksums.present())
        judged.checksumPath = checksums.path;
    judged.checksumProblem = checksums.problem;
    judged.contentsChecked = found.contentsChecked;
    judged.verdicts = found.verdicts;
    judged.incomplete = checksums.incomplete;
    const auto& file = checksums.file;
    if (file && !file->complete) {
        judged.untrusted = checksums.incomplete;
        return judged;
    }
    if (!file)
        return judged;
    const std::vector<int> lost = judged.lostSlots();
    judged.repairable = !lost.empty() && !file->recovery.empty() &&
                        canRebuild(recoveryLayoutOf(*file, found.judgedBy), lost);
    // A repair would refuse it: no broken file bears the checksum file out.
    if (judged.repairable && !found.corroborated) {
        judged.repairable = false;
        judged.untrusted = found.disagreement;
    }
    return judged;
}

PartVerdict verdictOf(const PartSet& set, const PartEntry& entry) {
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

Result<std::optional<SetFindings>> readSetFindings(FileSystem& fs, const std::string& chosen,
                                                   ChosenName name, ProgressObserver* observer) {
    SetFindings found;
    found.chosen = chosen;
    const auto base = partBaseName(chosen, {});
    if (!base)
        return makeFailure(FailureKind::InvalidArgument,
                           _("cannot find the other broken files of '") + chosen + "'");
    found.base = *base;
    if (auto read = readChosen(fs, name, found); !read)
        return read.failure();

    // The chosen broken file's header finds its own set's checksum file; any other chosen name
    // finds the checksum file its name leads to, as long as that lists the set's names. A
    // repair goes by the name alone, since the chosen header may be what was damaged: the
    // set's files corroborate the checksum file instead.
    auto lookup = found.set && name == ChosenName::MustBeThere
                      ? lookUpChecksumFile(fs, found.base, found.set->chosen.header)
                      : lookUpChecksumFile(fs, found.base);
    if (!lookup)
        return lookup.failure();
    found.checksums = std::move(lookup.value());
    std::optional<PartHeader> chosenHeader;
    if (found.set)
        chosenHeader = found.set->chosen.header;
    else if (found.chosenRecovery)
        chosenHeader = setHeaderOf(*found.chosenRecovery);

    if (!found.checksums.file) {
        if (chosenHeader) {
            found.judgedBy.PartCount = chosenHeader->PartCount;
            found.judgedBy.NameTail = chosenHeader->NameTail;
        }
        if (found.set)
            for (const PartEntry& entry : found.set->parts)
                found.verdicts.push_back(verdictOf(*found.set, entry));
        return std::optional<SetFindings>(std::move(found));
    }
    const ChecksumFile& file = *found.checksums.file;
    found.judgedBy.PartCount = static_cast<std::int16_t>(file.parts.size());
    found.judgedBy.NameTail = std::string(nameTailOf(file.sourcePath));
    auto verified = verifyParts(fs, found.base, file, found.judgedBy, observer, found.verdicts);
    if (!verified)
        return verified.failure();
    if (!verified.value())
        return std::optional<SetFindings>{};
    found.contentsChecked = true;
    corroborate(found, chosenHeader);
    return std::optional<SetFindings>(std::move(found));
}

} // namespace tolvar
