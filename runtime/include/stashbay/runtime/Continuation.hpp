#pragma once

#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace runtime {

namespace detail {
template <class T>
struct ContinuationState {
    std::atomic<bool> resumed{false};
    // Touched on the loop thread only.
    EventLoop* loop = nullptr;
    bool awaiterAlive = true;
    std::coroutine_handle<> h;
    Executor* executor = nullptr;
    std::shared_ptr<TaskContext> context;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
};
}  // namespace detail

// Resumes a suspended coroutine exactly once; later resumes do nothing. Safe from any thread:
// the waiting coroutine always continues as a queued job on its own executor.
template <class T = void>
class Continuation {
public:
    Continuation() = default;
    explicit Continuation(std::shared_ptr<detail::ContinuationState<T>> s) : s_(std::move(s)) {}

    template <class U = T>
    requires(!std::is_void_v<U>) bool resume(U value) const {
        if (!claim()) return false;
        deliver([s = s_, v = std::move(value)]() mutable { s->value.emplace(std::move(v)); });
        return true;
    }
    template <class U = T>
    requires std::is_void_v<U>
    bool resume() const {
        if (!claim()) return false;
        deliver([s = s_] { s->value = true; });
        return true;
    }
    bool resumeThrowing(std::exception_ptr error) const {
        if (!claim()) return false;
        deliver([s = s_, error] { s->error = error; });
        return true;
    }
    bool isResumed() const { return s_ && s_->resumed.load(); }

private:
    bool claim() const { return s_ && !s_->resumed.exchange(true); }
    template <class F>
    void deliver(F store) const {
        auto s = s_;
        Job job{s->executor, s->context, [s, store = std::move(store)]() mutable {
                    if (!s->awaiterAlive) return;
                    store();
                    s->h.resume();
                }};
        if (s->loop->isLoopThread())
            s->loop->enqueue(std::move(job));
        else
            s->loop->post(std::move(job));
    }

    std::shared_ptr<detail::ContinuationState<T>> s_;
};

template <class T, class F>
class ContinuationAwaiter {
public:
    explicit ContinuationAwaiter(F f) : f_(std::move(f)) {}
    ContinuationAwaiter(const ContinuationAwaiter&) = delete;
    ContinuationAwaiter& operator=(const ContinuationAwaiter&) = delete;
    ~ContinuationAwaiter() {
        if (s_) s_->awaiterAlive = false;
    }

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
        s_ = std::make_shared<detail::ContinuationState<T>>();
        s_->loop = &EventLoop::current();
        s_->h = h;
        s_->executor = &currentExecutor();
        s_->context = currentContext();
        f_(Continuation<T>{s_});
    }
    T await_resume() {
        if (s_->error) std::rethrow_exception(s_->error);
        if constexpr (!std::is_void_v<T>) return std::move(*s_->value);
    }

private:
    F f_;
    std::shared_ptr<detail::ContinuationState<T>> s_;
};

// Suspends the current coroutine and hands `f` the continuation that resumes it.
template <class T = void, class F>
ContinuationAwaiter<T, F> withContinuation(F f) {
    return ContinuationAwaiter<T, F>{std::move(f)};
}

}  // namespace runtime
