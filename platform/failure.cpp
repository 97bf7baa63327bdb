#include "failure.h"

#include <cerrno>
#include <cstring>

namespace tolvar {

std::string_view failureKindText(FailureKind kind) {
    switch (kind) {
    case FailureKind::InvalidArgument:
        return "Invalid argument";
    case FailureKind::Overflow:
        return "Overflow";
    case FailureKind::DivisionByZero:
        return "Division by zero";
    case FailureKind::InvalidNumber:
        return "Invalid number";
    case FailureKind::FileNotFound:
        return "File not found";
    case FailureKind::IoError:
        return "Input/output error";
    case FailureKind::NoSpace:
        return "Disk full";
    case FailureKind::PermissionDenied:
        return "Permission denied";
    case FailureKind::PathNotFound:
        return "Path not found";
    }
    return "Unknown failure";
}

Failure makeFailure(FailureKind kind, std::string_view detail) {
    std::string text(failureKindText(kind));
    if (!detail.empty()) {
        text += ": ";
        text += detail;
    }
    return Failure{kind, std::move(text)};
}

namespace {

FailureKind kindForErrno(int err, FileAction action) {
    switch (err) {
    case ENOENT:
        // These act on a file that should exist, so ENOENT means the file is gone; creating,
        // writing or moving fails on ENOENT only when a folder on the way is missing.
        return action == FileAction::Open || action == FileAction::Delete ||
                       action == FileAction::Search || action == FileAction::Sync
                   ? FailureKind::FileNotFound
                   : FailureKind::PathNotFound;
    case ENOTDIR:
        return FailureKind::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return FailureKind::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
        return FailureKind::NoSpace;
    default:
        return FailureKind::IoError;
    }
}

std::string_view verb(FileAction action) {
    switch (action) {
    case FileAction::Open:
        return "cannot open";
    case FileAction::Create:
        return "cannot create";
    case FileAction::Read:
        return "cannot read";
    case FileAction::Write:
        return "cannot write";
    case FileAction::Sync:
        return "cannot flush to disk";
    case FileAction::Close:
        return "cannot finish writing";
    case FileAction::Rename:
        return "cannot move into place";
    case FileAction::Delete:
        return "cannot delete";
    case FileAction::Search:
        return "cannot search";
    case FileAction::Lock:
        return "cannot lock";
    }
    return "cannot use";
}

} // namespace

Failure fileFailure(int err, FileAction action, std::string_view path) {
    std::string detail(verb(action));
    detail += " '";
    detail += path;
    detail += "' (";
    detail += std::strerror(err);
    detail += ")";
    return makeFailure(kindForErrno(err, action), detail);
}

std::string failureTitle(const Failure& failure) {
    return std::string(kProductTitle) + " - " + std::to_string(failure.number());
}

void showFailureReport(MessageBox& box, const Failure& failure) {
    box.show(failure.description, MsgStyle::Critical, failureTitle(failure));
}

} // namespace tolvar
