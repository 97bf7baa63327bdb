#include "assembly_checks.h"

#include "checksum_file.h"
#include "part_set.h"
#include "path_parts.h"
#include "recovery.h"
#include "repair.h"

#include <sys/stat.h>

namespace tolvar {

namespace {

// Where the window stops: said (or asked) already, so the engine is not called.
constexpr AssemblyCheck kStop{};

std::string shownName(const std::string& path) {
    return escapedForDisplay(fileNameOf(path));
}

std::string verdictLine(const PartVerdict& verdict) {
    return "'" + escapedForDisplay(verdict.path) + "': " + describeVerdict(verdict);
}

// Checks a set that has recovery files and, when broken files are damaged or missing, offers
// to rebuild them. True when the assembly may go on.
bool rebuildIfNeeded(const std::string& chosen, const PartSet& set, const ChecksumFile& file,
                     OperationContext& context, const ProgressSource& progress) {
    std::vector<PartVerdict> verdicts;
    {
        const auto observer = progress(false);
        auto verified =
            verifyParts(context.fs, set.base, file, set.chosen.header, observer.get(), verdicts);
        if (!verified)
            return true; // the engine meets the same failure and reports it
        if (!verified.value())
            return false;
    }
    std::vector<int> lost;
    std::vector<std::string> lostParts;
    std::string lines;
    for (std::size_t slot = 0; slot < verdicts.size(); ++slot) {
        const PartVerdict& verdict = verdicts[slot];
        if (verdict.condition == PartCondition::Good)
            continue;
        lost.push_back(static_cast<int>(slot));
        if (!verdict.recovery)
            lostParts.push_back(shownName(verdict.path));
        lines += (lines.empty() ? "" : "\n") + verdictLine(verdict);
    }
    // A damaged recovery file costs the rebuilt file nothing.
    if (lostParts.empty())
        return true;
    if (!canRebuild(recoveryLayoutOf(file, set.chosen.header), lost)) {
        context.box.refuse(beyondRepairMessage(lines));
        return false;
    }
    if (!context.box.ask(rebuildQuestion(lines, lostParts)))
        return false;

    const auto observer = progress(true);
    auto repaired = RepairSet(chosen, context.fs, observer.get());
    if (!repaired) {
        showFailureReport(context.box, repaired.failure());
        return false;
    }
    switch (repaired.value().outcome) {
    case RepairReport::Outcome::Whole:
    case RepairReport::Outcome::Repaired:
        return true;
    case RepairReport::Outcome::BeyondRepair:
        context.box.refuse(beyondRepairMessage(lines));
        return false;
    case RepairReport::Outcome::Refused:
        context.box.refuse(repaired.value().message);
        return false;
    case RepairReport::Outcome::Cancelled:
        return false;
    }
    return false;
}

} // namespace

std::string quotedList(const std::vector<std::string>& names) {
    std::vector<std::string> quoted;
    for (const std::string& name : names)
        quoted.push_back("'" + name + "'");
    return listed(quoted);
}

Message assembleUncheckedQuestion(const std::string& checksumPath, const std::string& reason) {
    return Message(MessageId::AssembleUncheckedQuestion,
                   {messages::checksumFileDamagedMessage(checksumPath, reason)});
}

Message rebuildQuestion(const std::string& lines, const std::vector<std::string>& names) {
    return Message(MessageId::RebuildQuestion, {lines, quotedList(names)});
}

std::string beyondRepairMessage(const std::string& lines) {
    return Message(MessageId::BeyondRepair, {lines});
}

std::string notSplitFileMessage(const std::string& path) {
    return Message(MessageId::NotSplitFileNamed, {escapedForDisplay(path)});
}

std::string notBrokenFileMessage(const std::string& path) {
    return Message(MessageId::NotBrokenFileNamed, {escapedForDisplay(path)});
}

AssemblyCheck prepareAssembly(const std::string& chosen, const std::string& prefix,
                              OperationContext& context, const ProgressSource& progress) {
    const AssemblyCheck handOn{true, false};
    auto read = readPartSet(context.fs, chosen);
    if (!read)
        return handOn;
    if (!read.value()) {
        context.box.refuse(notSplitFileMessage(chosen));
        return kStop;
    }
    const PartSet& set = *read.value();
    if (set.chosen.header.PartIndex != 0 || !set.countIsValid())
        return handOn;
    auto lookup = lookUpChecksumFile(context.fs, set.base, set.chosen.header);
    if (!lookup)
        return handOn;

    AssemblyCheck check = handOn;
    const ChecksumLookup& checksums = lookup.value();
    if (checksums.problem && checksums.problem->kind == ChecksumFileProblem::Kind::Damaged) {
        if (!context.box.askDefaultNo(
                assembleUncheckedQuestion(checksums.path, checksums.problem->reason)))
            return kStop;
        context.ignoreChecksumFile = true;
    }
    check.unchecked = !checksums.file.has_value();
    if (check.unchecked) {
        // Without checksums the engine can only say that some file is no broken file.
        const PartEntry* problem = set.firstProblem();
        if (problem != nullptr && problem->state == PartState::NotAPart) {
            context.box.refuse(notBrokenFileMessage(problem->path));
            return kStop;
        }
    }

    const std::string output = set.outputName(prefix);
    bool outputIsPart = output == chosen;
    for (const PartEntry& entry : set.parts)
        outputIsPart = outputIsPart || entry.path == output;
    struct stat st {};
    if (!outputIsPart && context.fs.lstat(output, &st) == 0) {
        if (!context.box.askDefaultNo(replaceQuestion(output)))
            return kStop;
        // The engine replaces only this file: one put at the name after the answer stays.
        context.outputSeen = SeenFile{true, st};
    } else if (!outputIsPart) {
        context.outputSeen = SeenFile{};
    }

    if (checksums.file && !checksums.file->recovery.empty() &&
        !rebuildIfNeeded(chosen, set, *checksums.file, context, progress))
        return kStop;
    return check;
}

} // namespace tolvar
