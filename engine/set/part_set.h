#pragma once

// The one reader of a set of broken files. Joining, the command line's listing and its
// explanations all judge a set through this model, so they can never disagree about it.

#include "failure.h"
#include "file_system.h"
#include "part_header.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace tolvar {

// What lies at one index of a set, judged in this order.
enum class PartState {
    Present,    // a part of this set, of the size its place calls for
    Missing,    // no file of this name
    Unreadable, // cannot be opened or read, or is a folder, device or FIFO; see failure
    NotAPart,   // an ordinary file shorter than a header or without the magic tag; see reason
    WrongIndex, // a part whose header gives another index
    OtherSet,   // a part with this index whose count or name tail differ from the chosen part's
    WrongSize,  // a part of this set whose payload does not fit its place; see reason
};

struct PartEntry {
    int index = 0;
    std::string path;
    PartState state = PartState::Missing;
    // The header, for every state from WrongIndex on and for Present.
    PartHeader header;
    // The file's size and its bytes after the header (0 for a file with no part header);
    // known for every state but Missing and Unreadable.
    std::uint64_t fileSize = 0;
    std::uint64_t payloadSize = 0;
    // The file's status as it was read (device, inode, mode, size, times); all zero for
    // Missing and Unreadable.
    struct stat status {};
    // Missing and Unreadable: the failure that opening or reading gave.
    std::optional<Failure> failure;
    // NotAPart and WrongSize: what is wrong, in words ("no part header"); Unreadable: "not an
    // ordinary file" for a folder, device or FIFO.
    std::string reason;
};

// A set as seen from the part the user chose, which is not changed. The count and name tail
// come from the chosen part; every other index is judged against them.
struct PartSet {
    std::string chosenPath;
    PartEntry chosen; // the chosen file itself, index as its header gives it
    std::string base; // chosenPath without its last three bytes
    int count = 0;    // the chosen part's PartCount, 0 when negative
    std::string tail; // the chosen part's NameTail, as stored
    // The payload of part 000 when it is a part of this set; the size every part but the last
    // must have. 0 when part 000 is not usable.
    std::uint64_t partSize = 0;
    std::vector<PartEntry> parts; // one per index, 0 to count - 1

    // A split never writes fewer than two parts.
    bool countIsValid() const { return count >= 2; }
    // True when the count is valid and every index is Present.
    bool whole() const;
    // The first index that is not Present; nullptr when there is none.
    const PartEntry* firstProblem() const;
    // What stops the set from being whole, in words naming the file, with names escaped for a
    // terminal: an invalid count, else the first problem. Empty when whole.
    std::string problemInWords() const;
    // What is wrong with one of the parts, in the same words; empty when it is Present.
    std::string problemInWords(const PartEntry& entry) const;
    // The rebuilt file's name: prefix (base when empty) followed by the tail.
    std::string outputName(const std::string& prefix) const;
    // The payload bytes of all Present parts.
    std::uint64_t presentPayload() const;
};

// Reads the chosen file and every sibling base + "000" ... up to its PartCount - 1, opening
// each once (the chosen file is not opened again for its own index), through fs. Reads only
// headers and sizes; never creates or changes a file, never blocks on a FIFO.
// Empty optional when the chosen file is an ordinary file but not a part (shorter than a
// header, or no magic tag). A failure when the chosen file cannot be opened or read, is not an
// ordinary file, or its path is too short to name siblings (fewer than three bytes).
Result<std::optional<PartSet>> readPartSet(FileSystem& fs, const std::string& chosenPath);

// Examines one file as index `index` of a set with this count, tail and part size (0: sizes
// not judged), as readPartSet does for each sibling. Used again just before copying a part.
PartEntry examinePart(FileSystem& fs, const std::string& path, int index, int count,
                      const std::string& tail, std::uint64_t partSize);

// Judges an ordinary file already opened by its caller, from its status and first bytes (at
// least a header's worth when the file holds them), as examinePart does; never Missing or
// Unreadable.
PartEntry judgePart(const std::string& path, int index, int count, const std::string& tail,
                    std::uint64_t partSize, const struct stat& status, std::string_view head);

} // namespace tolvar
