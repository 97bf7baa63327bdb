#include "operation_tail.h"

#include "part_set.h"
#include "path_parts.h"
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

std::string messages::changedSinceReadMessage(const std::vector<std::string>& paths) {
    std::string text = paths.size() == 1 ? "This file was not deleted: it is no longer the file "
                                           "that was read (another program changed or replaced "
                                           "it):"
                                         : "These files were not deleted: they are no longer the "
                                           "files that were read (another program changed or "
                                           "replaced them):";
    for (const auto& path : paths)
        text += "\n'" + escapedForDisplay(path) + "'";
    return text;
}

bool messages::isDeleteQuestion(std::string_view text) {
    const auto firstLine = text.substr(0, text.find('\n'));
    return firstLine == kDeleteSource || firstLine == kDeleteParts;
}

} // namespace tolvar

namespace tolvar::detail {

bool finishOperation(OperationContext& context, const Step& outcome, const std::string& question,
                     const Folder* keptFolder, const std::vector<std::string>& kept,
                     const std::function<Doomed()>& doomed) {
    if (!outcome || !outcome.value()) {
        if (!outcome)
            showFailureReport(context.box, outcome.failure());
        return false;
    }
    if (!context.box.askDefaultNo(question))
        return true;
    // What is kept becomes the only copy: make sure it is on disk before anything goes.
    if (keptFolder != nullptr) {
        if (auto synced = syncToDisk(context.fs, *keptFolder, kept); !synced) {
            showFailureReport(context.box, synced.failure());
            return false;
        }
    }
    const Doomed names = doomed();
    if (!names) {
        showFailureReport(context.box, names.failure());
        return false;
    }
    if (!names.value())
        return false;
    // Named in a journal first, so that a run killed midway is finished by the next command:
    // the files still as they were read, in the folder of the first.
    const std::vector<DoomedFile>& files = *names.value();
    std::unique_ptr<RunJournal> journal;
    if (!files.empty()) {
        std::vector<std::pair<std::string, struct stat>> journaled;
        for (const DoomedFile& file : files)
            if (file.folder == files.front().folder)
                journaled.emplace_back(fileNameOf(file.path), file.seen);
        const bool parts = question.rfind(messages::kDeleteParts, 0) == 0;
        auto started = journalDeletions(context.fs, *files.front().folder, journaled,
                                        parts ? "join" : "split");
        if (!started) {
            showFailureReport(context.box, started.failure());
            return false;
        }
        journal = std::move(started.value());
    }
    std::vector<std::string> changed;
    for (const DoomedFile& file : *names.value()) {
        // Looked at through the folder held since it was read, right before it goes.
        const std::string name = fileNameOf(file.path);
        struct stat now {};
        if (context.fs.lstatAt(file.folder->fd(), name, &now) != 0) {
            showFailureReport(context.box, fileFailure(errno, FileAction::Delete, file.path));
            return false;
        }
        if (!sameVersion(now, file.seen)) {
            changed.push_back(file.path);
            continue;
        }
        if (context.fs.unlinkAt(file.folder->fd(), name) != 0) {
            showFailureReport(context.box, fileFailure(errno, FileAction::Delete, file.path));
            return false;
        }
    }
    if (!changed.empty()) {
        context.box.refuse(messages::changedSinceReadMessage(changed));
        return false;
    }
    return true;
}

} // namespace tolvar::detail
