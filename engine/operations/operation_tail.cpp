#include "operation_tail.h"

#include "folder_files.h"
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

std::string messages::replaceQuestion(const std::string& output) {
    return "'" + escapedForDisplay(fileNameOf(output)) + "' already exists. Replace it?";
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
        const auto quoted = [&](std::size_t at) {
            return "'" + escapedForDisplay(names[at]) + "'";
        };
        if (end - i >= 3) {
            items.push_back(quoted(i) + " to " + quoted(end - 1));
        } else {
            end = i + 1;
            items.push_back(quoted(i));
        }
        i = end;
    }
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

} // namespace

std::string messages::notDeletedMessage(const std::string& achieved,
                                        const std::vector<std::string>& left) {
    if (left.size() == 1)
        return achieved + ", but " + quotedNames(left) +
               " could not be deleted and is still there.";
    return achieved +
           ", but these files could not be deleted and are still there: " + quotedNames(left) + ".";
}

std::string messages::assembledAs(const std::string& output) {
    return "The file was assembled as '" + escapedForDisplay(output) + "'";
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

namespace {

// After a deletion failed: the result stands, and the user learns which files are still there.
void reportLeft(OperationContext& context, const std::string& achieved,
                const std::vector<std::string>& left) {
    context.filesLeftUndeleted = true;
    if (!left.empty())
        context.box.refuse(messages::notDeletedMessage(achieved, left));
}

} // namespace

bool finishOperation(OperationContext& context, const Step& outcome, const std::string& question,
                     const std::string& achieved, const char* operation, const Folder* keptFolder,
                     const std::vector<std::string>& kept, const std::function<Doomed()>& doomed) {
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
    if (!names.value()) {
        context.filesLeftUndeleted = true;
        return false;
    }
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
            return false;
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
            reportLeft(context, achieved, left);
            return false;
        }
        if (!sameVersion(now, file->seen))
            changed.push_back(file->path);
    }
    if (!changed.empty()) {
        context.filesLeftUndeleted = true;
        context.box.refuse(messages::changedSinceReadMessage(changed));
        return false;
    }
    return true;
}

} // namespace tolvar::detail
