#pragma once

#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Time.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace stashbay {

// Timing curves of the views' animations, as unit cubic Béziers.
enum class Curve { linear, easeOut, easeInOut };

// The curve's progress at `t` in [0, 1] (clamped outside).
double curveProgress(Curve curve, double t);

// A value that moves to a new target over a duration on a curve, read at instants of the
// runtime's clock, so that tests step it in virtual time.
class TimedValue {
public:
    TimedValue(double initial, Curve curve, runtime::Duration duration)
        : from_(initial), to_(initial), curve_(curve), duration_(duration) {}

    // Starts moving from where it is at `now` to `target`.
    void animateTo(double target, runtime::Instant now);
    void set(double value) { from_ = to_ = value; }
    double value(runtime::Instant now) const;
    double target() const { return to_; }
    bool isAnimating(runtime::Instant now) const { return from_ != to_ && now - start_ < duration_; }

private:
    double from_;
    double to_;
    Curve curve_;
    runtime::Duration duration_;
    runtime::Instant start_{};
};

// A damped spring by its response (the undamped period, seconds) and damping fraction.
struct Spring {
    double response = 0.3;
    double dampingFraction = 0.8;

    // What is left of a unit displacement released at rest, `t` seconds later.
    double displacement(double t) const;
    // When what is left stays under a thousandth of the displacement.
    double settlingTime() const;
};

// A value that follows its target on a spring, restarting from where it is at each change.
class SpringValue {
public:
    explicit SpringValue(double initial, Spring spring = {}) : from_(initial), to_(initial), spring_(spring) {}

    void animateTo(double target, runtime::Instant now);
    void set(double value) { from_ = to_ = value; }
    double value(runtime::Instant now) const;
    double target() const { return to_; }
    bool isAnimating(runtime::Instant now) const;

private:
    double from_;
    double to_;
    Spring spring_;
    runtime::Instant start_{};
};

// The instant the views animate at: the runtime's clock, or its start when no loop runs.
runtime::Instant animationNow();

// The turn of an indeterminate spinner at `now`, in degrees clockwise from its rest: one turn a
// second, the same for every spinner so that all of them turn together.
double spinnerAngle(runtime::Instant now);

// Asks for frames while an animation runs: once started, it calls `frame` every `interval` (a
// sixtieth of a second unless said) on the runtime's clock for as long as `running` says so at
// the frame's instant, the frame that finds the end included, and then asks for none until
// started again. Main loop only.
class FrameRequester {
public:
    static constexpr runtime::Duration interval = std::chrono::microseconds(16667);

    FrameRequester(std::function<bool(runtime::Instant)> running, std::function<void()> frame,
                   runtime::Duration every = interval);
    ~FrameRequester();
    FrameRequester(const FrameRequester&) = delete;
    FrameRequester& operator=(const FrameRequester&) = delete;

    // Something may have begun to animate: frames follow when it runs, unless they already do.
    void start();
    void stop();
    bool isRequesting() const { return pending_.has_value(); }

private:
    void tick();

    std::function<bool(runtime::Instant)> running_;
    std::function<void()> frame_;
    runtime::Duration every_;
    std::optional<runtime::EventLoop::TimerID> pending_;
    // Expires with this object, so that a frame already due does nothing once it is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace stashbay
