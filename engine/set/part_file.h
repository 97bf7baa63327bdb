#pragma once

// Reading the part header of one file of a set.

#include "failure.h"
#include "file_system.h"
#include "part_header.h"

#include <optional>
#include <string>
#include <sys/stat.h>

namespace tolvar {

// A file opened to read its part header, and closed again.
struct PartFile {
    FileFound found = FileFound::Missing;
    // Missing and NotRegular: what opening it for reading reports, for callers that say so.
    std::optional<Failure> failure;
    struct stat status {}; // Regular: the file's status as it was read
    HeaderReading reading; // Regular
};

// Opens path once, without blocking or reading from a FIFO or device, and reads and judges its
// first 16 bytes. A failure when something at the name cannot be opened or read.
Result<PartFile> readPartFile(FileSystem& fs, const std::string& path);

// The same for a file its caller has open: the header at its start, read through fd.
Result<HeaderReading> readPartHeader(FileSystem& fs, int fd, const std::string& path);

} // namespace tolvar
