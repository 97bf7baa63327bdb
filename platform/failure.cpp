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
    case FailureKind::NotOrdinaryFile:
        return "Not an ordinary file";
    case FailureKind::IoError:
        return "Input/output error";
    case FailureKind::NameTaken:
        return "Name taken";
    case FailureKind::NoSpace:
        return "Disk full";
    case FailureKind::PermissionDenied:
        return "Permission denied";
    case FailureKind::ReadOnly:
        return "Read-only file system";
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
        return {FailureKind::ReadOnly, "the file system is mounted read-only"};
    // Every name this program creates or moves onto was free when it looked, so whoever holds
    // it now came in between; the file there is theirs and is kept.
    case EEXIST:
        return {FailureKind::NameTaken, "another program created a file at that name"};
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
                                    words.reason != nullptr ? words.reason : std::strerror(err));
    failure.err = err;
    return failure;
}

Failure notOrdinaryFileFailure(FileAction action, std::string_view path, std::string_view what) {
    return actionFailure(FailureKind::NotOrdinaryFile, action, path, "it is " + std::string(what));
}

Failure aboutFile(Failure failure, std::string_view path) {
    if (failure.err == 0)
        return failure;
    return fileFailure(failure.err, failure.action, path);
}

namespace {

// The length of the well-formed, printable UTF-8 sequence at bytes[at], 0 when there is none.
// C1 controls (U+0080 to U+009F) count as unprintable: terminals act on them.
std::size_t printableSequence(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned lead = byte(at);
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2)
            low = 0xA0;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string escapedForDisplay(std::string_view bytes) {
    static constexpr char kDigits[] = "01234567";
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '\\')
                text += '\\';
            text += static_cast<char>(byte);
            ++i;
            continue;
        }
        if (const std::size_t length = byte >= 0x80 ? printableSequence(bytes, i) : 0; length > 0) {
            text.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        switch (byte) {
        case '\a':
            text += "\\a";
            break;
        case '\b':
            text += "\\b";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\v':
            text += "\\v";
            break;
        case '\f':
            text += "\\f";
            break;
        case '\r':
            text += "\\r";
            break;
        default:
            text += '\\';
            text += kDigits[(byte >> 6) & 7];
            text += kDigits[(byte >> 3) & 7];
            text += kDigits[byte & 7];
            break;
        }
        ++i;
    }
    return text;
}

std::string failureTitle(const Failure& failure) {
    return std::string(kProductTitle) + " - " + std::to_string(failure.number());
}

void showFailureReport(MessageBox& box, const Failure& failure) {
    // The description names files, and any file may have been named by a stranger.
    box.show(escapedForDisplay(failure.description), MsgStyle::Critical, failureTitle(failure));
}

} // namespace tolvar
