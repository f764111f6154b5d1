#pragma once

#include "stashbay/runtime/Executor.hpp"

#include <coroutine>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

namespace runtime {

// How a stream keeps elements that its consumer has not read yet.
struct BufferingPolicy {
    std::size_t limit = std::numeric_limits<std::size_t>::max();

    static BufferingPolicy unbounded() { return {}; }
    // Keeps the newest `n` unread elements; a newer one pushes out the oldest.
    static BufferingPolicy bufferingNewest(std::size_t n) { return {n}; }
};

enum class YieldResult { enqueued, dropped, terminated };
enum class Termination { finished, cancelled };

// A single-consumer asynchronous sequence. The producer end yields and finishes; the consumer
// awaits `next()` until it gives nothing. Cancelling the consumer's task ends its iteration.
template <class T>
class AsyncStream {
    struct State;

public:
    class Continuation {
    public:
        Continuation() = default;
        explicit Continuation(std::shared_ptr<State> s) : s_(std::move(s)) {}

        YieldResult yield(T element) const { return s_ ? s_->yield(std::move(element)) : YieldResult::terminated; }
        void finish() const {
            if (s_) s_->finish(Termination::finished);
        }
        void onTermination(std::function<void(Termination)> handler) const {
            if (s_) s_->onTermination = std::move(handler);
        }

    private:
        std::shared_ptr<State> s_;
    };

    AsyncStream() = default;
    AsyncStream(AsyncStream&&) noexcept = default;
    AsyncStream& operator=(AsyncStream&& other) noexcept {
        if (this != &other) {
            release();
            s_ = std::move(other.s_);
        }
        return *this;
    }
    ~AsyncStream() { release(); }

    static std::pair<AsyncStream, Continuation> make(BufferingPolicy policy = BufferingPolicy::unbounded()) {
        auto s = std::make_shared<State>();
        s->policy = policy;
        return {AsyncStream{s}, Continuation{s}};
    }

    class NextAwaiter {
    public:
        explicit NextAwaiter(std::shared_ptr<State> s) : s_(std::move(s)) {}
        NextAwaiter(const NextAwaiter&) = delete;
        NextAwaiter& operator=(const NextAwaiter&) = delete;
        ~NextAwaiter() {
            if (s_ && s_->waiter == this) s_->waiter = nullptr;
        }

        bool await_ready() {
            if (!s_) return true;
            if (isCancelled()) {
                s_->finish(Termination::cancelled);
                return true;
            }
            if (!s_->buffer.empty()) {
                result_ = std::move(s_->buffer.front());
                s_->buffer.pop_front();
                return true;
            }
            return s_->ended;
        }
        void await_suspend(std::coroutine_handle<> h) {
            h_ = h;
            executor_ = &currentExecutor();
            context_ = currentContext();
            s_->waiter = this;
            if (context_) {
                cancellation_ = context_->onCancel([s = s_.get()] { s->finish(Termination::cancelled); });
            }
        }
        std::optional<T> await_resume() { return std::move(result_); }

    private:
        friend struct State;
        void wake(std::optional<T> value) {
            result_ = std::move(value);
            cancellation_.reset();
            executor_->enqueue(context_, [h = h_] { h.resume(); });
        }

        std::shared_ptr<State> s_;
        std::optional<T> result_;
        std::coroutine_handle<> h_;
        Executor* executor_ = nullptr;
        std::shared_ptr<TaskContext> context_;
        TaskContext::Registration cancellation_;
    };

    // The next element, or nothing once the stream has ended.
    NextAwaiter next() { return NextAwaiter{s_}; }

private:
    struct State {
        BufferingPolicy policy;
        std::deque<T> buffer;
        bool ended = false;
        NextAwaiter* waiter = nullptr;
        std::function<void(Termination)> onTermination;

        YieldResult yield(T element) {
            if (ended) return YieldResult::terminated;
            if (waiter) {
                auto* w = std::exchange(waiter, nullptr);
                w->wake(std::move(element));
                return YieldResult::enqueued;
            }
            if (policy.limit == 0) return YieldResult::dropped;
            YieldResult result = YieldResult::enqueued;
            if (buffer.size() >= policy.limit) {
                buffer.pop_front();
                result = YieldResult::dropped;
            }
            buffer.push_back(std::move(element));
            return result;
        }

        void finish(Termination how) {
            if (ended) return;
            ended = true;
            // A cancelled consumer reads nothing more; a finished stream drains first.
            if (how == Termination::cancelled) buffer.clear();
            if (waiter) std::exchange(waiter, nullptr)->wake(std::nullopt);
            if (auto handler = std::move(onTermination)) handler(how);
        }
    };

    explicit AsyncStream(std::shared_ptr<State> s) : s_(std::move(s)) {}
    void release() {
        if (s_) s_->finish(Termination::cancelled);
        s_.reset();
    }

    std::shared_ptr<State> s_;
};

}  // namespace runtime
