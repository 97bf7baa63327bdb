// The words of a failure report: the kind (its number and first words) and the reason in
// brackets say what happened, also where the system's own words would mislead.

#include "failure.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace tolvar {
namespace {

TEST(FailureWords, SayWhatHappened) {
    struct Row {
        const char* what;
        Failure failure;
        FailureKind kind;
        std::string description;
    };
    const std::string eio = std::strerror(EIO);
    const std::string eacces = std::strerror(EACCES);
    const std::string enoent = std::strerror(ENOENT);
    const Row rows[] = {
        {"a part that is a FIFO",
         notOrdinaryFileFailure(FileAction::Open, "/a/movie.001", "a FIFO"),
         FailureKind::NotOrdinaryFile,
         "Not an ordinary file: cannot open '/a/movie.001' (it is a FIFO)"},
        {"a name another program took at the commit",
         fileFailure(EEXIST, FileAction::Rename, "/a/movie.002"), FailureKind::NameTaken,
         "Name taken: cannot move into place '/a/movie.002' (another program created a file at "
         "that name)"},
        {"a read-only mount is no matter of permission",
         fileFailure(EROFS, FileAction::Delete, "/ro/movie.000"), FailureKind::ReadOnly,
         "Read-only file system: cannot delete '/ro/movie.000' (the file system is mounted "
         "read-only)"},
        {"rights the user lacks", fileFailure(EACCES, FileAction::Create, "/a/movie.avi"),
         FailureKind::PermissionDenied,
         "Permission denied: cannot create '/a/movie.avi' (" + eacces + ")"},
        {"a file that is gone", fileFailure(ENOENT, FileAction::Open, "/a/movie.003"),
         FailureKind::FileNotFound, "File not found: cannot open '/a/movie.003' (" + enoent + ")"},
        {"a folder that is gone", fileFailure(ENOENT, FileAction::Create, "/gone/movie.000"),
         FailureKind::PathNotFound,
         "Path not found: cannot create '/gone/movie.000' (" + enoent + ")"},
        {"anything else keeps the system's words", fileFailure(EIO, FileAction::Read, "/a/x.001"),
         FailureKind::IoError, "Input/output error: cannot read '/a/x.001' (" + eio + ")"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.failure.kind, row.kind);
        EXPECT_EQ(row.failure.description, row.description);
    }
}

} // namespace
} // namespace tolvar
