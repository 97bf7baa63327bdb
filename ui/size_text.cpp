#include "size_text.h"

#include "input_rules.h"
#include "qt_text.h"

#include <cmath>
#include <utility>

namespace tolvar {

namespace {

// The reading with "." as the decimal point and the locale's own reading with its group
// separator, when the two differ.
std::optional<std::pair<double, double>> twoReadings(const QString& trimmed,
                                                     const QLocale& locale) {
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool pointOk = false;
    const double point = c.toDouble(trimmed, &pointOk);
    QLocale grouped = locale;
    grouped.setNumberOptions(QLocale::DefaultNumberOptions);
    bool groupedOk = false;
    const double local = grouped.toDouble(trimmed, &groupedOk);
    if (!pointOk || !groupedOk || point == local || std::isnan(point) || std::isnan(local))
        return std::nullopt;
    return std::pair{point, local};
}

QString written(double value, QLocale locale) {
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QString ambiguousSizeMessage(const QString& text, const QLocale& locale) {
    const QString trimmed = text.trimmed();
    const auto readings = twoReadings(trimmed, locale);
    if (!readings)
        return {};
    const auto [point, local] = *readings;
    return T_("'%1' could mean %2 or %3: write %4 or %5.")
        .arg(trimmed, written(point, QLocale::c()), written(local, QLocale::c()),
             written(point, locale), written(local, locale));
}

std::optional<double> parseSizeText(const QString& text, const QLocale& locale) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || twoReadings(trimmed, locale))
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
