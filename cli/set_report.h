#pragma once

#include "failure.h"
#include "file_system.h"
#include "part_header.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::cli {

// What lies at one index of a set.
struct SlotReport {
    enum class State {
        Present,    // a part carrying this index, of this set
        Missing,    // no file of this name
        WrongIndex, // a part, but its header gives another index
        OtherSet,   // a part with this index whose count or name tail differ from the set's
        NotAPart,   // a file that does not start with a full part header, or no ordinary file
        Unreadable, // a file that cannot be examined; detail gives the system's reason
    };

    int index = 0;
    std::string path;
    State state = State::Missing;
    std::uint64_t payloadBytes = 0; // Present and OtherSet only
    PartHeader header;              // WrongIndex and OtherSet only
    std::string detail;             // Unreadable and NotAPart only
};

// A set as seen from one of its parts, which is not changed.
struct SetReport {
    std::string partPath; // the part that was examined
    PartHeader header;    // its header, which gives the set's count and name tail
    std::string base;     // partPath without its last three bytes
    std::string restoresTo;
    std::vector<SlotReport> slots; // one per index from 0 to PartCount - 1

    // True when every slot is Present.
    bool complete() const;
};

// Reads the header of partPath and examines every sibling named base + "000" ... up to the
// header's PartCount - 1, with the file layer fs. Empty optional when partPath is an ordinary
// file that is not a part (shorter than a header, or without the magic tag). A failure when
// partPath itself cannot be opened or read, or is not an ordinary file.
Result<std::optional<SetReport>> examineSet(const std::string& partPath, FileSystem& fs);

// The report as printed by "info": a few lines naming the part, its index and the count, the
// file the set restores to, then one line per index and a closing verdict.
std::string formatSetReport(const SetReport& report);

} // namespace tolvar::cli
