#include "parallel_hasher.h"

#include <algorithm>

namespace tolvar::detail {

ParallelHasher::ParallelHasher(int workers, std::size_t blockCount)
    : blockLimit(std::max<std::size_t>(blockCount, 1)) {
    for (int i = 0; i < std::max(workers, 1); ++i) {
        Lane& lane = lanes.emplace_back();
        lane.thread = std::thread([this, &lane] { work(lane); });
    }
}

ParallelHasher::~ParallelHasher() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    for (Lane& lane : lanes)
        lane.thread.join();
}

int ParallelHasher::openStream(int lane) {
    std::lock_guard lock(mutex);
    Stream& stream = streams.emplace_back();
    stream.lane = lane % static_cast<int>(lanes.size());
    return static_cast<int>(streams.size()) - 1;
}

std::span<char> ParallelHasher::acquire() {
    std::unique_lock lock(mutex);
    if (freeBlocks.empty() && blocks.size() < blockLimit) {
        // Every byte is written by the caller before it is handed over, so the block is left
        // uninitialised.
        Block& block = blocks.emplace_back();
        block.bytes = std::make_unique_for_overwrite<char[]>(kBlockSize);
        return {block.bytes.get(), kBlockSize};
    }
    changed.wait(lock, [this] { return !freeBlocks.empty(); });
    Block* block = freeBlocks.back();
    freeBlocks.pop_back();
    return {block->bytes.get(), kBlockSize};
}

ParallelHasher::Block& ParallelHasher::blockOf(std::span<char> bytes) {
    const auto found = std::find_if(blocks.begin(), blocks.end(), [&](const Block& block) {
        return block.bytes.get() == bytes.data();
    });
    return *found;
}

void ParallelHasher::submit(std::span<char> bytes, std::span<const Piece> pieces) {
    {
        std::lock_guard lock(mutex);
        Block& block = blockOf(bytes);
        for (const Piece& piece : pieces) {
            if (piece.size == 0)
                continue;
            Stream& stream = streams[static_cast<std::size_t>(piece.stream)];
            ++stream.pending;
            ++block.pending;
            lanes[static_cast<std::size_t>(stream.lane)].tasks.push_back({&block, piece});
        }
        if (block.pending == 0)
            freeBlocks.push_back(&block);
    }
    changed.notify_all();
}

Digest ParallelHasher::finishStream(int id) {
    std::unique_lock lock(mutex);
    Stream& stream = streams[static_cast<std::size_t>(id)];
    changed.wait(lock, [&] { return stream.pending == 0; });
    return stream.hash.finish();
}

void ParallelHasher::work(Lane& lane) {
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return stopping || !lane.tasks.empty(); });
        if (stopping)
            return;
        const Task task = lane.tasks.front();
        lane.tasks.pop_front();
        Stream& stream = streams[static_cast<std::size_t>(task.piece.stream)];
        // Only this lane ever touches the stream's hash and the block's bytes are not
        // written while a piece of it is queued, so the hashing itself runs unlocked.
        lock.unlock();
        stream.hash.update(task.block->bytes.get() + task.piece.offset, task.piece.size);
        lock.lock();
        --stream.pending;
        if (--task.block->pending == 0)
            freeBlocks.push_back(task.block);
        changed.notify_all();
    }
}

} // namespace tolvar::detail
