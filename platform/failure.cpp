#include "failure.h"

#include "translation.h"

#include <cerrno>
#include <cstring>

namespace tolvar {

std::string_view failureKindText(FailureKind kind) {
    switch (kind) {
    case FailureKind::InvalidArgument:
        return _("Invalid argument");
    case FailureKind::Overflow:
        return _("Overflow");
    case FailureKind::DivisionByZero:
        return _("Division by zero");
    case FailureKind::InvalidNumber:
        return _("Invalid number");
    case FailureKind::FileNotFound:
        return _("File not found");
    case FailureKind::NotOrdinaryFile:
        return _("Not an ordinary file");
    case FailureKind::IoError:
        return _("Input/output error");
    case FailureKind::NameTaken:
        return _("Name taken");
    case FailureKind::NoSpace:
        return _("Disk full");
    case FailureKind::PermissionDenied:
        return _("Permission denied");
    case FailureKind::ReadOnly:
        return _("Read-only file system");
    case FailureKind::PathNotFound:
        return _("Path not found");
    }
    return _("Unknown failure");
}

Failure makeFailure(FailureKind kind, std::string_view detail) {
    std::string text(failureKindText(kind));
    if (!detail.empty()) {
        text += ": ";
        text += detail;
    }
    Failure failure;
    failure.kind = kind;
    failure.description = std::move(text);
    return failure;
}

namespace {

// What a failed call's error number says: the kind, and the reason shown in brackets where
// the system's own words would mislead (nullptr: strerror's).
struct ErrorWords {
    FailureKind kind;
    const char* reason;
};

ErrorWords wordsFor(int err, FileAction action) {
    switch (err) {
    case ENOENT:
        // These act on a file that should exist, so ENOENT means the file is gone; creating,
        // writing or moving fails on ENOENT only when a folder on the way is missing.
        return {action == FileAction::Open || action == FileAction::Delete ||
                        action == FileAction::Search || action == FileAction::Sync
                    ? FailureKind::FileNotFound
                    : FailureKind::PathNotFound,
                nullptr};
    case ENOTDIR:
        return {FailureKind::PathNotFound, nullptr};
    case EACCES:
    case EPERM:
        return {FailureKind::PermissionDenied, nullptr};
    // Not the user's rights: no permission would let anyone write there.
    case EROFS:
        return {FailureKind::ReadOnly, N_("the file system is mounted read-only")};
    // Every name this program creates or moves onto was free when it looked, so whoever holds
    // it now came in between; the file there is theirs and is kept.
    case EEXIST:
        return {FailureKind::NameTaken, N_("another program created a file at that name")};
    case ENOSPC:
    case EDQUOT:
        return {FailureKind::NoSpace, nullptr};
    default:
        return {FailureKind::IoError, nullptr};
    }
}

std::string_view verb(FileAction action) {
    switch (action) {
    case FileAction::Open:
        return _("cannot open");
    case FileAction::Create:
        return _("cannot create");
    case FileAction::Read:
        return _("cannot read");
    case FileAction::Write:
        return _("cannot write");
    case FileAction::Sync:
        return _("cannot flush to disk");
    case FileAction::Close:
        return _("cannot finish writing");
    case FileAction::Rename:
        return _("cannot move into place");
    case FileAction::Delete:
        return _("cannot delete");
    case FileAction::Search:
        return _("cannot search");
    case FileAction::Lock:
        return _("cannot lock");
    }
    return _("cannot use");
}

} // namespace

namespace {

Failure actionFailure(FailureKind kind, FileAction action, std::string_view path,
                      std::string_view reason) {
    std::string detail(verb(action));
    detail += " '";
    detail += path;
    detail += "' (";
    detail += reason;
    detail += ")";
    Failure failure = makeFailure(kind, detail);
    failure.action = action;
    failure.path = std::string(path);
    return failure;
}

} // namespace

Failure fileFailure(int err, FileAction action, std::string_view path) {
    const ErrorWords words = wordsFor(err, action);
    Failure failure = actionFailure(words.kind, action, path,
                                    words.reason != nullptr ? _(words.reason) : std::strerror(err));
    failure.err = err;
    return failure;
}

Failure notOrdinaryFileFailure(FileAction action, std::string_view path, std::string_view what) {
    return actionFailure(FailureKind::NotOrdinaryFile, action, path,
                         _("it is ") + std::string(what));
}

Failure aboutFile(Failure failure, std::string_view path) {
    if (failure.err == 0)
        return failure;
    return fileFailure(failure.err, failure.action, path);
}

std::string failureTitle(const Failure& failure) {
    return std::string(kProductTitle) + " - " + std::to_string(failure.number());
}

void showFailureReport(MessageBox& box, const Failure& failure) {
    // The description names files, and any file may have been named by a stranger.
    box.present({escapedForDisplay(failure.description), MsgStyle::Critical, failureTitle(failure),
                 QuestionKind::None, failure.number()});
}

} // namespace tolvar
