#include "join_plan.h"

#include "part_file.h"
#include "path_parts.h"
#include "translation.h"

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

namespace {

// Reads the chosen file: the set it names when it is a broken file. A check or repair also
// takes a recovery part, and a repair goes on by the name alone where there is no ordinary
// file at it. False when it failed (said in the plan).
bool readChosen(FileSystem& fs, const PlanRequest& request, JoinPlan& plan) {
    auto read = readPartSet(fs, plan.chosen);
    if (read) {
        plan.chosenFound = FileFound::Regular;
        plan.set = std::move(read.value());
        if (plan.set || request.purpose == PlanFor::Join || request.depth == PlanDepth::Parts)
            return true;
        auto recovery = readRecoveryFile(fs, plan.chosen);
        if (!recovery) {
            fail(plan, recovery.failure());
            return false;
        }
        plan.chosenFound = recovery.value().found;
        plan.chosenRecovery = recovery.value().header;
        return true;
    }
    if (request.purpose != PlanFor::Repair) {
        fail(plan, read.failure());
        return false;
    }
    auto file = readPartFile(fs, plan.chosen);
    if (!file || file.value().found == FileFound::Regular) {
        fail(plan, file ? read.failure() : file.failure());
        return false;
    }
    plan.chosenFound = file.value().found;
    return true;
}

// The header the chosen file carries, or its recovery part's set header.
std::optional<PartHeader> chosenHeader(const JoinPlan& plan) {
    if (plan.set)
        return plan.set->chosen.header;
    if (plan.chosenRecovery)
        return setHeaderOf(*plan.chosenRecovery);
    return std::nullopt;
}

// Whether the files now at the set's names bear the checksum file out: one broken file at least
// must be exactly as it lists it. Headers alone cannot tell: a stale checksum file agrees with
// the recovery parts of its own split, and a damaged header may name any set. When none is,
// the first header that names another set, the chosen file's first, says why.
void corroborate(JoinPlan& plan) {
    const ChecksumFile& file = *plan.checksums.file;
    const std::vector<PartVerdict>& verdicts = plan.verdict.verdicts;
    plan.corroborated = std::any_of(verdicts.begin(), verdicts.end(), [](const PartVerdict& v) {
        return !v.recovery && v.condition == PartCondition::Good;
    });
    if (plan.corroborated)
        return;
    std::optional<std::string> why;
    if (const auto header = chosenHeader(plan))
        why = setDisagreement(file, *header);
    for (const PartVerdict& verdict : verdicts)
        if (!why && !verdict.recovery && verdict.setHeader)
            why = setDisagreement(file, *verdict.setHeader);
    plan.disagreement = why.value_or(
        _("none of the broken files beside it is as it lists them, so it may come from another "
          "split under the same names"));
}

// Whether the recovery files can rebuild what is lost, and may be trusted to: the checksum
// file must be complete, and borne out by a broken file.
void judgeRepair(JoinPlan& plan) {
    const ChecksumFile& file = *plan.checksums.file;
    SetVerdict& verdict = plan.verdict;
    if (!file.complete)
        return;
    const std::vector<int> lost = verdict.lostSlots();
    verdict.repairable = !lost.empty() && !file.recovery.empty() &&
                         canRebuild(recoveryLayoutOf(file, plan.judgedBy), lost);
    if (verdict.repairable && !plan.corroborated) {
        verdict.repairable = false;
        verdict.untrusted = plan.disagreement;
    }
}

// A join's outcome once the contents are judged: lost broken files stop it, and the recovery
// files may cover them; a damaged recovery file costs the joined file nothing.
void judgeJoinByContents(JoinPlan& plan) {
    if (plan.lostBrokenFiles().empty())
        return judgeByHeaders(plan);
    const std::vector<int> lost = plan.verdict.lostSlots();
    const PartVerdict* missing = nullptr;
    bool onlyMissing = true;
    for (const int slot : lost) {
        const PartVerdict& verdict = plan.verdict.verdicts[std::size_t(slot)];
        if (verdict.recovery)
            continue;
        if (verdict.condition != PartCondition::Missing)
            onlyMissing = false;
        else if (missing == nullptr)
            missing = &verdict;
    }
    // Only missing broken files: the same report a set without a checksum file gets.
    if (onlyMissing)
        plan.failure = fileFailure(ENOENT, FileAction::Open, missing->path);
    const bool covered = plan.hasRecoveryFiles() &&
                         canRebuild(recoveryLayoutOf(*plan.checksums.file, plan.judgedBy), lost);
    plan.outcome = covered ? JoinOutcome::RebuildPossible : JoinOutcome::RebuildImpossible;
}

// Reads the set's checksum file: the chosen broken file's header finds its own set's; any other
// chosen name (and every repair) the one its name leads to, as long as that lists the set's
// names. False when it failed (said in the plan).
bool readChecksumFile(FileSystem& fs, JoinPlan& plan) {
    auto lookup = plan.set && plan.purpose != PlanFor::Repair
                      ? lookUpChecksumFile(fs, plan.base, plan.set->chosen.header)
                      : lookUpChecksumFile(fs, plan.base);
    if (!lookup) {
        fail(plan, lookup.failure());
        return false;
    }
    plan.checksums = std::move(lookup.value());
    if (plan.checksums.present())
        plan.verdict.checksumPath = plan.checksums.path;
    plan.verdict.checksumProblem = plan.checksums.problem;
    plan.verdict.incomplete = plan.checksums.incomplete;
    if (const auto& file = plan.checksums.file) {
        plan.judgedBy.PartCount = static_cast<std::int16_t>(file->parts.size());
        plan.judgedBy.NameTail = std::string(nameTailOf(file->sourcePath));
        // Nothing vouches for what an incomplete one would rebuild.
        if (!file->complete)
            plan.verdict.untrusted = plan.checksums.incomplete;
    }
    return true;
}

// What a join of the set read so far comes to before any contents are read; false when the
// join is refused already, or the set cannot be joined from the chosen file.
bool judgeJoinByHeaders(JoinPlan& plan) {
    const PartSet& set = *plan.set;
    if (set.chosen.header.PartIndex != 0) {
        plan.outcome = JoinOutcome::NotFirstPart;
        return false;
    }
    // No split writes a set of fewer than two parts: a count of 000 or letters is no set.
    if (!set.countIsValid())
        return false;
    plan.outcome = JoinOutcome::Ready;
    return true;
}

// Judges the set the chosen file names by its headers: each file's verdict, and for a join
// whether it can go on. False when a join cannot.
bool judgeChosenSet(const PlanRequest& request, JoinPlan& plan) {
    const bool joining = request.purpose == PlanFor::Join;
    if (!joining)
        plan.outcome = JoinOutcome::Ready;
    if (const auto header = chosenHeader(plan)) {
        plan.judgedBy.PartCount = header->PartCount;
        plan.judgedBy.NameTail = header->NameTail;
    }
    if (!plan.set)
        return !joining;
    plan.base = plan.set->base;
    if (joining && !judgeJoinByHeaders(plan))
        return false;
    plan.output = plan.set->outputName(request.prefix);
    for (const PartEntry& entry : plan.set->parts)
        plan.verdict.verdicts.push_back(verdictOf(*plan.set, entry));
    return true;
}

} // namespace

