#include "size_text.h"

#include "input_rules.h"

#include <cmath>

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

Result<std::int32_t> wholeKilobytes(double size, bool megabytes) {
    if (std::isnan(size))
        return makeFailure(FailureKind::InvalidNumber, "the size is not a number");
    const std::optional<std::int32_t> kilobytes =
        roundToWholeKilobytes(megabytes ? size * 1024.0 : size);
    if (!kilobytes)
        return makeFailure(FailureKind::Overflow,
                           "a size can be at most 2147483647 KB (2097151.999 MB)");
    return *kilobytes;
}

std::optional<double> parseCountText(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || std::isnan(value))
        return std::nullopt;
    return value;
}

} // namespace tolvar
