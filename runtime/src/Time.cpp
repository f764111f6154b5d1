#include "stashbay/runtime/Time.hpp"

#include <cmath>
#include <limits>

namespace runtime {

Duration durationFromSeconds(double s) {
    using Rep = Duration::rep;
    // Bound to about 290 years either way, well inside the nanosecond range.
    constexpr double bound = 9.0e9;
    if (std::isnan(s)) return Duration{0};
    if (s >= bound) return Duration{static_cast<Rep>(bound * 1e9)};
    if (s <= -bound) return Duration{static_cast<Rep>(-bound * 1e9)};
    return Duration{static_cast<Rep>(std::llround(s * 1e9))};
}

}  // namespace runtime
