#pragma once

// The rules a typed size and a typed number of parts follow, and the words that refuse them:
// one definition for the window and tolvar-split, so neither can drift from the other.

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace tolvar {

inline constexpr const char* kInvalidSize = "Invalid size.";
inline constexpr const char* kChooseNumber = "Choose a number between 2 and 50.";

inline constexpr int kFewestParts = 2;
inline constexpr int kMostParts = 50;

// A part's payload is a 32-bit byte count: 2097151 KB is the largest whole number of
// kilobytes that fits.
inline constexpr std::int32_t kLargestPartKilobytes = 2097151;

enum class SizeUnit { Kilobytes, Megabytes };

// A size not above 0 is refused with kInvalidSize. A NaN is not refused here: it is no
// number at all, which each front end reports in its own way.
inline bool sizeIsRefused(double size) {
    return size <= 0;
}

// A number of parts outside 2 to 50 is refused with kChooseNumber; 1.5 is not, since it
// rounds to 2.
inline bool partCountIsRefused(double number) {
    return number <= kFewestParts - 1 || number > kMostParts;
}

// The nearest whole number, a half going to the even neighbour (2.5 gives 2, 3.5 gives 4).
double roundHalfEven(double value);

// A size in kilobytes as whole kilobytes, rounded half to even; nothing when the result does
// not fit 32 signed bits or the size is not a number.
std::optional<std::int32_t> roundToWholeKilobytes(double kilobytes);

// Why a broken file cannot carry size (above 0, in unit) once rounded to whole kilobytes, in
// that unit: "A broken file holds at least 1 KB; 0.4 KB rounds to 0 KB." or "A broken file
// holds at most 2047.999 MB, not 3000 MB."; nothing when it can.
std::optional<std::string> partSizeRefusal(double size, SizeUnit unit);

// What a file of this mode is when it is no ordinary file, for a message: "a folder",
// "a FIFO", "a device", "a socket"; nothing for an ordinary file.
std::optional<std::string> notOrdinaryInWords(mode_t mode);

} // namespace tolvar
