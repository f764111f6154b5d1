#pragma once

#include "stashbay/runtime/Clock.hpp"
#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Task.hpp"

#include <memory>
#include <stdexcept>

namespace runtime {

// The loop in virtual time that tests drive. Nothing waits on the wall clock.
class ManualLoop {
public:
    explicit ManualLoop(Date start = ManualClock::defaultStartDate);

    EventLoop& loop() { return *loop_; }
    ManualClock& clock() { return *clock_; }
    Instant now() const { return clock_->now(); }
    Date date() const { return clock_->date(); }

    // Runs every ready job, without moving the clock.
    void runUntilIdle() { loop_->runReady(); }

    // Moves the clock on by `d`, running everything due in deadline order, first in first out
    // among equal deadlines.
    void advance(Duration d);
    // Moves the clock to the next deadline and runs what is due then. Returns false when no
    // timer is pending.
    bool advanceToNextDeadline();

    // Runs `task` on the main executor until it finishes, advancing virtual time as needed.
    template <class T>
    T run(Task<T> task, Duration limit = std::chrono::hours(24)) {
        auto handle = spawn(loop_->mainExecutor(), std::move(task));
        auto deadline = now() + limit;
        runUntilIdle();
        while (!handle.isFinished()) {
            auto next = loop_->nextDeadline();
            if (!next || *next > deadline) throw std::runtime_error("task did not finish");
            advance(*next - now());
        }
        return handle.result();
    }

private:
    std::shared_ptr<ManualClock> clock_;
    std::unique_ptr<EventLoop> loop_;
};

}  // namespace runtime