JoinPlan planJoin(FileSystem& fs, const PlanRequest& request, ProgressObserver* observer) {
    JoinPlan plan;
    plan.purpose = request.purpose;
    plan.chosen = request.chosen;
    const bool joining = request.purpose == PlanFor::Join;
    if (const auto base = partBaseName(request.chosen, {}))
        plan.base = *base;
    else if (!joining && request.depth != PlanDepth::Parts) {
        fail(plan,
             makeFailure(FailureKind::InvalidArgument,
                         _("cannot find the other broken files of '") + request.chosen + "'"));
        return plan;
    }
    if (!readChosen(fs, request, plan) || !judgeChosenSet(request, plan) ||
        request.depth == PlanDepth::Parts)
        return plan;
    if (!request.withoutChecksumFile && !readChecksumFile(fs, plan))
        return plan;
    if (joining) {
        const auto& problem = plan.checksums.problem;
        if (problem && problem->kind == ChecksumFileProblem::Kind::Damaged)
            plan.outcome = JoinOutcome::ChecksumFileDamaged;
        // Judged by its contents once they are read, which says more than the headers can.
        else if (!plan.checksCopy())
            judgeByHeaders(plan);
    }
    if (request.depth == PlanDepth::Contents)
        checkJoinContents(fs, plan, observer);
    return plan;
}

void checkJoinContents(FileSystem& fs, JoinPlan& plan, ProgressObserver* observer) {
    if (plan.outcome != JoinOutcome::Ready || !plan.checksCopy() || plan.verdict.contentsChecked)
        return;
    std::vector<PartVerdict> verdicts;
    auto verified =
        verifyParts(fs, plan.base, *plan.checksums.file, plan.judgedBy, observer, verdicts);
    if (!verified)
        return fail(plan, verified.failure());
    if (!verified.value()) {
        plan.outcome = JoinOutcome::Cancelled;
        return;
    }
    plan.verdict.verdicts = std::move(verdicts);
    plan.verdict.contentsChecked = true;
    corroborate(plan);
    judgeRepair(plan);
    if (plan.purpose == PlanFor::Join)
        judgeJoinByContents(plan);
}

void setChecksumFileAside(JoinPlan& plan) {
    if (plan.outcome != JoinOutcome::ChecksumFileDamaged)
        return;
    plan.checksums = ChecksumLookup{};
    plan.verdict.checksumPath.clear();
    plan.verdict.checksumProblem.reset();
    plan.verdict.incomplete.clear();
    plan.verdict.untrusted.clear();
    judgeByHeaders(plan);
}

} // namespace tolvar
