// tolvar-split: the terminal's way to the split and assemble engine. The window reads no
// command line; this program is its companion for servers and scripts.

#include "destinations.h"
#include "in_place_join.h"
#include "interrupted_runs.h"
#include "join_plan.h"
#include "operations.h"
#include "options.h"
#include "output_prefix.h"
#include "part_set.h"
#include "path_parts.h"
#include "recovery.h"
#include "repair.h"
#include "repair_report.h"
#include "room_needs.h"
#include "set_report.h"
#include "split_plan.h"
#include "terminal_io.h"
#include "terminal_message_box.h"
#include "terminal_progress.h"
#include "translation.h"
#include "verify_report.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace tolvar;
using namespace tolvar::cli;

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
// The split or join is done, but files it was to delete are still there (named on standard
// error): a script may use the result, and knows the clean-up is left to do.
constexpr int kExitFilesLeft = 3;

int usageError(const std::string& message) {
    writeToStderr("tolvar-split: " + message + "\n" + usageText());
    return kExitUsage;
}

// The window only offers files that exist; here a mistyped name must be said before the
// confirmation is asked, in the engine's own failure form, and a folder, FIFO or device named
// as what it is. A repair may name a lost file, which its set tells apart from a mistyped name.
bool inputFileUsable(const std::string& path, OperationContext& context, bool mayBeLost = false) {
    MessageBox& box = context.box;
    struct stat st {};
    if (context.fs.stat(path, &st) != 0) {
        if (mayBeLost && errno == ENOENT)
            return true;
        showFailureReport(box, fileFailure(errno, FileAction::Open, path));
        return false;
    }
    if (const std::optional<std::string> kind = notOrdinaryInWords(st.st_mode)) {
        box.refuse("'" + escapedForDisplay(path) + _("' is ") + *kind +
                   _(", not an ordinary file."));
        return false;
    }
    return true;
}

// A split the format's limit forbids is said before the confirmation, as a size out of range
// is: asking first would only lead to the refusal. Whatever else is wrong with the source is
// left to the engine.
bool tooManyParts(const std::string& path, SplitRule rule, std::int32_t amount,
                  OperationContext& context) {
    struct stat st {};
    if (context.fs.stat(path, &st) != 0)
        return false;
    const Result<SplitPlan> plan = planSplit(rule, amount, st.st_size);
    if (!plan || plan.value().verdict != SplitPlan::Verdict::TooManyParts)
        return false;
    context.box.refuse(messages::tooManyPartsMessage(plan.value().partCount));
    return true;
}

// done: the operation's work is done and nothing is left to delete; filesLeft: its work is
// done, but files the user agreed to delete are still there.
int finish(bool done, bool filesLeft, const Message& successMessage,
           const OperationContext& context, TerminalProgress& progress) {
    progress.clear();
    if (done) {
        context.box.inform(successMessage);
        return kExitDone;
    }
    if (filesLeft)
        return kExitFilesLeft;
    if (*stopFlag() != 0)
        writeToStderr(_("tolvar-split: interrupted\n"));
    return kExitRefused;
}

