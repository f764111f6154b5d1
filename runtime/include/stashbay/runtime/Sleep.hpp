#pragma once

#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <coroutine>
#include <optional>

namespace runtime {

// A sleep on the continuous clock. Cancelling the task ends it early, without an error.
class SleepAwaiter {
public:
    explicit SleepAwaiter(Instant deadline) : deadline_(deadline) {}
    SleepAwaiter(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(const SleepAwaiter&) = delete;
    ~SleepAwaiter();

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h);
    void await_resume() const noexcept {}

private:
    void wake();

    Instant deadline_;
    std::coroutine_handle<> h_;
    Executor* executor_ = nullptr;
    std::shared_ptr<TaskContext> context_;
    std::optional<EventLoop::TimerID> timer_;
    TaskContext::Registration cancellation_;
    bool woken_ = false;
};

inline SleepAwaiter sleepUntil(Instant deadline) { return SleepAwaiter{deadline}; }
SleepAwaiter sleepFor(Duration d);

inline Instant now() { return EventLoop::current().clock().now(); }
// The wall-clock date of the loop's clock; the system's date when no loop exists.
Date currentDate();

}  // namespace runtime
