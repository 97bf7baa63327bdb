#include "hashed_copy.h"

#include "translation.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tolvar::detail {

namespace {

// Small enough that a chunk is still in the page cache when it is read back, large enough
// that the extra calls cost nothing.
constexpr std::uint64_t kHashedChunk = std::uint64_t{8} << 20;

// Reads what was written back through readFd. Some FUSE drivers (fusefat) show a descriptor
// opened before the bytes were written none of them, an error or fewer: then the file is
// opened afresh and that descriptor takes readFd's place for every later read.
Result<std::size_t> readBack(FileSystem& fs, int readFd, char* buffer, std::size_t want, off_t at,
                             const std::string& path) {
    auto got = readFully(fs, readFd, buffer, want, at, path);
    if (got && got.value() == want)
        return got;
    const int fresh = fs.open("/proc/self/fd/" + std::to_string(readFd), O_RDONLY | O_CLOEXEC);
    if (fresh < 0)
        return got;
    FileHandle handle(fs, fresh);
    auto again = readFully(fs, fresh, buffer, want, at, path);
    if (again && again.value() == want && ::dup2(fresh, readFd) < 0)
        return fileFailure(errno, FileAction::Read, path);
    return again;
}

} // namespace

Result<void> hashWritten(FileSystem& fs, ParallelHasher& hasher, int readFd, off_t begin, off_t end,
                         const std::string& path, std::span<const HashTarget> targets) {
    std::vector<ParallelHasher::Piece> pieces;
    while (begin < end) {
        const std::span<char> block = hasher.acquire();
        const auto want = static_cast<std::size_t>(
            std::min<off_t>(end - begin, static_cast<off_t>(block.size())));
        auto got = readBack(fs, readFd, block.data(), want, begin, path);
        if (!got || got.value() < want) {
            hasher.submit(block, {});
            if (!got)
                return got.failure();
            return makeFailure(FailureKind::IoError,
                               "'" + path + _("' became shorter while it was being written"));
        }
        pieces.clear();
        for (const HashTarget& target : targets) {
            const off_t skip = std::clamp<off_t>(target.from - begin, 0, static_cast<off_t>(want));
            pieces.push_back({target.stream, static_cast<std::size_t>(skip),
                              want - static_cast<std::size_t>(skip)});
        }
        hasher.submit(block, pieces);
        begin += static_cast<off_t>(want);
    }
    return {};
}

Step copyHashed(FileSystem& fs, Copier& copier, ParallelHasher& hasher, int in, off_t& inOffset,
                int out, int outReadFd, off_t& outLength, std::uint64_t count,
                const std::string& inPath, const std::string& outPath,
                std::span<const HashTarget> targets, bool writeBackEarly) {
    while (count > 0) {
        const std::uint64_t chunk = endingOnRun(outLength, std::min(count, kHashedChunk), count);
        auto copied = copier.copyExactly(in, inOffset, out, outLength, chunk, inPath, outPath);
        if (!copied || !copied.value())
            return copied;
        const off_t end = outLength + static_cast<off_t>(chunk);
        if (writeBackEarly)
            fs.startWriteBack(out, outLength, static_cast<off_t>(chunk));
        if (auto hashed = hashWritten(fs, hasher, outReadFd, outLength, end, outPath, targets);
            !hashed)
            return hashed.failure();
        outLength = end;
        count -= chunk;
    }
    return true;
}

} // namespace tolvar::detail
