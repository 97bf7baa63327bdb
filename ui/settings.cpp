#include "settings.h"

#include "input_rules.h"

#include <QSettings>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace tolvar {

namespace {

QSettings store() {
    // The application name alone names the file: <config folder>/Tolvar Files Splitter.ini.
    return QSettings(QSettings::IniFormat, QSettings::UserScope,
                     QString::fromLatin1(kSettingsApplication));
}

QString key(const char* name) {
    return QString::fromLatin1(kSettingsSection) + QLatin1Char('/') + QString::fromLatin1(name);
}

float readCoordinate(QSettings& settings, const char* name, float fallback) {
    const QVariant stored = settings.value(key(name));
    if (!stored.isValid())
        return fallback;
    return parseTwips(stored.toString()).value_or(fallback);
}

} // namespace

QString formatTwips(float twips) {
    char buffer[64];
    // Fixed notation so large whole numbers never turn into "1e+06"; the shortest form that
    // reads back as the same float.
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, twips, std::chars_format::fixed);
    if (error != std::errc())
        return QStringLiteral("0");
    return QString::fromLatin1(buffer, end - buffer);
}

std::optional<float> parseTwips(const QString& text) {
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::int64_t centredTwips(double screenTwips, double windowTwips) {
    const auto screen = static_cast<std::int64_t>(roundHalfEven(screenTwips));
    const auto window = static_cast<std::int64_t>(roundHalfEven(windowTwips));
    return screen / 2 - window / 2;
}

StoredSettings loadSettings(float defaultTop, float defaultLeft) {
    QSettings settings = store();
    StoredSettings stored{readCoordinate(settings, kSettingsTop, defaultTop),
                          readCoordinate(settings, kSettingsLeft, defaultLeft)};
    const QString checksums = settings.value(key(kSettingsChecksums)).toString().trimmed();
    stored.writeChecksums = checksums.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
    const QString script = settings.value(key(kSettingsJoinScript)).toString().trimmed();
    stored.writeJoinScript = script.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    const QString sizeFor = settings.value(key(kSettingsSizeFor)).toString().trimmed();
    if (!sizeFor.isEmpty())
        stored.sizeFor = sizeFor;
    return stored;
}

void saveSettings(const StoredSettings& stored) {
    QSettings settings = store();
    settings.setValue(key(kSettingsTop), formatTwips(stored.top));
    settings.setValue(key(kSettingsLeft), formatTwips(stored.left));
    settings.setValue(key(kSettingsChecksums),
                      stored.writeChecksums ? QStringLiteral("true") : QStringLiteral("false"));
    settings.setValue(key(kSettingsJoinScript),
                      stored.writeJoinScript ? QStringLiteral("true") : QStringLiteral("false"));
    settings.setValue(key(kSettingsSizeFor), stored.sizeFor);
    settings.sync();
}

QPoint clampedIntoScreen(const QRect& frame, const QRect& available) {
    auto clamp = [](int at, int extent, int low, int room) {
        // Right or bottom edge inside first, then the left or top edge, which wins.
        return std::max(low, std::min(at, low + room - extent));
    };
    return {clamp(frame.x(), frame.width(), available.x(), available.width()),
            clamp(frame.y(), frame.height(), available.y(), available.height())};
}

} // namespace tolvar
