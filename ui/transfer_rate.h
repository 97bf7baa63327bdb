#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <optional>

namespace tolvar {

// The copying speed of a running operation, from the byte counts it reports over time.
// The figure is taken over the last few seconds, so it follows a disk that slows down, and is
// only given once the copy has run long enough for it to mean something: the first moments
// of a copy (caches filling, a disk spinning up) say little about the rest.
class TransferRate {
public:
    // Records that bytesDone bytes were copied elapsedMs after the copy began. Times must not
    // go backwards.
    void add(std::int64_t elapsedMs, std::uint64_t bytesDone);

    // Bytes per second; nothing before the figure has settled or while nothing moves.
    std::optional<double> bytesPerSecond() const;

    // Seconds until bytesTotal is reached at that rate; nothing when there is no rate.
    std::optional<double> secondsLeft(std::uint64_t bytesTotal) const;

private:
    struct Sample {
        std::int64_t ms;
        std::uint64_t bytes;
    };
    std::deque<Sample> samples;
};

// 1024-based sizes with the unit names of the size box: "512 bytes", "10.0 KB", "700 MB",
// "1.77 GB"; three significant digits from KB on.
QString formatByteCount(std::uint64_t bytes);

// A time left, rounded to what a reader needs: "5 seconds", "45 seconds", "3 minutes",
// "1 hour 5 minutes".
QString formatTimeLeft(double seconds);

} // namespace tolvar
