#include "join_plan.h"

#include "path_parts.h"
#include "recovery.h"
#include "set_findings.h"

#include <algorithm>
#include <cerrno>

namespace tolvar {

namespace {

// Judges the set by its headers and sizes, as a join without checksums must.
void judgeByHeaders(JoinPlan& plan) {
    const PartSet& set = *plan.set;
    const PartEntry* problem = set.firstProblem();
    if (problem == nullptr) {
        plan.outcome = JoinOutcome::Ready;
        return;
    }
    plan.problem = *problem;
    switch (problem->state) {
    case PartState::Present:
        plan.outcome = JoinOutcome::Ready;
        break;
    case PartState::Missing:
    case PartState::Unreadable:
        plan.outcome = JoinOutcome::Failed;
        plan.failure = problem->failure;
        break;
    case PartState::NotAPart:
        plan.outcome = JoinOutcome::NotABrokenFile;
        break;
    case PartState::WrongIndex:
        plan.outcome = JoinOutcome::WrongIndex;
        break;
    case PartState::OtherSet:
    case PartState::WrongSize:
        plan.outcome = JoinOutcome::SetMismatch;
        break;
    }
}

void fail(JoinPlan& plan, Failure failure) {
    plan.outcome = JoinOutcome::Failed;
    plan.failure = std::move(failure);
}

} // namespace

bool JoinPlan::outputNamesAPart() const {
    if (output == chosen)
        return true;
    return set && std::any_of(set->parts.begin(), set->parts.end(),
                              [&](const PartEntry& entry) { return entry.path == output; });
}

std::vector<std::string> JoinPlan::lostBrokenFiles() const {
    std::vector<std::string> names;
    for (const int slot : verdict.lostSlots())
        if (const PartVerdict& lost = verdict.verdicts[std::size_t(slot)]; !lost.recovery)
            names.push_back(escapedForDisplay(fileNameOf(lost.path)));
    return names;
}

std::string JoinPlan::lostInWords(bool withRecoveryFiles) const {
    std::string lines;
    for (const int slot : verdict.lostSlots()) {
        const PartVerdict& lost = verdict.verdicts[std::size_t(slot)];
        if (lost.recovery && !withRecoveryFiles)
            continue;
        lines += (lines.empty() ? "'" : "\n'") + escapedForDisplay(lost.path) +
                 "': " + describeVerdict(lost);
    }
    return lines;
}

JoinPlan planJoin(FileSystem& fs, const std::string& chosen, const std::string& prefix,
                  bool withoutChecksumFile) {
    JoinPlan plan;
    plan.chosen = chosen;
    auto read = readPartSet(fs, chosen);
    if (!read) {
        fail(plan, read.failure());
        return plan;
    }
    if (!read.value())
        return plan;
    plan.set = std::move(read.value());
    const PartSet& set = *plan.set;
    if (set.chosen.header.PartIndex != 0) {
        plan.outcome = JoinOutcome::NotFirstPart;
        return plan;
    }
    // No split writes a set of fewer than two parts: a count of 000 or letters is no set.
    if (!set.countIsValid())
        return plan;
    plan.output = set.outputName(prefix);
    for (const PartEntry& entry : set.parts)
        plan.verdict.verdicts.push_back(verdictOf(set, entry));

    if (!withoutChecksumFile) {
        auto lookup = lookUpChecksumFile(fs, set.base, set.chosen.header);
        if (!lookup) {
            fail(plan, lookup.failure());
            return plan;
        }
        plan.checksums = std::move(lookup.value());
        if (plan.checksums.present())
            plan.verdict.checksumPath = plan.checksums.path;
        plan.verdict.checksumProblem = plan.checksums.problem;
        plan.verdict.incomplete = plan.checksums.incomplete;
        const auto& problem = plan.checksums.problem;
        if (problem && problem->kind == ChecksumFileProblem::Kind::Damaged) {
            plan.outcome = JoinOutcome::ChecksumFileDamaged;
            return plan;
        }
        // Judged by its contents once they are read, which says more than the headers can.
        if (plan.checksCopy()) {
            plan.outcome = JoinOutcome::Ready;
            return plan;
        }
    }
    judgeByHeaders(plan);
    return plan;
}

void checkJoinContents(FileSystem& fs, JoinPlan& plan, ProgressObserver* observer) {
    if (plan.outcome != JoinOutcome::Ready || !plan.checksCopy() || plan.verdict.contentsChecked)
        return;
    const ChecksumFile& file = *plan.checksums.file;
    const PartSet& set = *plan.set;
    std::vector<PartVerdict> verdicts;
    auto verified = verifyParts(fs, set.base, file, set.chosen.header, observer, verdicts);
    if (!verified)
        return fail(plan, verified.failure());
    if (!verified.value()) {
        plan.outcome = JoinOutcome::Cancelled;
        return;
    }
    plan.verdict.verdicts = std::move(verdicts);
    plan.verdict.contentsChecked = true;
    const std::vector<int> lost = plan.verdict.lostSlots();
    const PartVerdict* missing = nullptr;
    bool onlyMissing = true;
    for (const int slot : lost) {
        const PartVerdict& verdict = plan.verdict.verdicts[std::size_t(slot)];
        // A damaged recovery file costs the joined file nothing.
        if (verdict.recovery)
            continue;
        if (verdict.condition != PartCondition::Missing)
            onlyMissing = false;
        else if (missing == nullptr)
            missing = &verdict;
    }
    if (plan.lostBrokenFiles().empty())
        return judgeByHeaders(plan);
    // Only missing broken files: the same report a set without a checksum file gets.
    if (onlyMissing)
        plan.failure = fileFailure(ENOENT, FileAction::Open, missing->path);
    plan.verdict.repairable =
        plan.hasRecoveryFiles() && canRebuild(recoveryLayoutOf(file, set.chosen.header), lost);
    plan.outcome =
        plan.verdict.repairable ? JoinOutcome::RebuildPossible : JoinOutcome::RebuildImpossible;
}

} // namespace tolvar