int runSplit(const Options& options, MessageBox& box, OperationContext& context,
             TerminalProgress& progress) {
    SplitOptions split;
    // The join script checks the parts against the checksum file: it comes along.
    split.writeChecksums = options.checksums || options.joinScript;
    split.writeJoinScript = options.joinScript;
    split.inPlace = options.inPlace;
    // A split that fits only in place is refused, saying so: in place is never chosen for
    // the user here.
    split.whenOnlyInPlace = SplitOptions::WhenOnlyInPlace::Suggest;
    std::int32_t filesize = 0;
    std::int32_t filenumber = 0;
    const bool bySize = options.sizeText || options.forText;
    if (options.forText) {
        const Destination* row = findDestination(*options.forText);
        if (row == nullptr)
            return usageError(_("unknown destination '") + escapedForDisplay(*options.forText) +
                              _("' (see --for list)"));
        filesize = planFor(*row).partKilobytes;
    } else if (options.sizeText && isMaxSize(*options.sizeText)) {
        // The folder the parts go to, as the engine will name them.
        const std::string prefix =
            enginePrefix(options.prefix.value_or(""), options.path, context.fs);
        filesize =
            largestPartAt(context.fs, folderOf(prefix.empty() ? options.path : prefix + "000"));
    } else if (options.sizeText) {
        const std::optional<TypedSize> size = parseSize(*options.sizeText);
        if (!size)
            return usageError(_("invalid size '") + escapedForDisplay(*options.sizeText) +
                              _("' (a number with an optional unit K or M)"));
        if (sizeIsRefused(size->value)) {
            box.refuse(kInvalidSize);
            return kExitRefused;
        }
        // Said here in the unit typed; the engine would say it in kilobytes, or divide by 0.
        if (const std::optional<std::string> why = partSizeRefusal(size->value, size->unit)) {
            box.refuse(*why);
            return kExitRefused;
        }
        filesize = *roundToWholeKilobytes(size->kilobytes());
    } else {
        const std::optional<std::int32_t> number = parsePartCount(*options.partsText);
        if (!number)
            return usageError(_("invalid number of parts '") +
                              escapedForDisplay(*options.partsText) + "'");
        if (partCountIsRefused(*number)) {
            box.refuse(kChooseNumber);
            return kExitRefused;
        }
        filenumber = *number;
    }
    if (options.recoveryText) {
        const std::optional<std::int32_t> count = parsePartCount(*options.recoveryText);
        if (!count)
            return usageError(_("invalid number of recovery parts '") +
                              escapedForDisplay(*options.recoveryText) + "'");
        if (*count < 1 || *count > kMaxRecoveryParts) {
            box.refuse(_("Choose a number of recovery parts between 1 and ") +
                       std::to_string(kMaxRecoveryParts) + ".");
            return kExitRefused;
        }
        // Repair tells good files from damaged ones by the checksum file: it comes along.
        split.recoveryParts = *count;
        split.writeChecksums = true;
    }
    // Split in place to its end and stopped before its files took their names, the file is
    // gone: the engine knows from its journal whether that split is this one.
    if (!inputFileUsable(options.path, context, options.inPlace))
        return kExitRefused;
    const SplitRule rule = bySize ? SplitRule::Kilobytes : SplitRule::NumberOfParts;
    const std::int32_t amount = bySize ? filesize : filenumber;
    if (tooManyParts(options.path, rule, amount, context))
        return kExitRefused;

    const std::string prefix = enginePrefix(options.prefix.value_or(""), options.path, context.fs);
    const SplitEnd end = splitBy(rule, options.path, amount, prefix, options.path, context, split);
    return finish(end == SplitEnd::Split, end == SplitEnd::FilesLeft, messages::kSplitDone, context,
                  progress);
}

// The join asks what the window asks before the engine's own confirmation, on the one plan
// of the set the engine then acts on. False once it has said (or asked) why not to go on.
bool settleJoin(const JoinPlan& plan, OperationContext& context, JoinOptions& join) {
    // A damaged checksum file is said first, with this program's way to go on.
    if (plan.outcome == JoinOutcome::ChecksumFileDamaged) {
        context.box.refuse(
            messages::checksumFileDamagedMessage(plan.checksums.path,
                                                 plan.checksums.problem->reason) +
            _(" Nothing was assembled. To join the broken files with their usual checks only, "
              "give --no-checksums, or move the checksum file away."));
        return false;
    }
    // A set the engine refuses for other reasons (not the first part, a file that cannot be
    // read) is handed on unchanged, so the engine says why.
    if (!plan.set || plan.output.empty())
        return true;
    // An existing file of the output's name is replaced only when the user says so; a part or
    // a folder there is refused by the engine.
    const std::string& output = plan.output;
    const bool outputIsPart = plan.outputNamesAPart();
    struct stat st {};
    if (!outputIsPart && context.fs.lstat(output, &st) == 0 && !S_ISDIR(st.st_mode)) {
        // The join replaces only the file asked about: one put at the name after the answer
        // stays.
        join.outputSeen = SeenFile{true, st};
        return context.box.askDefaultNo(messages::replaceQuestion(output));
    }
    if (!outputIsPart)
        join.outputSeen = SeenFile{};
    return true;
}

