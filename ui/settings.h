#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <cstdint>
#include <optional>

namespace tolvar {

// Where the window's settings are kept: INI settings of the application
// "Tolvar Files Splitter", section "Settings": keys "Top" and "Left", in twips, and
// "Checksums", whether the split panels write a checksum file ("true" or "false"), and
// "JoinScript", whether they add a join script ("true" or "false"), and "SizeFor", where the
// split-by-size panel's parts go (a destination's name, "max" or "custom").
inline constexpr const char* kSettingsApplication = "Tolvar Files Splitter";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kSettingsTop = "Top";
inline constexpr const char* kSettingsLeft = "Left";
inline constexpr const char* kSettingsChecksums = "Checksums";
inline constexpr const char* kSettingsJoinScript = "JoinScript";
inline constexpr const char* kSettingsSizeFor = "SizeFor";

// The decimal text of a coordinate in twips as a single-precision number: a whole number
// without a decimal point ("-1240"), otherwise the shortest text that reads back the same.
QString formatTwips(float twips);

// Reads a stored coordinate; nothing when the text is not a finite number.
std::optional<float> parseTwips(const QString& text);

// (screen div 2) - (window div 2), each rounded to whole twips first (half to even) and
// divided with truncation toward zero; centres a window of that extent on the screen.
std::int64_t centredTwips(double screenTwips, double windowTwips);

struct StoredSettings {
    float top;
    float left;
    bool writeChecksums = true;
    bool writeJoinScript = false;
    QString sizeFor = QStringLiteral("custom");
};

// Reads the stored Top, Left and Checksums, falling back to the given defaults for a missing
// coordinate or one that is not a number, and to true for a missing or unreadable Checksums
// (false for JoinScript).
StoredSettings loadSettings(float defaultTop, float defaultLeft);

// Writes Top, then Left, then Checksums.
void saveSettings(const StoredSettings& settings);

// Where a window whose frame is `frame` goes so that all of it lies inside `available` (the
// screen less its panels); a frame larger than the screen keeps its top left corner on it.
QPoint clampedIntoScreen(const QRect& frame, const QRect& available);

} // namespace tolvar
