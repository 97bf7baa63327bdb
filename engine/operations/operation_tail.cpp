#include "operation_tail.h"

#include "folder_files.h"
#include "part_set.h"
#include "path_parts.h"
#include "run_journal.h"

#include <cerrno>

namespace tolvar {

Message messages::deleteSourceQuestion(const std::string& source) {
    return Message(MessageId::DeleteSourceQuestion, {escapedForDisplay(source)});
}

Message messages::deletePartsQuestion(std::size_t partCount, const std::string& output,
                                      bool checksumFile, bool recoveryFiles) {
    const MessageId id = checksumFile && recoveryFiles ? MessageId::DeletePartsQuestionWithBoth
                         : checksumFile                ? MessageId::DeletePartsQuestionWithChecksums
                         : recoveryFiles               ? MessageId::DeletePartsQuestionWithRecovery
                                                       : MessageId::DeletePartsQuestion;
    return Message(id, {std::to_string(partCount), escapedForDisplay(output)});
}

Message messages::replaceQuestion(const std::string& output) {
    return Message(MessageId::ReplaceQuestion, {escapedForDisplay(fileNameOf(output))});
}

namespace {

// The index of a part's name (its last three characters as a number), or -1.
int partIndexOf(const std::string& name) {
    if (name.size() < 3)
        return -1;
    int index = 0;
    for (std::size_t i = name.size() - 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        index = index * 10 + (name[i] - '0');
    }
    return index;
}

// Whether b is the part after a in the same set of names.
bool nextPart(const std::string& a, const std::string& b) {
    return a.size() == b.size() && a.compare(0, a.size() - 3, b, 0, b.size() - 3) == 0 &&
           partIndexOf(a) >= 0 && partIndexOf(b) == partIndexOf(a) + 1;
}

// "'a'", "'a' and 'b'", "'a', 'b' and 'c'", with three or more consecutive parts as one
// "'x.002' to 'x.998'": a set of hundreds of parts still reads as one line.
std::string quotedNames(const std::vector<std::string>& names) {
    std::vector<std::string> items;
    for (std::size_t i = 0; i < names.size();) {
        std::size_t end = i + 1;
        while (end < names.size() && nextPart(names[end - 1], names[end]))
            ++end;
        if (end - i >= 3) {
            items.push_back(
                Message(MessageId::ListRange, {quotedName(names[i]), quotedName(names[end - 1])}));
        } else {
            end = i + 1;
            items.push_back(quotedName(names[i]));
        }
        i = end;
    }
    return listed(items);
}

} // namespace

Message messages::notDeletedMessage(const std::string& achieved,
                                    const std::vector<std::string>& left) {
    return Message(left.size() == 1 ? MessageId::NotDeletedOne : MessageId::NotDeletedMany,
                   {achieved, quotedNames(left)});
}

Message messages::assembledAs(const std::string& output) {
    return Message(MessageId::AssembledAs, {escapedForDisplay(output)});
}

std::string messages::changedSinceReadMessage(const std::vector<std::string>& paths) {
    std::string text = Message(paths.size() == 1 ? MessageId::ChangedSinceReadOne
                                                 : MessageId::ChangedSinceReadMany)
                           .text();
    for (const auto& path : paths)
        text += "\n" + quotedName(path);
    return text;
}

} // namespace tolvar

namespace tolvar::detail {

namespace {

// After a deletion failed: the result stands, and the user learns which files are still there.
Finish reportLeft(OperationContext& context, const std::string& achieved,
                  const std::vector<std::string>& left) {
    if (!left.empty())
        context.box.refuse(messages::notDeletedMessage(achieved, left));
    return Finish::FilesLeft;
}

} // namespace

Finish finishOperation(OperationContext& context, const Step& outcome, const Message& question,
                       const std::string& achieved, const char* operation, const Folder* keptFolder,
                       const std::vector<std::string>& kept,
                       const std::function<Doomed()>& doomed) {
    if (!outcome || !outcome.value()) {
        if (!outcome)
            showFailureReport(context.box, outcome.failure());
        return Finish::NotDone;
    }
    if (!context.box.askDefaultNo(question))
        return Finish::Done;
    // What is kept becomes the only copy: make sure it is on disk before anything goes.
    if (keptFolder != nullptr) {
        if (auto synced = syncToDisk(context.fs, *keptFolder, kept); !synced) {
            showFailureReport(context.box, synced.failure());
            return Finish::NotDone;
        }
    }
    const Doomed names = doomed();
    if (!names) {
        showFailureReport(context.box, names.failure());
        return Finish::NotDone;
    }
    if (!names.value())
        return Finish::FilesLeft;
    // Named in a journal first, so that a run killed midway is finished by the next command:
    // the files still as they were read, in the folder of the first.
    const std::vector<DoomedFile>& files = *names.value();
    std::unique_ptr<RunJournal> journal;
    if (!files.empty()) {
        std::vector<std::pair<std::string, struct stat>> journaled;
        for (const DoomedFile& file : files)
            if (file.folder == files.front().folder)
                journaled.emplace_back(fileNameOf(file.path), file.seen);
        auto started = journalDeletions(context.fs, *files.front().folder, journaled, operation);
        if (!started) {
            showFailureReport(context.box, started.failure());
            return Finish::NotDone;
        }
        journal = std::move(started.value());
    }
    std::vector<std::string> changed;
    for (auto file = files.begin(); file != files.end(); ++file) {
        // Looked at through the folder held since it was read, right before it goes.
        const std::string name = fileNameOf(file->path);
        struct stat now {};
        const bool failed =
            context.fs.lstatAt(file->folder->fd(), name, &now) != 0 ||
            (sameVersion(now, file->seen) && context.fs.unlinkAt(file->folder->fd(), name) != 0);
        if (failed) {
            const int err = errno;
            showFailureReport(context.box, fileFailure(err, FileAction::Delete, file->path));
            std::vector<std::string> left = changed;
            for (auto rest = file + (err == ENOENT ? 1 : 0); rest != files.end(); ++rest)
                left.push_back(rest->path);
            return reportLeft(context, achieved, left);
        }
        if (!sameVersion(now, file->seen))
            changed.push_back(file->path);
    }
    if (!changed.empty()) {
        context.box.refuse(messages::changedSinceReadMessage(changed));
        return Finish::FilesLeft;
    }
    return Finish::Done;
}

} // namespace tolvar::detail
