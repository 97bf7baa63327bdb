#pragma once

#include <cstdint>
#include <string>

namespace tolvar {

// What a long split or assembly reports while it copies.
struct Progress {
    std::uint64_t bytesDone = 0;  // payload bytes copied so far
    std::uint64_t bytesTotal = 0; // payload bytes the operation will copy in all
    int partIndex = 0;            // the part being written (split) or read (assembly)
    int partCount = 0;            // the broken files of the set, recovery files not counted
    std::string partPath;
    // The files are being checked against their checksums, not copied.
    bool checking = false;
    // partPath is a recovery file, partIndex its place among them.
    bool recoveryFile = false;
    // An in-place join: partPath is being moved into the rebuilt file and deleted after, and
    // the files after it are still to move.
    bool movingInPlace = false;
};

// Passed by a caller that wants to show progress or offer a Cancel button. The engine calls
// it on the copying thread, before the first byte is copied and after each copied chunk
// (at most a few MiB apart). Returning false asks the operation to stop: it cleans up what it
// created in this run and returns false without any further message.
class ProgressObserver {
public:
    virtual ~ProgressObserver() = default;
    virtual bool onProgress(const Progress& progress) = 0;
    // A passing state the user should see without having to answer it, e.g. "waiting for
    // another run in '/a'". Shown until the next progress; nothing by default.
    virtual void onNotice(const std::string& text) { (void)text; }
};

} // namespace tolvar
