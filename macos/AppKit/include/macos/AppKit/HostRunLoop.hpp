#pragma once

#include "stashbay/runtime/EventLoop.hpp"

#include <cstdint>
#include <functional>
#include <memory>

class QObject;
class QTimer;

namespace ns {

// Drives the runtime's loop from Qt's event loop in a running program: queued jobs run whenever
// Qt is about to wait, due timers fire from one precise Qt timer set to the next deadline, and a
// post from another thread wakes Qt up. Nothing spins while nothing is due. Needs a Qt
// application object; tests drive the manual loop instead.
class HostRunLoop {
public:
    explicit HostRunLoop(runtime::EventLoop& loop);
    ~HostRunLoop();
    HostRunLoop(const HostRunLoop&) = delete;
    HostRunLoop& operator=(const HostRunLoop&) = delete;

    // Runs what is ready and the timers due when it begins, then sets the timer for the next
    // deadline.
    void drain();
    // The host asked Qt for a paint, in a drain or from Qt's own handlers: until it reports it
    // painted, or a frame after the first request on the loop's clock, timers wait, so that what
    // was asked for shows before work that was only deferred runs.
    void paintRequested();
    void painted();
    // How many times the loop woke to run something, for the idle figures.
    std::uint64_t wakeCount() const { return wakeCount_; }
    // Called after each drain that ran something, e.g. to repaint what shows the world.
    void setAfterDrain(std::function<void()> afterDrain) { afterDrain_ = std::move(afterDrain); }

private:
    void arm();

    runtime::EventLoop& loop_;
    std::unique_ptr<QObject> context_;
    QTimer* timer_ = nullptr;
    std::function<void()> afterDrain_;
    bool draining_ = false;
    bool paintPending_ = false;
    runtime::Instant paintDeadline_{};
    std::uint64_t wakeCount_ = 0;
};

}  // namespace ns
