#pragma once

// Internal to the engine.

#include "sha256.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace tolvar::detail {

// Hashes streams of bytes on worker threads while the calling thread goes on reading or
// copying. The caller fills blocks from a fixed pool (so memory stays flat whatever the file
// size) and hands each to the streams that need its bytes; each stream is hashed on one
// worker, in the order its pieces were handed over. The workers touch no file: every file
// call stays on the caller's thread, in the file layer the operation was given.
class ParallelHasher {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

    // Starts `workers` threads (at least one) with a pool of at most `blocks` blocks, each
    // allocated the first time the pool has no free one: a small file costs one block, not
    // the whole pool.
    explicit ParallelHasher(int workers = 2, std::size_t blocks = 16);
    // Stops the workers; what is still queued is dropped.
    ~ParallelHasher();
    ParallelHasher(const ParallelHasher&) = delete;
    ParallelHasher& operator=(const ParallelHasher&) = delete;

    // A new stream, hashed on worker `lane` modulo the number of workers. Returns its id.
    int openStream(int lane);

    // A free block of kBlockSize bytes; waits until the workers have released one.
    std::span<char> acquire();

    // Hands bytes [offset, offset + size) of a block from acquire() to a stream.
    struct Piece {
        int stream;
        std::size_t offset;
        std::size_t size;
    };
    // Queues the pieces; the block returns to the pool once every piece is hashed. A block
    // with no pieces returns at once.
    void submit(std::span<char> block, std::span<const Piece> pieces);

    // Waits until every piece of the stream is hashed and gives its digest. Call once.
    Digest finishStream(int stream);

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        int pending = 0;
    };
    struct Stream {
        Sha256 hash;
        int lane = 0;
        int pending = 0;
    };
    struct Task {
        Block* block;
        Piece piece;
    };
    struct Lane {
        std::deque<Task> tasks;
        std::thread thread;
    };

    void work(Lane& lane);
    Block& blockOf(std::span<char> bytes);

    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::deque<Block> blocks; // a deque keeps addresses stable as blocks are added
    std::size_t blockLimit;
    std::vector<Block*> freeBlocks;
    std::deque<Stream> streams; // a deque keeps addresses stable as streams are added
    std::deque<Lane> lanes;
};

} // namespace tolvar::detail
