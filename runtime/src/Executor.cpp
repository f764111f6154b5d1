#include "stashbay/runtime/Executor.hpp"

#include "ExecutorState.hpp"
#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Task.hpp"

#include <cstdio>
#include <cstdlib>

namespace runtime {

namespace detail {
thread_local Executor* tCurrentExecutor = nullptr;
thread_local std::shared_ptr<TaskContext> tCurrentContext;
thread_local bool tTrampolineActive = false;
thread_local std::coroutine_handle<> tTrampolineNext;

std::coroutine_handle<> transferTo(std::coroutine_handle<> next) noexcept {
    if (!tTrampolineActive) return next;
    // The coroutine that hands over suspends at once; nothing runs between here and the job's
    // resumption of `next`.
    tTrampolineNext = next;
    return std::noop_coroutine();
}
}  // namespace detail

void Executor::enqueue(std::shared_ptr<TaskContext> context, std::function<void()> job) {
    EventLoop::current().enqueue(Job{this, std::move(context), std::move(job)});
}

Executor& mainExecutor() { return EventLoop::current().mainExecutor(); }
Executor& globalExecutor() { return EventLoop::current().globalExecutor(); }

Executor& currentExecutor() {
    if (detail::tCurrentExecutor) return *detail::tCurrentExecutor;
    return mainExecutor();
}

bool isOnMainExecutor() { return &currentExecutor() == &mainExecutor(); }

const std::shared_ptr<TaskContext>& currentContext() { return detail::tCurrentContext; }

bool isCancelled() { return detail::tCurrentContext && detail::tCurrentContext->isCancelled(); }

void assertMainExecutor(const char* what) {
#ifndef NDEBUG
    if (!isOnMainExecutor()) {
        std::fprintf(stderr, "main-thread check failed: %s called on executor '%s'\n", what,
                     currentExecutor().name().c_str());
        std::abort();
    }
#else
    (void)what;
#endif
}

void assertIsolated(const Executor& executor, const char* what) {
#ifndef NDEBUG
    if (&currentExecutor() != &executor) {
        std::fprintf(stderr, "isolation check failed: %s called on executor '%s', not on '%s'\n", what,
                     currentExecutor().name().c_str(), executor.name().c_str());
        std::abort();
    }
#else
    (void)executor;
    (void)what;
#endif
}

}  // namespace runtime
