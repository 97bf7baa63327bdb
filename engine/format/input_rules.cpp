#include "input_rules.h"

#include "translation.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sys/stat.h>

namespace tolvar {

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

std::optional<std::int32_t> roundToWholeKilobytes(double kilobytes) {
    const double whole = roundHalfEven(kilobytes);
    constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
    if (!(whole <= kLargest) || whole < -kLargest - 1.0)
        return std::nullopt;
    return static_cast<std::int32_t>(whole);
}

std::optional<std::string> partSizeRefusal(double size, SizeUnit unit) {
    const bool megabytes = unit == SizeUnit::Megabytes;
    const std::optional<std::int32_t> whole = roundToWholeKilobytes(megabytes ? size * 1024 : size);
    if (whole && *whole >= 1 && *whole <= kLargestPartKilobytes)
        return std::nullopt;
    char typed[64];
    std::snprintf(typed, sizeof typed, "%.15g %s", size, megabytes ? "MB" : "KB");
    if (whole && *whole < 1)
        return std::string(_("A broken file holds at least 1 KB; ")) + typed +
               _(" rounds to 0 KB.");
    // 2047.999 MB rounds to 2097151 KB; 2048 MB would be one kilobyte too many.
    return std::string(_("A broken file holds ")) +
           (megabytes ? _("at most 2047.999 MB") : _("at most 2097151 KB")) + _(", not ") + typed +
           ".";
}

std::optional<std::string> notOrdinaryInWords(mode_t mode) {
    if (S_ISREG(mode))
        return std::nullopt;
    if (S_ISDIR(mode))
        return _("a folder");
    if (S_ISFIFO(mode))
        return _("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return _("a device");
    if (S_ISSOCK(mode))
        return _("a socket");
    return _("no ordinary file");
}

} // namespace tolvar
