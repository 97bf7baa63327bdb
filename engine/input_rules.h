#pragma once

// The rules a typed size and a typed number of parts follow, and the words that refuse them:
// one definition for the window and tolvar-split, so neither can drift from the other.

#include <cstdint>
#include <optional>

namespace tolvar {

inline constexpr const char* kInvalidSize = "Invalid size.";
inline constexpr const char* kChooseNumber = "Choose a number between 2 and 50.";

inline constexpr int kFewestParts = 2;
inline constexpr int kMostParts = 50;

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

} // namespace tolvar
