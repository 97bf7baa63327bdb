#pragma once

// Internal to the engine.

#include "copier.h"
#include "file_handle.h"
#include "parallel_hasher.h"

#include <span>

namespace tolvar::detail {

// A stream that hashes the bytes of a file from offset `from` on.
struct HashTarget {
    int stream;
    off_t from;
};

// Reads bytes [begin, end) of a file just written back through readFd, from the page cache,
// and hands them to the targets. What is hashed is what landed in the file, however the copy
// moved it (in the kernel or through a buffer). The file ending early is a failure: it
// changed while being written.
Result<void> hashWritten(FileSystem& fs, ParallelHasher& hasher, int readFd, off_t begin, off_t end,
                         const std::string& path, std::span<const HashTarget> targets);

// Copier::copyExactly in chunks, hashing each chunk back from the file written while the next
// is copied. outLength is the written file's length so far (advanced). False when the
// observer cancelled. With writeBackEarly, each chunk starts on its way to the disk as soon as
// it is copied, for a caller that flushes the file right after: the disk then writes while
// the chunks are hashed.
Step copyHashed(FileSystem& fs, Copier& copier, ParallelHasher& hasher, int in, off_t& inOffset,
                int out, int outReadFd, off_t& outLength, std::uint64_t count,
                const std::string& inPath, const std::string& outPath,
                std::span<const HashTarget> targets, bool writeBackEarly = false);

} // namespace tolvar::detail
