#include "input_rules.h"

#include <cmath>
#include <limits>

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

} // namespace tolvar
