#include "repair.h"

#include "file_handle.h"
#include "folder.h"
#include "join_plan.h"
#include "operations.h"
#include "path_parts.h"
#include "pending_set.h"
#include "recovery.h"
#include "set_verdict.h"
#include "sha256.h"
#include "translation.h"

#include <cerrno>
#include <optional>
#include <utility>
#include <variant>

namespace tolvar {

namespace {

using Outcome = RepairReport::Outcome;

// A name in a message: it may come from a file anyone wrote, and reach a terminal.
std::string shown(const std::string& path) {
    return escapedForDisplay(path);
}

RepairReport refusal(std::string message) {
    RepairReport report;
    report.outcome = Outcome::Refused;
    report.message = std::move(message);
    return report;
}

RepairReport withOutcome(Outcome outcome, std::vector<PartVerdict> verdicts = {}) {
    RepairReport report;
    report.outcome = outcome;
    report.verdicts = std::move(verdicts);
    return report;
}

bool sameLayout(const RecoveryLayout& a, const RecoveryLayout& b) {
    return a.dataCount == b.dataCount && a.recoveryCount == b.recoveryCount &&
           a.partSize == b.partSize && a.totalLength == b.totalLength && a.nameTail == b.nameTail;
}

// Whether every intact recovery part was written for the shape the checksum file describes.
Result<bool> recoveryPartsAgree(FileSystem& fs, const RecoveryLayout& layout,
                                const std::vector<PartVerdict>& verdicts) {
    for (const PartVerdict& verdict : verdicts) {
        if (!verdict.recovery || verdict.condition != PartCondition::Good)
            continue;
        auto file = readRecoveryFile(fs, verdict.path);
        if (!file)
            return file.failure();
        if (file.value().found != FileFound::Regular)
            return *file.value().failure; // gone or replaced since it was checked
        const auto& header = file.value().header;
        if (!header || header->index != verdict.index || !sameLayout(header->layout, layout))
            return false;
    }
    return true;
}

Result<Digest> digestOfFile(FileSystem& fs, const std::string& path) {
    auto file = detail::openForReading(fs, path);
    if (!file)
        return file.failure();
    Sha256 hash;
    std::vector<char> buffer(std::size_t{1} << 20);
    off_t offset = 0;
    for (;;) {
        auto got =
            detail::readFully(fs, file.value().get(), buffer.data(), buffer.size(), offset, path);
        if (!got)
            return got.failure();
        hash.update(buffer.data(), got.value());
        offset += static_cast<off_t>(got.value());
        if (got.value() < buffer.size())
            return hash.finish();
    }
}

// The rebuilt files, staged and put in place as a split's are: hidden until all are checked,
// journalled, and moved in under the folder's lock only if no file of the set changed since
// it was read.
class Rebuild {
public:
    // folder holds the set; it outlives the rebuild.
    Rebuild(FileSystem& fs, const detail::Folder& folder)
        : folder(folder), pending(fs, folder, "repair") {}

    Result<void> create(int slot, const std::string& path, mode_t mode) {
        auto added = pending.add(path, mode);
        if (!added)
            return added.failure();
        finals.push_back(path);
        targets.push_back({slot, pending.file(added.value()).get(), path});
        return {};
    }

    Result<void> closeAll() {
        for (std::size_t i = 0; i < pending.size(); ++i)
            if (auto parked = pending.file(i).park(); !parked)
                return parked;
        return {};
    }

    std::string temporary(std::size_t i) { return pending.file(i).hiddenPath(); }

