#include "operation_tail.h"

#include "part_set.h"
#include "run_journal.h"

#include <cerrno>

namespace tolvar {

std::string messages::deleteSourceQuestion(const std::string& source) {
    return std::string(kDeleteSource) + "\n'" + escapedForDisplay(source) + "'";
}

std::string messages::deletePartsQuestion(std::size_t partCount, const std::string& output,
                                          bool checksumFile, bool recoveryFiles) {
    std::string text = std::string(kDeleteParts) + "\nThe " + std::to_string(partCount) +
                       " broken files of '" + escapedForDisplay(output) + "'";
    if (checksumFile && recoveryFiles)
        text += ", with its checksum and recovery files";
    else if (checksumFile)
        text += ", with its checksum file";
    else if (recoveryFiles)
        text += ", with its recovery files";
    return text + ".";
}

bool messages::isDeleteQuestion(std::string_view text) {
    const auto firstLine = text.substr(0, text.find('\n'));
    return firstLine == kDeleteSource || firstLine == kDeleteParts;
}

} // namespace tolvar

namespace tolvar::detail {

bool finishOperation(OperationContext& context, const Step& outcome, const std::string& question,
                     const std::vector<std::string>& kept, const std::function<Doomed()>& doomed) {
    if (!outcome || !outcome.value()) {
        if (!outcome)
            showFailureReport(context.box, outcome.failure());
        return false;
    }
    if (!context.box.askDefaultNo(question))
        return true;
    // What is kept becomes the only copy: make sure it is on disk before anything goes.
    if (auto synced = syncToDisk(context.fs, kept); !synced) {
        showFailureReport(context.box, synced.failure());
        return false;
    }
    const Doomed names = doomed();
    if (!names) {
        showFailureReport(context.box, names.failure());
        return false;
    }
    if (!names.value())
        return false;
    // Named in a journal first, so that a run killed midway is finished by the next command.
    const bool parts = question.rfind(messages::kDeleteParts, 0) == 0;
    auto journal = journalDeletions(context.fs, *names.value(), parts ? "join" : "split");
    if (!journal) {
        showFailureReport(context.box, journal.failure());
        return false;
    }
    for (const auto& name : *names.value()) {
        if (context.fs.unlink(name) != 0) {
            showFailureReport(context.box, fileFailure(errno, FileAction::Delete, name));
            return false;
        }
    }
    return true;
}

} // namespace tolvar::detail
