#include "stashbay/runtime/Clock.hpp"

#include <chrono>
#include <thread>

namespace runtime {

Instant SystemClock::now() const {
    auto t = std::chrono::steady_clock::now().time_since_epoch();
    return Instant{std::chrono::duration_cast<Duration>(t)};
}

Date SystemClock::date() const {
    auto t = std::chrono::system_clock::now().time_since_epoch();
    return Date::fromUnixTime(std::chrono::duration<double>(t).count());
}

void SystemClock::consume(Duration d) {
    // A real platform call takes its own time; scripted costs only matter in virtual time.
    (void)d;
}

Date ManualClock::date() const { return startDate_.addingTimeInterval(seconds(Duration{now_.load()})); }

void ManualClock::consume(Duration d) {
    if (d > Duration::zero()) now_.fetch_add(d.count());
}

void ManualClock::moveTo(Instant i) {
    auto target = i.sinceEpoch.count();
    auto current = now_.load();
    while (target > current && !now_.compare_exchange_weak(current, target)) {
    }
}

}  // namespace runtime
