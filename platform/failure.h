#pragma once

#include "display_text.h"
#include "message_box.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tolvar {

// One number and one description per kind of unexpected failure. The numbers follow the
// classic runtime error numbers users may already know from similar tools.
enum class FailureKind : int {
    InvalidArgument = 5,
    Overflow = 6,
    DivisionByZero = 11,
    InvalidNumber = 13,
    FileNotFound = 53,
    NotOrdinaryFile = 54,
    IoError = 57,
    NameTaken = 58,
    NoSpace = 61,
    PermissionDenied = 70,
    ReadOnly = 75,
    PathNotFound = 76,
};

// What a file call is doing when it fails; decides how ENOENT reads (a missing file when
// reading, a missing folder when creating).
enum class FileAction { Open, Create, Read, Write, Sync, Close, Rename, Delete, Search, Lock };

struct Failure {
    FailureKind kind = FailureKind::IoError;
    std::string description;
    // For a failed file call (fileFailure): the system's error number, what was being done and
    // the file, by the name the user knows; description is composed from them. err is 0 for
    // failures of any other kind, which carry their words in description alone.
    int err = 0;
    FileAction action = FileAction::Open;
    std::string path;

    int number() const { return static_cast<int>(kind); }
};

// The kind's own short text, e.g. "Disk full" for NoSpace.
std::string_view failureKindText(FailureKind kind);

// A failure whose description is the kind's text followed by detail: "Overflow: <detail>".
Failure makeFailure(FailureKind kind, std::string_view detail);

// Maps errno to a kind and names the file and the reason, the system's own unless its words
// would mislead: "Disk full: cannot write '/tmp/a.001' (No space left on device)", "Name taken:
// cannot move into place '/a/movie.002' (another program created a file at that name)".
Failure fileFailure(int err, FileAction action, std::string_view path);
// A name that holds no ordinary file where one is needed; what is the file's kind in words:
// "Not an ordinary file: cannot open '/a/movie.001' (it is a FIFO)".
Failure notOrdinaryFileFailure(FileAction action, std::string_view path, std::string_view what);
// The same failure of a file call, about path instead: the file as the user knows it, where
// the call was made on a temporary name the user never sees. Any other failure is unchanged.
Failure aboutFile(Failure failure, std::string_view path);

// The fixed form of a failure report: the description escaped as a whole (it names files
// and holds no other text that needs escaping), critical style, and the title
// "Tolvar Files Splitter - <number>". Descriptions themselves hold names as they are.
void showFailureReport(MessageBox& box, const Failure& failure);
std::string failureTitle(const Failure& failure);

// Success with a value, or a failure; used instead of exceptions across the engine's API.
template <class T> class Result {
public:
    Result(T value) : state(std::move(value)) {}
    Result(Failure failure) : state(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(state); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(state); }
    T& value() { return std::get<T>(state); }
    const Failure& failure() const { return std::get<Failure>(state); }

private:
    std::variant<T, Failure> state;
};

// Success with nothing to give back, or a failure.
template <> class Result<void> {
public:
    Result() = default;
    Result(Failure failure) : state(std::move(failure)) {}

    bool ok() const { return !state.has_value(); }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const { return *state; }

private:
    std::optional<Failure> state;
};

} // namespace tolvar
