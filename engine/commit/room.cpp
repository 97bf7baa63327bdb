#include "room.h"

#include <sys/vfs.h>

namespace tolvar::detail {

std::optional<std::uint64_t> freeRoom(FileSystem& fs, const Folder& folder) {
    struct statfs info {};
    if (fs.fstatfs(folder.fd(), &info) != 0 || info.f_blocks == 0)
        return std::nullopt;
    const auto blockSize =
        static_cast<std::uint64_t>(info.f_frsize > 0 ? info.f_frsize : info.f_bsize);
    return static_cast<std::uint64_t>(info.f_bavail) * blockSize;
}

} // namespace tolvar::detail