// A join in place, or the pick-up of one that was interrupted, for which FIRST_PART may be
// gone already.
int runJoinInPlace(const Options& options, MessageBox& box, OperationContext& context,
                   TerminalProgress& progress) {
    const bool waiting = inPlaceJoinWaits(context.fs, options.path);
    if (!waiting && !inputFileUsable(options.path, context))
        return kExitRefused;
    const std::string prefix = enginePrefix(options.prefix.value_or(""), options.path, context.fs);
    InPlaceOptions inPlace;
    inPlace.join.withoutChecksumFile = options.noChecksums;
    inPlace.uncheckedConfirmed = options.noChecksums;
    JoinPlan plan = planJoin(
        context.fs, {options.path, prefix, PlanFor::Join, PlanDepth::Headers, options.noChecksums});
    if (!waiting && !settleJoin(plan, context, inPlace.join))
        return kExitRefused;
    bool checked = false;
    inPlace.contentsChecked = &checked;
    const JoinEnd end = joinInPlace(plan, context, inPlace);
    if (end == JoinEnd::Stopped)
        box.refuse(silentStopInWords(plan.set ? &*plan.set : nullptr));
    return finish(end == JoinEnd::Joined, end == JoinEnd::FilesLeft,
                  checked ? messages::kAssembleDone : messages::kAssembledUnchecked, context,
                  progress);
}

int runJoin(const Options& options, MessageBox& box, OperationContext& context,
            TerminalProgress& progress) {
    if (options.inPlace)
        return runJoinInPlace(options, box, context, progress);
    if (!inputFileUsable(options.path, context))
        return kExitRefused;
    const std::string prefix = enginePrefix(options.prefix.value_or(""), options.path, context.fs);
    JoinOptions join;
    join.withoutChecksumFile = options.noChecksums;
    // Read to its headers: the contents are checked once the user confirmed the join.
    JoinPlan plan = planJoin(context.fs, {options.path, prefix, PlanFor::Join, PlanDepth::Headers,
                                          join.withoutChecksumFile});
    if (!settleJoin(plan, context, join))
        return kExitRefused;
    // A set whose rebuilt file fits only if each broken file goes as it is moved in: said
    // before anything is written, with the way that fits.
    if (plan.outcome == JoinOutcome::Ready || plan.checksCopy()) {
        const JoinRoom room = roomForJoin(context.fs, plan);
        if (room.fitsOnlyInPlace()) {
            box.refuse(messages::inPlaceSuggestion(plan.output, room));
            return kExitRefused;
        }
    }
    const JoinEnd end = assemblePlanned(plan, context, join);
    // The engine stops without a word when the chosen part is not the first, or a part's index
    // is not the one its place calls for; in a window the user sees that nothing happened, in
    // a script only a status would, so name the part that stopped it.
    if (end == JoinEnd::Stopped)
        box.refuse(silentStopInWords(plan.set ? &*plan.set : nullptr));
    return finish(end == JoinEnd::Joined, end == JoinEnd::FilesLeft,
                  plan.verdict.contentsChecked ? messages::kAssembleDone
                                               : messages::kAssembledUnchecked,
                  context, progress);
}

// Lists the set as read, or says why there is none to list.
int reportSet(const JoinPlan& plan, MessageBox& box) {
    if (plan.outcome == JoinOutcome::Failed) {
        showFailureReport(box, *plan.failure);
        return kExitRefused;
    }
    if (!plan.set) {
        box.refuse(messages::kNotSplitFile);
        return kExitRefused;
    }
    const std::string text = formatSetReport(*plan.set);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0)
        return kExitRefused;
    return plan.set->whole() ? kExitDone : kExitRefused;
}

int runInfo(const Options& options, MessageBox& box) {
    return reportSet(
        planJoin(defaultFileSystem(), {options.path, {}, PlanFor::Check, PlanDepth::Parts}), box);
}

