#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace tolvar {

// Where the window's position is kept: INI settings of the application
// "Tolvar Files Splitter", section "Settings", keys "Top" and "Left", in twips.
inline constexpr const char* kSettingsApplication = "Tolvar Files Splitter";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kSettingsTop = "Top";
inline constexpr const char* kSettingsLeft = "Left";

// The decimal text of a coordinate in twips as a single-precision number: a whole number
// without a decimal point ("-1240"), otherwise the shortest text that reads back the same.
QString formatTwips(float twips);

// Reads a stored coordinate; nothing when the text is not a finite number.
std::optional<float> parseTwips(const QString& text);

// (screen div 2) - (window div 2), each rounded to whole twips first (half to even) and
// divided with truncation toward zero; centres a window of that extent on the screen.
std::int64_t centredTwips(double screenTwips, double windowTwips);

// Reads the stored Top and Left, falling back to the given defaults for a missing value or
// one that is not a number.
struct StoredPosition {
    float top;
    float left;
};
StoredPosition loadPosition(float defaultTop, float defaultLeft);

// Writes Top and then Left.
void savePosition(float top, float left);

} // namespace tolvar
