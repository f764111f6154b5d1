#include "Views/StashbayPanel/Animation.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace stashbay {

namespace {

// y of the Bézier with control points (x1, y1), (x2, y2) where its x is `x`.
double bezier(double x1, double y1, double x2, double y2, double x) {
    auto coordinate = [](double a, double b, double s) {
        const double u = 1 - s;
        return 3 * u * u * s * a + 3 * u * s * s * b + s * s * s;
    };
    // x grows with s on these curves, so bisection finds s.
    double lo = 0, hi = 1;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2;
        (coordinate(x1, x2, mid) < x ? lo : hi) = mid;
    }
    return coordinate(y1, y2, (lo + hi) / 2);
}

}  // namespace

double curveProgress(Curve curve, double t) {
    t = std::clamp(t, 0.0, 1.0);
    if (t == 0.0 || t == 1.0) return t;
    switch (curve) {
        case Curve::linear: return t;
        case Curve::easeOut: return bezier(0.0, 0.0, 0.58, 1.0, t);
        case Curve::easeInOut: return bezier(0.42, 0.0, 0.58, 1.0, t);
    }
    return t;
}

void TimedValue::animateTo(double target, runtime::Instant now) {
    from_ = value(now);
    to_ = target;
    start_ = now;
}

double TimedValue::value(runtime::Instant now) const {
    if (from_ == to_) return to_;
    const double elapsed = runtime::seconds(now - start_);
    const double total = runtime::seconds(duration_);
    if (total <= 0 || elapsed >= total) return to_;
    return from_ + (to_ - from_) * curveProgress(curve_, elapsed / total);
}

double Spring::displacement(double t) const {
    if (t <= 0) return 1.0;
    const double omega = 2 * std::numbers::pi / std::max(response, 1e-6);
    const double zeta = std::clamp(dampingFraction, 0.0, 1.0);
    if (zeta >= 1.0) return (1 + omega * t) * std::exp(-omega * t);
    const double damped = omega * std::sqrt(1 - zeta * zeta);
    return std::exp(-zeta * omega * t) * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
}

double Spring::settlingTime() const {
    // The envelope bounds the oscillation; step until it stays under the threshold.
    double t = 0;
    while (t < 10 &&
           std::abs(displacement(t)) + std::exp(-dampingFraction * 2 * std::numbers::pi / response * t) > 0.002)
        t += 0.005;
    return t;
}

void SpringValue::animateTo(double target, runtime::Instant now) {
    if (target == to_) return;
    from_ = value(now);
    to_ = target;
    start_ = now;
}

double SpringValue::value(runtime::Instant now) const {
    if (from_ == to_) return to_;
    const double t = runtime::seconds(now - start_);
    if (t >= spring_.settlingTime()) return to_;
    return to_ + (from_ - to_) * spring_.displacement(t);
}

bool SpringValue::isAnimating(runtime::Instant now) const {
    return from_ != to_ && runtime::seconds(now - start_) < spring_.settlingTime();
}

runtime::Instant animationNow() {
    auto* loop = runtime::EventLoop::currentOrNull();
    return loop ? loop->clock().now() : runtime::Instant{};
}

double spinnerAngle(runtime::Instant now) {
    const double turns = runtime::seconds(now.sinceEpoch);
    return 360.0 * (turns - std::floor(turns));
}

FrameRequester::FrameRequester(std::function<bool(runtime::Instant)> running, std::function<void()> frame,
                               runtime::Duration every)
    : running_(std::move(running)), frame_(std::move(frame)), every_(every) {}

FrameRequester::~FrameRequester() { stop(); }

void FrameRequester::start() {
    if (pending_) return;
    auto* loop = runtime::EventLoop::currentOrNull();
    if (!loop || !running_(loop->clock().now())) return;
    pending_ = loop->scheduleTimer(loop->clock().now() + every_, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired()) tick();
    });
}

void FrameRequester::stop() {
    if (!pending_) return;
    if (auto* loop = runtime::EventLoop::currentOrNull()) loop->cancelTimer(*pending_);
    pending_.reset();
}

void FrameRequester::tick() {
    pending_.reset();
    // The frame reads the clock itself; whether another follows is asked after it.
    frame_();
    start();
}

}  // namespace stashbay
