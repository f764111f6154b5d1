#include "stashbay/runtime/Sleep.hpp"

namespace runtime {

Date currentDate() {
    if (auto* loop = EventLoop::currentOrNull()) return loop->clock().date();
    return SystemClock{}.date();
}

SleepAwaiter sleepFor(Duration d) { return SleepAwaiter{EventLoop::current().clock().now() + d}; }

SleepAwaiter::~SleepAwaiter() {
    if (timer_) {
        if (auto* loop = EventLoop::currentOrNull()) loop->cancelTimer(*timer_);
    }
}

void SleepAwaiter::await_suspend(std::coroutine_handle<> h) {
    h_ = h;
    executor_ = &currentExecutor();
    context_ = currentContext();
    if (context_ && context_->isCancelled()) {
        wake();
        return;
    }
    timer_ = EventLoop::current().scheduleTimer(deadline_, [this] {
        timer_.reset();
        wake();
    });
    if (context_) cancellation_ = context_->onCancel([this] { wake(); });
}

void SleepAwaiter::wake() {
    if (woken_) return;
    woken_ = true;
    if (timer_) {
        EventLoop::current().cancelTimer(*timer_);
        timer_.reset();
    }
    cancellation_.reset();
    executor_->enqueue(context_, [h = h_] { h.resume(); });
}

}  // namespace runtime
