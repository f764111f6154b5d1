#pragma once

#include "stashbay/runtime/Time.hpp"

#include <atomic>

namespace runtime {

// The clocks the loop and the app read: the continuous clock and the wall-clock date.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
    virtual Date date() const = 0;
    // Time spent inside a synchronous platform call. A manual clock moves on; nothing else runs.
    virtual void consume(Duration d) = 0;
    virtual bool isManual() const = 0;
};

class SystemClock final : public Clock {
public:
    Instant now() const override;
    Date date() const override;
    void consume(Duration d) override;
    bool isManual() const override { return false; }
};

// A clock under a test's control. Its continuous instant and its date move together.
class ManualClock final : public Clock {
public:
    // 2026-12-10 00:00:00 UTC, a fixed start so that dates in tests are reproducible.
    static constexpr Date defaultStartDate{818553600.0};

    explicit ManualClock(Date start = defaultStartDate) : startDate_(start) {}

    Instant now() const override { return Instant{Duration{now_.load()}}; }
    Date date() const override;
    void consume(Duration d) override;
    bool isManual() const override { return true; }

    // Moves the clock to the given instant; never backwards.
    void moveTo(Instant i);

private:
    Date startDate_;
    std::atomic<Duration::rep> now_{0};
};

}  // namespace runtime
