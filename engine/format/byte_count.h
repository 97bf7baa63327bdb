#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tolvar {

// How many decimals a scaled count shows: the command line's progress line gives one in KiB
// and MiB and two from GiB on; the window gives about three digits whatever the unit.
enum class ByteDecimals { ByUnit, BySize };

// A byte count in the largest unit of 1024 it fills, up to the fourth: power 0 is the count
// itself (no decimals), 1 is kibibytes, 2 mebibytes, 3 gibibytes and 4 tebibytes.
struct ScaledBytes {
    double value = 0;
    int power = 0;
    int decimals = 0;
};

inline ScaledBytes scaledBytes(std::uint64_t bytes, ByteDecimals decimals) {
    ScaledBytes scaled{static_cast<double>(bytes), 0, 0};
    if (bytes < 1024)
        return scaled;
    scaled.value /= 1024.0;
    scaled.power = 1;
    while (scaled.value >= 1024.0 && scaled.power < 4) {
        scaled.value /= 1024.0;
        ++scaled.power;
    }
    if (decimals == ByteDecimals::ByUnit)
        scaled.decimals = scaled.power >= 3 ? 2 : 1;
    else
        scaled.decimals = scaled.value < 10.0 ? 2 : scaled.value < 100.0 ? 1 : 0;
    return scaled;
}

// The exact count in words: "1 byte", "120 bytes".
inline std::string bytesInWords(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// The command line's short form: "512 B", "10.0 KiB", "1.5 MiB", "2.00 GiB".
inline std::string bytesInUnits(std::uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    const ScaledBytes scaled = scaledBytes(bytes, ByteDecimals::ByUnit);
    char text[32];
    std::snprintf(text, sizeof text, "%.*f %s", scaled.decimals, scaled.value,
                  units[scaled.power - 1]);
    return text;
}

} // namespace tolvar
