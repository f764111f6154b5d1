#pragma once

#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace runtime {

template <class T = void>
class Task;

namespace detail {

// Hands control from a suspending coroutine to `next` on the same executor. Returning `next` from
// await_suspend is a transfer only when the compiler makes it a tail call, which g++ does not do
// without optimisation: a long loop of awaits would then grow the stack until it overflows. So
// while a job runs, the coroutine suspends and the job resumes `next` from its own frame (a
// trampoline); outside a job the handle is returned as before. The result is what await_suspend
// returns.
std::coroutine_handle<> transferTo(std::coroutine_handle<> next) noexcept;

struct PromiseBase {
    std::coroutine_handle<> continuation;
    Executor* continuationExecutor = nullptr;
    std::exception_ptr exception;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> self) noexcept {
            PromiseBase& p = self.promise();
            if (!p.continuation) return std::noop_coroutine();
            // Returning to the caller is a call's return when it stays on the caller's executor;
            // otherwise the caller continues on its own executor, as a queued job.
            if (&currentExecutor() == p.continuationExecutor) return transferTo(p.continuation);
            p.continuationExecutor->enqueue(currentContext(), [c = p.continuation] { c.resume(); });
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() { exception = std::current_exception(); }
};

template <class T>
struct Promise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object();
    template <class U>
    void return_value(U&& v) {
        value.emplace(std::forward<U>(v));
    }
    T take() {
        if (exception) std::rethrow_exception(exception);
        return std::move(*value);
    }
};

template <>
struct Promise<void> : PromiseBase {
    Task<void> get_return_object();
    void return_void() {}
    void take() {
        if (exception) std::rethrow_exception(exception);
    }
};

}  // namespace detail

// An awaitable coroutine. It starts when awaited and runs inside the awaiting task, sharing its
// cancellation; it continues its caller on the caller's executor when it finishes elsewhere.
template <class T>
class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle h) : h_(h) {}
    Task(Task&& other) noexcept : h_(std::exchange(other.h_, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            if (h_) h_.destroy();
            h_ = std::exchange(other.h_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() {
        if (h_) h_.destroy();
    }

    bool valid() const { return static_cast<bool>(h_); }

    struct Awaiter {
        Handle h;
        bool await_ready() const noexcept { return !h || h.done(); }
        std::coroutine_handle<> await_suspend(std::coroutine_handle<> caller) noexcept {
            h.promise().continuation = caller;
            h.promise().continuationExecutor = &currentExecutor();
            return detail::transferTo(h);
        }
        T await_resume() { return h.promise().take(); }
    };
    Awaiter operator co_await() & noexcept { return Awaiter{h_}; }
    Awaiter operator co_await() && noexcept { return Awaiter{h_}; }

private:
    Handle h_;
};

namespace detail {
template <class T>
Task<T> Promise<T>::get_return_object() {
    return Task<T>{std::coroutine_handle<Promise<T>>::from_promise(*this)};
}
inline Task<void> Promise<void>::get_return_object() {
    return Task<void>{std::coroutine_handle<Promise<void>>::from_promise(*this)};
}
}  // namespace detail

// Moves the current coroutine onto `executor`. No suspension when it already runs there.
struct HopAwaiter {
    Executor* target;
    bool await_ready() const noexcept { return &currentExecutor() == target; }
    void await_suspend(std::coroutine_handle<> h) const {
        target->enqueue(currentContext(), [h] { h.resume(); });
    }
    void await_resume() const noexcept {}
};
inline HopAwaiter hopTo(Executor& executor) { return HopAwaiter{&executor}; }

// Lets every job queued so far run first; continues on the same executor.
struct YieldAwaiter {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) const {
        currentExecutor().enqueue(currentContext(), [h] { h.resume(); });
    }
    void await_resume() const noexcept {}
};
inline YieldAwaiter yield() { return {}; }

namespace detail {

template <class T>
struct HandleState {
    std::shared_ptr<TaskContext> context = std::make_shared<TaskContext>();
    bool finished = false;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr exception;
    struct Waiter {
        std::coroutine_handle<> h;
        Executor* executor;
        std::shared_ptr<TaskContext> context;
    };
    std::vector<Waiter> waiters;

    void finish() {
        finished = true;
        for (auto& w : waiters) w.executor->enqueue(w.context, [h = w.h] { h.resume(); });
        waiters.clear();
    }
};

// A self-destroying coroutine that owns a spawned task until it finishes.
struct RootCoroutine {
    struct promise_type {
        RootCoroutine get_return_object() {
            return RootCoroutine{std::coroutine_handle<promise_type>::from_promise(*this)};
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
        ~promise_type() {
            if (auto* loop = EventLoop::currentOrNull())
                loop->unregisterRoot(std::coroutine_handle<promise_type>::from_promise(*this));
        }
    };
    std::coroutine_handle<promise_type> h;
};

template <class T>
RootCoroutine runRoot(Task<T> task, std::shared_ptr<HandleState<T>> state) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            state->value = true;
        } else {
            state->value.emplace(co_await task);
        }
    } catch (...) {
        state->exception = std::current_exception();
    }
    state->finish();
}

}  // namespace detail

// The handle of an unstructured task: it can cancel the task, tell whether it was cancelled,
// and await its result. Dropping the handle does not cancel the task.
template <class T = void>
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<detail::HandleState<T>> state) : state_(std::move(state)) {}

    void cancel() const {
        if (state_) state_->context->cancel();
    }
    bool isCancelled() const { return state_ && state_->context->isCancelled(); }
    bool isFinished() const { return state_ && state_->finished; }
    explicit operator bool() const { return static_cast<bool>(state_); }

    struct ValueAwaiter {
        std::shared_ptr<detail::HandleState<T>> state;
        bool await_ready() const noexcept { return state->finished; }
        void await_suspend(std::coroutine_handle<> h) {
            state->waiters.push_back({h, &currentExecutor(), currentContext()});
        }
        T await_resume() {
            if (state->exception) std::rethrow_exception(state->exception);
            if constexpr (!std::is_void_v<T>) {
                if constexpr (std::is_copy_constructible_v<T>)
                    return *state->value;
                else
                    return std::move(*state->value);
            }
        }
    };
    // Waits for the task to finish and gives its result, or rethrows its error. A result that
    // cannot be copied is moved out, so only one waiter gets it.
    ValueAwaiter value() const { return ValueAwaiter{state_}; }

    // For tests: the result of a finished task (moved out when it cannot be copied).
    T result() const {
        if (state_->exception) std::rethrow_exception(state_->exception);
        if constexpr (!std::is_void_v<T>) {
            if constexpr (std::is_copy_constructible_v<T>)
                return *state_->value;
            else
                return std::move(*state_->value);
        }
    }

private:
    std::shared_ptr<detail::HandleState<T>> state_;
};

// Starts `task` as a new unstructured task on `executor`, with a cancellation of its own.
template <class T>
TaskHandle<T> spawn(Executor& executor, Task<T> task) {
    auto state = std::make_shared<detail::HandleState<T>>();
    detail::RootCoroutine root = detail::runRoot<T>(std::move(task), state);
    EventLoop::current().registerRoot(root.h);
    executor.enqueue(state->context, [h = root.h] { h.resume(); });
    return TaskHandle<T>{state};
}

}  // namespace runtime