    const detail::Folder& folder;
    detail::PendingSet pending;
    std::vector<std::string> finals;
    std::vector<RebuildTarget> targets;
};

// The bits rebuilt files get: those of a file of the set that is still good, narrowed to
// what the checksum file records where it records any; never more than the good file has,
// since the checksum file may come from anyone.
mode_t rebuiltMode(const ChecksumFile& file, const std::vector<PartVerdict>& verdicts) {
    const mode_t recorded = static_cast<mode_t>(file.mode) & 0777;
    for (const PartVerdict& verdict : verdicts)
        if (verdict.condition == PartCondition::Good && verdict.status)
            return verdict.status->st_mode & (recorded != 0 ? recorded : 0777) & 0777;
    return recorded != 0 ? recorded : 0666;
}

// Why the set's checksum file cannot tell its damaged files from its good ones; nothing when
// it can. It must be borne out by a header read from a file of the set, so that the checksum
// and recovery files an earlier split left under the same names never rewrite a newer set.
Result<std::optional<RepairReport>> checksumRefusal(const JoinPlan& plan) {
    const ChecksumLookup& checksums = plan.checksums;
    const auto cannotBeUsed = [&](const std::string& reason) {
        return std::optional<RepairReport>{
            refusal(Message(MessageId::ChecksumFileUnusableForRepair,
                            {messages::checksumFileCannotBeUsed(checksums.path, reason)}))};
    };
    if (checksums.problem)
        return cannotBeUsed(checksums.problem->reason);
    if (checksums.file && !checksums.file->complete)
        return cannotBeUsed(checksums.incomplete);
    if (plan.corroborated)
        return std::optional<RepairReport>{};
    if (!plan.disagreement.empty())
        return cannotBeUsed(plan.disagreement);
    if (!checksums.file && (plan.set || plan.chosenRecovery))
        return std::optional<RepairReport>{refusal(
            _("There is no checksum file '") + shown(checksums.path) +
            _("' beside the set, so its damaged files cannot be told from its good ones."))};
    // A lost file is named by its set; with no set about, the name was mistyped.
    if (plan.chosenFound == FileFound::Missing)
        return fileFailure(ENOENT, FileAction::Open, plan.chosen);
    return std::optional<RepairReport>{refusal(messages::kNotSplitFile)};
}

// Whether path is the name of one of the files the checksum file lists, as the set names them.
bool isNameInSet(const std::string& path, const std::string& base, const ChecksumFile& file) {
    for (std::size_t i = 0; i < file.parts.size(); ++i)
        if (path == PartFileName(base, static_cast<int>(i)))
            return true;
    for (std::size_t j = 0; j < file.recovery.size(); ++j)
        if (path == RecoveryFileName(base, static_cast<int>(j)))
            return true;
    return false;
}

} // namespace

namespace {

// Why the set the checksum file describes cannot be repaired from the chosen name; nothing
// when it can.
std::optional<RepairReport> setRefusal(const std::string& chosen, const std::string& base,
                                       const ChecksumLookup& checksums,
                                       const RecoveryLayout& layout) {
    const ChecksumFile& file = *checksums.file;
    // The chosen name may be that of a lost file, but it must be one of the set's.
    if (!isNameInSet(chosen, base, file))
        return refusal("'" + shown(chosen) +
                       _("' is not a file of the set that the checksum file '") +
                       shown(checksums.path) +
                       _("' describes: name one of its broken files or recovery parts."));
    if (file.recovery.empty())
        return refusal(_("The set has no recovery parts to rebuild its files from."));
    if (!layout.valid())
        return refusal(_("The checksum file '") + shown(checksums.path) +
                       _("' describes a set that no split writes."));
    return std::nullopt;
}

// The slots of the files that are not good, or a refusal when one of them is no ordinary file.
std::variant<std::vector<int>, RepairReport> lostSlots(FileSystem& fs, const detail::Folder& folder,
                                                       const std::vector<PartVerdict>& verdicts) {
    std::vector<int> lost;
    for (std::size_t slot = 0; slot < verdicts.size(); ++slot) {
        const PartVerdict& verdict = verdicts[slot];
        if (verdict.condition == PartCondition::Good)
            continue;
        struct stat st {};
        if (verdict.condition == PartCondition::Foreign &&
            fs.lstatAt(folder.fd(), fileNameOf(verdict.path), &st) == 0 && !S_ISREG(st.st_mode))
            return refusal("'" + shown(verdict.path) +
                           _("' is not an ordinary file; move it away and repair the set again."));
        lost.push_back(static_cast<int>(slot));
    }
    return lost;
}

// What was written is read back and checked: only files that match go into place. A refusal
// naming the first that does not.
Result<std::optional<RepairReport>> checkRebuilt(FileSystem& fs, const ChecksumFile& file,
                                                 const std::vector<int>& lost, Rebuild& rebuild) {
    for (std::size_t i = 0; i < lost.size(); ++i) {
        const auto slot = std::size_t(lost[i]);
        const ChecksumEntry& entry =
            slot < file.parts.size() ? file.parts[slot] : file.recovery[slot - file.parts.size()];
        const std::string hidden = rebuild.temporary(i);
        auto digest = digestOfFile(fs, hidden);
        if (!digest)
            return detail::reportedAs(digest.failure(), hidden, rebuild.finals[i]);
        if (digest.value() != entry.digest)
            return std::optional<RepairReport>{
                refusal(_("The rebuilt '") + shown(rebuild.finals[i]) +
                        _("' does not match its checksum, so nothing was changed."))};
    }
    return std::optional<RepairReport>{};
}

// Rebuilds the lost slots into hidden files, checks them and moves them into place.
Result<RepairReport> rebuildLost(FileSystem& fs, const ChecksumFile& file,
                                 const RecoveryLayout& layout, std::vector<PartVerdict> verdicts,
                                 const std::vector<int>& lost, Rebuild& rebuild,
                                 ProgressObserver* observer) {
    std::vector<std::string> slotPaths;
    for (const PartVerdict& verdict : verdicts)
        slotPaths.push_back(verdict.path);
    const mode_t mode = rebuiltMode(file, verdicts);
    for (const int slot : lost)
        if (auto created = rebuild.create(slot, slotPaths[std::size_t(slot)], mode); !created)
            return created.failure();
    auto rebuilt =
        rebuildSlots(fs, RecoveryHeader{layout, 0}, slotPaths, rebuild.targets, observer);
    if (!rebuilt)
        return rebuilt.failure();
    if (!rebuilt.value())
        return withOutcome(Outcome::Cancelled, std::move(verdicts));
    if (auto closed = rebuild.closeAll(); !closed)
        return closed.failure();
    auto checked = checkRebuilt(fs, file, lost, rebuild);
    if (!checked)
        return checked.failure();
    if (checked.value())
        return std::move(*checked.value());
    if (auto moved = rebuild.pending.commit(); !moved)
        return moved.failure();
    RepairReport report = withOutcome(Outcome::Repaired, std::move(verdicts));
    report.rebuilt = rebuild.finals;
    return report;
}

// Notes what was read of every file of the set, and checks the recovery parts against the set's
// shape. What was read decides what is written: if another run changes any file of the set from
// here on, the rebuild puts nothing in place.
Result<std::optional<RepairReport>> checkFiles(FileSystem& fs, const JoinPlan& plan,
                                               const RecoveryLayout& layout, Rebuild& rebuild) {
    rebuild.pending.expect(plan.checksums.path, plan.checksums.status);
    if (!plan.checksums.companionPath.empty())
        rebuild.pending.expect(plan.checksums.companionPath, plan.checksums.companionStatus);
    for (const PartVerdict& verdict : plan.verdict.verdicts)
        rebuild.pending.expect(verdict.path, verdict.status);
    auto agree = recoveryPartsAgree(fs, layout, plan.verdict.verdicts);
    if (!agree)
        return agree.failure();
    if (!agree.value())
        return std::optional<RepairReport>{
            refusal(_("The recovery parts were not written for the set that the checksum file '") +
                    shown(plan.checksums.path) + _("' describes."))};
    return std::optional<RepairReport>{};
}

Result<RepairReport> repairSet(const std::string& chosen, FileSystem& fs,
                               ProgressObserver* observer) {
    if (!partBaseName(chosen, {}))
        return refusal(messages::kNotSplitFile);
    JoinPlan plan = planJoin(fs, {chosen, {}, PlanFor::Repair}, observer);
    if (plan.outcome == JoinOutcome::Failed)
        return *plan.failure;
    if (plan.outcome == JoinOutcome::Cancelled)
        return withOutcome(Outcome::Cancelled);
    auto refused = checksumRefusal(plan);
    if (!refused)
        return refused.failure();
    if (refused.value())
        return std::move(*refused.value());
    const ChecksumFile& file = *plan.checksums.file;
    const RecoveryLayout layout = recoveryLayoutOf(file, plan.judgedBy);
    if (auto outside = setRefusal(chosen, plan.base, plan.checksums, layout))
        return std::move(*outside);

    // Held from here to the commit: the rebuilt files go into the folder whose files were
    // read and checked, whatever has its path by then.
    auto held = detail::Folder::open(fs, folderOf(PartFileName(plan.base, 0)));
    if (!held)
        return held.failure();
    Rebuild rebuild(fs, held.value());
    auto checked = checkFiles(fs, plan, layout, rebuild);
    if (!checked)
        return checked.failure();
    if (checked.value())
        return std::move(*checked.value());
    std::vector<PartVerdict>& verdicts = plan.verdict.verdicts;

    auto lost = lostSlots(fs, held.value(), verdicts);
    if (auto* unordinary = std::get_if<RepairReport>(&lost))
        return std::move(*unordinary);
    const auto& slots = std::get<std::vector<int>>(lost);
    if (slots.empty())
        return withOutcome(Outcome::Whole, std::move(verdicts));
    if (!canRebuild(layout, slots))
        return withOutcome(Outcome::BeyondRepair, std::move(verdicts));
    return rebuildLost(fs, file, layout, std::move(verdicts), slots, rebuild, observer);
}

} // namespace

Result<RepairReport> RepairSet(const std::string& chosen, FileSystem& fs,
                               ProgressObserver* observer) {
    std::vector<std::string> notes = detail::finishInterruptedRuns(fs);
    auto report = repairSet(chosen, fs, observer);
    if (report)
        report.value().notes = std::move(notes);
    return report;
}

} // namespace tolvar
