#include "assembly_checks.h"

#include "checksum_file.h"
#include "part_set.h"
#include "path_parts.h"
#include "recovery.h"
#include "repair.h"

#include <sys/stat.h>

namespace tolvar {

namespace {

// Offers to rebuild the broken files the plan found damaged or missing. True when the
// assembly may go on, with a plan of the rebuilt set.
bool rebuildIfNeeded(const std::string& chosen, const std::string& prefix, AssemblyCheck& check,
                     OperationContext& context, const ProgressSource& progress) {
    JoinPlan& plan = check.plan;
    const std::string lines = plan.lostInWords(true);
    if (plan.outcome == JoinOutcome::RebuildImpossible) {
        context.box.refuse(beyondRepairMessage(lines));
        return false;
    }
    if (!context.box.ask(rebuildQuestion(lines, plan.lostBrokenFiles())))
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
        // The rebuilt files were checked as they were written; the engine checks the set
        // again as it now is.
        plan = planJoin(context.fs, {chosen, prefix, PlanFor::Join, PlanDepth::Headers});
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
    AssemblyCheck check;
    // Read to its headers first: the contents are checked after the questions that come first.
    check.plan = planJoin(context.fs, {chosen, prefix, PlanFor::Join, PlanDepth::Headers});
    JoinPlan& plan = check.plan;
    switch (plan.outcome) {
    case JoinOutcome::NotASplitFile:
        if (plan.set)
            break; // a count that names no set: the engine says so in its own words
        context.box.refuse(notSplitFileMessage(chosen));
        return check;
    case JoinOutcome::ChecksumFileDamaged:
        if (!context.box.askDefaultNo(
                assembleUncheckedQuestion(plan.checksums.path, plan.checksums.problem->reason)))
            return check;
        check.options.withoutChecksumFile = true;
        setChecksumFileAside(plan);
        break;
    default:
        break;
    }
    if (!plan.set || plan.output.empty()) {
        check.proceed = true;
        return check;
    }
    // Without checksums the engine can only say that some file is no broken file.
    if (plan.outcome == JoinOutcome::NotABrokenFile) {
        context.box.refuse(notBrokenFileMessage(plan.problem->path));
        return check;
    }

    const std::string& output = plan.output;
    const bool outputIsPart = plan.outputNamesAPart();
    struct stat st {};
    if (!outputIsPart && context.fs.lstat(output, &st) == 0) {
        if (!context.box.askDefaultNo(replaceQuestion(output)))
            return check;
        // The engine replaces only this file: one put at the name after the answer stays.
        check.options.outputSeen = SeenFile{true, st};
    } else if (!outputIsPart) {
        check.options.outputSeen = SeenFile{};
    }

    // With recovery files, the set is checked now, so that a rebuild can be offered before
    // anything is written; the engine then trusts this check.
    if (plan.hasRecoveryFiles()) {
        {
            const auto observer = progress(false);
            checkJoinContents(context.fs, plan, observer.get());
        }
        if (plan.outcome == JoinOutcome::Cancelled)
            return check;
        if ((plan.outcome == JoinOutcome::RebuildPossible ||
             plan.outcome == JoinOutcome::RebuildImpossible) &&
            !rebuildIfNeeded(chosen, prefix, check, context, progress))
            return check;
    }
    check.proceed = true;
    return check;
}

} // namespace tolvar
