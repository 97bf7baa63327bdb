#pragma once

// What a run will write in a folder against the room the folder has, as figures: a run refuses
// by them before its first byte, the window shows them beside the part count, and a run that
// frees room as it goes (in place) can tell whether that would be enough.

#include "byte_count.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace tolvar {

struct RoomCheck {
    // The bytes the run's files take in the folder, each rounded up to the file system's block.
    std::uint64_t need = 0;
    // The bytes of the files at the names the run writes, which it replaces. They go only once
    // every new file is complete (whoever looks sees the old set or the new one), so they free
    // nothing while the run writes.
    std::uint64_t replaced = 0;
    // What an ordinary user may still write there; nothing where the folder does not say.
    std::optional<std::uint64_t> free;

    // The run's files fit beside everything there now. Unknown room: assumed to.
    bool fits() const { return !free || need <= *free; }
    // They would fit if the replaced files went first.
    bool fitsOnceReplacedGo() const { return !free || need <= *free + replaced; }
};

// A byte count for a sentence, in units of 1024 with one decimal: "150.0 MB", "12.1 GB";
// below a kilobyte, "512 bytes".
inline std::string roomInWords(std::uint64_t bytes) {
    if (bytes < 1024)
        return bytesInWords(bytes);
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    // Rounded as shown: 1023.96 KB reads "1.0 MB", not "1024.0 KB".
    while (value >= 1023.95 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

} // namespace tolvar
