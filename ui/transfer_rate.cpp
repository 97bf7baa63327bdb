#include "transfer_rate.h"

#include "byte_count.h"
#include "qt_text.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace tolvar {

namespace {

// No figure before the copy has run this long...
constexpr std::int64_t kSettleMs = 2000;
// ...and the figure is taken over about this much of the latest copying.
constexpr std::int64_t kWindowMs = 5000;

QString plural(long long count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(T_(count == 1 ? one : many));
}

} // namespace

void TransferRate::add(std::int64_t elapsedMs, std::uint64_t bytesDone) {
    samples.push_back({elapsedMs, bytesDone});
    // Keep one sample at or before the start of the window, so the window is always full.
    while (samples.size() > 2 && samples[1].ms <= elapsedMs - kWindowMs)
        samples.pop_front();
}

std::optional<double> TransferRate::bytesPerSecond() const {
    if (samples.size() < 2 || samples.back().ms < kSettleMs)
        return std::nullopt;
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    if (last.ms <= first.ms || last.bytes <= first.bytes)
        return std::nullopt;
    return static_cast<double>(last.bytes - first.bytes) * 1000.0 /
           static_cast<double>(last.ms - first.ms);
}

std::optional<double> TransferRate::secondsLeft(std::uint64_t bytesTotal) const {
    const std::optional<double> rate = bytesPerSecond();
    if (!rate)
        return std::nullopt;
    const std::uint64_t done = samples.back().bytes;
    const std::uint64_t left = bytesTotal > done ? bytesTotal - done : 0;
    return static_cast<double>(left) / *rate;
}

QString formatByteCount(std::uint64_t bytes) {
    if (bytes < 1024)
        return QString::fromStdString(bytesInWords(bytes));
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    const ScaledBytes scaled = scaledBytes(bytes, ByteDecimals::BySize);
    return QLocale().toString(scaled.value, 'f', scaled.decimals) + QLatin1Char(' ') +
           QLatin1String(units[scaled.power - 1]);
}

QString formatTimeLeft(double seconds) {
    const double s = std::max(0.0, seconds);
    if (s < 10.0)
        return plural(std::max(1LL, std::llround(std::ceil(s))), N_("second"), N_("seconds"));
    if (s < 57.5)
        return plural(std::llround(s / 5.0) * 5, N_("second"), N_("seconds"));
    const long long minutes = std::max(1LL, std::llround(s / 60.0));
    if (minutes < 60)
        return plural(minutes, N_("minute"), N_("minutes"));
    const QString hours = plural(minutes / 60, N_("hour"), N_("hours"));
    return minutes % 60 == 0
               ? hours
               : hours + QLatin1Char(' ') + plural(minutes % 60, N_("minute"), N_("minutes"));
}

} // namespace tolvar
