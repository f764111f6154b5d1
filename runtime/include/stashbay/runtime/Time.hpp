#pragma once

#include <chrono>
#include <compare>
#include <cstdint>

namespace runtime {

// Durations and instants of the continuous (monotonic) clock, in nanoseconds.
using Duration = std::chrono::nanoseconds;

struct Instant {
    Duration sinceEpoch{0};

    friend auto operator<=>(const Instant&, const Instant&) = default;
    friend Instant operator+(Instant i, Duration d) { return Instant{i.sinceEpoch + d}; }
    friend Instant operator-(Instant i, Duration d) { return Instant{i.sinceEpoch - d}; }
    friend Duration operator-(Instant a, Instant b) { return a.sinceEpoch - b.sinceEpoch; }
};

// A wall-clock date: seconds since 2001-01-01 00:00:00 UTC, the platform's reference date.
struct Date {
    double timeIntervalSinceReferenceDate = 0.0;

    // Seconds between 1970-01-01 and 2001-01-01.
    static constexpr double unixToReference = 978307200.0;

    static constexpr Date distantPast() { return Date{-63114076800.0}; }
    static constexpr Date distantFuture() { return Date{63113904000.0}; }
    static constexpr Date fromUnixTime(double seconds) { return Date{seconds - unixToReference}; }

    double timeIntervalSince1970() const { return timeIntervalSinceReferenceDate + unixToReference; }
    double timeIntervalSince(Date other) const {
        return timeIntervalSinceReferenceDate - other.timeIntervalSinceReferenceDate;
    }
    Date addingTimeInterval(double seconds) const { return Date{timeIntervalSinceReferenceDate + seconds}; }

    friend auto operator<=>(const Date&, const Date&) = default;
};

// Seconds as a double, the way the platform's time intervals are written.
inline double seconds(Duration d) { return std::chrono::duration<double>(d).count(); }

// A duration from seconds; non-finite or out-of-range values saturate instead of overflowing.
Duration durationFromSeconds(double seconds);

}  // namespace runtime