// With a checksum file every listed file is hashed and judged; without one, the set is
// listed as info lists it.
int runVerify(const Options& options, MessageBox& box, TerminalProgress& progress) {
    FileSystem& fs = defaultFileSystem();
    // A name too short to have siblings names no set: it is judged as info judges it.
    if (!partBaseName(options.path, {}))
        return runInfo(options, box);
    const JoinPlan plan = planJoin(fs, {options.path, {}, PlanFor::Check}, &progress);
    progress.clear();
    if (plan.outcome == JoinOutcome::Failed || plan.outcome == JoinOutcome::Cancelled) {
        showFailureReport(
            box, plan.failure ? *plan.failure
                              : makeFailure(FailureKind::IoError, _("verifying was interrupted")));
        return kExitRefused;
    }
    const std::optional<SetVerdict> verified = verifyWithChecksums(plan, box);
    if (!verified)
        return reportSet(plan, box);
    // Listed without it, but never "every file is good": nothing vouches for them.
    if (verified->checksumFileDamaged()) {
        reportSet(plan, box);
        return kExitRefused;
    }
    const std::string text = formatVerifyReport(*verified);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0)
        return kExitRefused;
    return verified->whole() ? kExitDone : kExitRefused;
}

int runRepair(const Options& options, OperationContext& context, TerminalProgress& progress) {
    MessageBox& box = context.box;
    if (!inputFileUsable(options.path, context, true))
        return kExitRefused;
    const Result<RepairReport> repaired = RepairSet(options.path, context.fs, &progress);
    progress.clear();
    if (!repaired) {
        showFailureReport(box, repaired.failure());
        return kExitRefused;
    }
    const RepairReport& report = repaired.value();
    if (report.outcome == RepairReport::Outcome::Cancelled) {
        writeToStderr(_("tolvar-split: interrupted\n"));
        return kExitRefused;
    }
    if (report.outcome == RepairReport::Outcome::Refused) {
        box.refuse(report.message);
        return kExitRefused;
    }
    const std::string text = formatRepairReport(report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0)
        return kExitRefused;
    return report.outcome == RepairReport::Outcome::BeyondRepair ? kExitRefused : kExitDone;
}

} // namespace

int main(int argc, char** argv) {
    tolvar::startTranslations(argv[0]);
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);

    const std::variant<Options, UsageError> parsed = parseCommandLine(args);
    if (const auto* error = std::get_if<UsageError>(&parsed))
        return usageError(error->message);
    const Options& options = std::get<Options>(parsed);

    switch (options.command) {
    case Command::Help:
        std::fputs(helpText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitDone : kExitRefused;
    case Command::Version:
        std::fputs("tolvar-split " TOLVAR_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? kExitDone : kExitRefused;
    case Command::ListDestinations:
        std::fputs(destinationList().c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitDone : kExitRefused;
    case Command::Split:
    case Command::Join:
    case Command::Info:
    case Command::Verify:
    case Command::Repair:
        break;
    }

    watchStopSignals();
    TerminalProgress progress(::isatty(STDERR_FILENO) == 1, stopFlag());
    AnswerPolicy policy;
    policy.yes = options.yes;
    policy.deleteYes = options.deleteSource || options.deleteParts;
    policy.interactive = ::isatty(STDIN_FILENO) == 1;
    TerminalMessageBox box(policy, &progress);
    OperationContext context{box, defaultFileSystem(), &progress};
    // Whatever the command, what a killed run of this user left is finished or undone first;
    // an in-place join does so itself, once it has seen whether it is picking one up.
    if (!(options.command == Command::Join && options.inPlace))
        for (const auto& note : finishInterruptedRuns(context.fs))
            writeToStderr("tolvar-split: " + note + "\n");

    switch (options.command) {
    case Command::Split:
        return runSplit(options, box, context, progress);
    case Command::Join:
        return runJoin(options, box, context, progress);
    case Command::Info:
        return runInfo(options, box);
    case Command::Verify:
        return runVerify(options, box, progress);
    case Command::Repair:
        return runRepair(options, context, progress);
    case Command::Help:
    case Command::Version:
    case Command::ListDestinations:
        break;
    }
    return kExitUsage;
}
