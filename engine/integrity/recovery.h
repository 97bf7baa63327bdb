#pragma once

// Recovery parts: Reed-Solomon parity written beside a set of broken files, so that any N of
// the set's files (broken files or recovery parts) may be lost or damaged and rebuilt from the
// others. The broken files themselves never change.
//
// The code works on payloads, each zero-padded to the part size; the broken files' headers are
// rebuilt from the set's shape. Data part i belongs to group i % G, and each group is one code
// of its k data blocks and N parity blocks (k + N <= 255, the field's limit). Recovery part j
// holds, after its own header, parity block j of group 0, then of group 1, ..., each part size
// bytes long. Losing one file costs every group at most one block, so N lost files are at most
// N erasures in any group.

#include "failure.h"
#include "file_system.h"
#include "part_header.h"
#include "progress.h"
#include "sha256.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar {

// Recovery parts are named with two digits (r00 to r99), so their names never end in three.
inline constexpr int kMaxRecoveryParts = 100;
// Data plus parity blocks of one code: the field GF(2^8) has no more distinct points.
inline constexpr int kMaxCodeBlocks = 255;
inline constexpr std::size_t kRecoveryHeaderSize = 64;
// Never "SPLITKV": a recovery part is never taken for a broken file.
inline constexpr std::string_view kRecoveryMagic = "TOLVARRC";

// The shape of a set and of its code. Slots number the set's files for the code: slot i < K
// is broken file i, slot K + j is recovery part j.
struct RecoveryLayout {
    int dataCount = 0;     // K, the set's PartCount
    int recoveryCount = 0; // N
    std::int64_t partSize = 0;
    std::int64_t totalLength = 0; // the source's length: every payload together
    std::string nameTail;         // the broken files' NameTail, as stored

    // True when the numbers describe a set a split can write: 1 <= K <= 999, 1 <= N <= 100,
    // a part size of at least 1 and a length whose last part is shorter than a part.
    bool valid() const;
    int groupCount() const;
    int groupOf(int dataIndex) const { return dataIndex % groupCount(); }
    // Number of broken files in the group.
    int groupSize(int group) const;
    std::int64_t payloadOf(int dataIndex) const;
    std::int64_t dataFileSize(int dataIndex) const;
    std::int64_t recoveryFileSize() const;
    int slotCount() const { return dataCount + recoveryCount; }
};

// The recovery parts' own header: the layout and which part this is. Whether a recovery part
// belongs to the set beside it is the checksum file's to say, as for every other file of it.
struct RecoveryHeader {
    RecoveryLayout layout;
    int index = 0; // j
};

using RecoveryHeaderBytes = std::array<char, kRecoveryHeaderSize>;

// The count and name tail of the set the recovery part was written for, as that set's broken
// files carry them in their headers; the index is the recovery part's own.
PartHeader setHeaderOf(const RecoveryHeader& header);

// Encodes the header: magic, version, fields in little-endian order, and a CRC-32 of the rest.
RecoveryHeaderBytes buildRecoveryHeader(const RecoveryHeader& header);

// Decodes a header; nothing when the bytes are too short, do not start with the magic, fail
// their CRC, come from a later format version or describe an invalid layout.
std::optional<RecoveryHeader> parseRecoveryHeader(std::string_view bytes);

// A file opened to read its recovery header, and closed again.
struct RecoveryFile {
    FileFound found = FileFound::Missing;
    // Missing and NotRegular: what opening it for reading reports.
    std::optional<Failure> failure;
    // Regular: the header, when the file starts with a valid one.
    std::optional<RecoveryHeader> header;
};

// Opens path once, as readPartFile does, and reads and judges its first 64 bytes. A failure
// when something at the name cannot be opened or read.
Result<RecoveryFile> readRecoveryFile(FileSystem& fs, const std::string& path);

// Recovery part j's name: the base followed by "r" and j in two digits (movie.r00).
std::string RecoveryFileName(std::string_view base, int index);

// A recovery part found beside a set.
struct FoundRecoveryPart {
    std::string path;
    RecoveryHeader header;
};

// The recovery parts of the set of partCount broken files named after base: the files
// RecoveryFileName(base, j) that exist and carry a valid recovery header for that many parts.
// Files of those names that are something else are left out; one that exists but cannot be
// read is a failure.
Result<std::vector<FoundRecoveryPart>> findRecoveryParts(FileSystem& fs, const std::string& base,
                                                         int partCount);

// Whether the lost slots can be rebuilt: no group may lose more than N of its blocks. Slots
// outside the layout, or named twice, make the answer false.
bool canRebuild(const RecoveryLayout& layout, const std::vector<int>& lostSlots);

// One file to be rebuilt: its slot, the descriptor to write it to (at its current position,
// which must be its start) and the name failures are reported against.
struct RebuildTarget {
    int slot = 0;
    int fd = -1;
    std::string path;
    Sha256* hash = nullptr; // when given, fed every byte written
};

// Writes the whole content (header and payload) of every target's slot, computed from the
// other slots' files. slotPaths holds one path per slot; the files of slots not among the
// targets must be intact (the caller has checked them): they are read a window at a time, so
// memory stays bounded whatever the size of the parts. A survivor shorter than its slot calls
// for is a failure. Requires canRebuild(layout, target slots). The observer hears of the bytes
// read so far and may cancel: the result is then false, with the targets partly written.
Result<bool> rebuildSlots(FileSystem& fs, const RecoveryHeader& set,
                          const std::vector<std::string>& slotPaths,
                          const std::vector<RebuildTarget>& targets,
                          ProgressObserver* observer = nullptr);

// The same into files the caller created, one per recovery part: targets[j] receives recovery
// part j (its slot is set here), and failures name the targets' paths. The parity is encoded
// straight from the broken files, which are read once; any other number of targets or of
// data paths is refused.
Result<bool> writeRecoveryInto(FileSystem& fs, const RecoveryLayout& layout,
                               const std::vector<std::string>& dataPaths,
                               std::vector<RebuildTarget> targets, ProgressObserver* observer,
                               std::vector<Digest>* digests);

} // namespace tolvar
