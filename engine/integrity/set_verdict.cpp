#include "set_verdict.h"

#include <algorithm>

namespace tolvar {

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

} // namespace tolvar
