#pragma once

#include "failure.h"
#include "input_rules.h"

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>

namespace tolvar {

// Reads the text of the size box as a number. Accepts "." as the decimal point and also the
// decimal separator of locale, an optional sign and exponent, and blanks around the number;
// no group separators. Returns nothing for any other text, the empty text included.
// A text that reads as two different numbers, one with "." as the decimal point and one in
// locale ("1.500" is 1.5, or 1500 in German, where "." groups thousands), is no size either:
// ambiguousSizeMessage says so in the window's words.
std::optional<double> parseSizeText(const QString& text, const QLocale& locale);

// For a text whose reading depends on the locale: "'1.500' could mean 1.5 or 1500: write 1,5
// or 1500.", the two readings and how to write each unmistakably in locale. Empty for any
// other text.
QString ambiguousSizeMessage(const QString& text, const QLocale& locale);

// The part size in whole kilobytes for a size typed in KB, or in MB when megabytes is set
// (multiplied by 1024 first), rounded half to even. A result above 2147483647 (or not finite)
// is an Overflow failure; a NaN is an InvalidNumber failure. The caller has already refused
// sizes not above 0.
Result<std::int32_t> wholeKilobytes(double size, bool megabytes);

// Reads a decimal text written by the window for the number of parts; nothing if it is not one.
std::optional<double> parseCountText(const QString& text);

} // namespace tolvar
