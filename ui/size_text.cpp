#include "size_text.h"

#include <cmath>
#include <limits>

namespace tolvar {

std::optional<double> parseSizeText(const QString& text, const QLocale& locale) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;

    // "1,000" must not quietly become a thousand: group separators are refused everywhere.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    double value = c.toDouble(trimmed, &ok);
    if (!ok) {
        QLocale user = locale;
        user.setNumberOptions(QLocale::RejectGroupSeparator);
        value = user.toDouble(trimmed, &ok);
    }
    if (!ok)
        return std::nullopt;
    return value;
}

double roundHalfEven(double value) {
    // nearbyint follows the current rounding mode, which is round-to-nearest-even unless
    // someone changed it; do it by hand so the rule does not depend on global state.
    const double floorValue = std::floor(value);
    const double fraction = value - floorValue;
    if (fraction > 0.5)
        return floorValue + 1.0;
    if (fraction < 0.5)
        return floorValue;
    return std::fmod(floorValue, 2.0) == 0.0 ? floorValue : floorValue + 1.0;
}

Result<std::int32_t> wholeKilobytes(double size, bool megabytes) {
    if (std::isnan(size))
        return makeFailure(FailureKind::InvalidNumber, "the size is not a number");
    const double kilobytes = roundHalfEven(megabytes ? size * 1024.0 : size);
    constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
    if (!(kilobytes <= kLargest) || kilobytes < -kLargest - 1.0)
        return makeFailure(FailureKind::Overflow,
                           "a size can be at most 2147483647 KB (2097151.999 MB)");
    return static_cast<std::int32_t>(kilobytes);
}

std::optional<double> parseCountText(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || std::isnan(value))
        return std::nullopt;
    return value;
}

} // namespace tolvar
