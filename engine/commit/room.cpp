#include "room.h"

#include <sys/stat.h>
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

RoomCheck checkRoom(FileSystem& fs, const Folder& folder, const std::vector<std::uint64_t>& sizes,
                    const std::vector<std::string>& replacedNames) {
    RoomCheck check;
    check.free = freeRoom(fs, folder);
    if (!check.free)
        return check;
    struct statfs info {};
    std::uint64_t block = 4096;
    if (fs.fstatfs(folder.fd(), &info) == 0 && info.f_bsize > 0)
        block = static_cast<std::uint64_t>(info.f_bsize);
    for (const std::uint64_t size : sizes)
        check.need += (size + block - 1) / block * block;
    for (const std::string& name : replacedNames) {
        struct stat st {};
        if (fs.lstatAt(folder.fd(), name, &st) == 0 && S_ISREG(st.st_mode))
            check.replaced += static_cast<std::uint64_t>(st.st_blocks) * 512;
    }
    return check;
}

} // namespace tolvar::detail
