#include "part_file.h"

#include "file_handle.h"

namespace tolvar {

Result<PartFile> readPartFile(FileSystem& fs, const std::string& path) {
    HeaderBytes bytes{};
    auto start = detail::readFileStart(fs, path, bytes.data(), bytes.size());
    if (!start)
        return start.failure();
    PartFile file;
    file.failure = std::move(start.value().failure);
    file.found = start.value().found;
    if (file.found != FileFound::Regular)
        return file;
    file.status = start.value().status;
    file.reading = readHeader(std::string_view(bytes.data(), start.value().length));
    return file;
}

Result<HeaderReading> readPartHeader(FileSystem& fs, int fd, const std::string& path) {
    HeaderBytes bytes{};
    auto got = detail::readFully(fs, fd, bytes.data(), bytes.size(), 0, path);
    if (!got)
        return got.failure();
    return readHeader(std::string_view(bytes.data(), got.value()));
}

} // namespace tolvar
