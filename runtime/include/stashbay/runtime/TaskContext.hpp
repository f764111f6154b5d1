#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace runtime {

// The cancellation state of one unstructured task, shared by every task it awaits.
class TaskContext : public std::enable_shared_from_this<TaskContext> {
public:
    // Removes its handler when destroyed; safe after the context is gone.
    class Registration {
    public:
        Registration() = default;
        Registration(std::weak_ptr<TaskContext> context, std::uint64_t id) : context_(std::move(context)), id_(id) {}
        Registration(Registration&& other) noexcept;
        Registration& operator=(Registration&& other) noexcept;
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
        ~Registration() { reset(); }
        void reset();

    private:
        std::weak_ptr<TaskContext> context_;
        std::uint64_t id_ = 0;
    };

    bool isCancelled() const { return cancelled_; }

    // Marks the task cancelled and runs each handler once. Handlers must not resume anything inline.
    void cancel();

    // Runs `handler` when the task is cancelled; at once if it already is.
    [[nodiscard]] Registration onCancel(std::function<void()> handler);

private:
    friend class Registration;
    void remove(std::uint64_t id) { handlers_.erase(id); }

    bool cancelled_ = false;
    std::uint64_t nextID_ = 1;
    std::map<std::uint64_t, std::function<void()>> handlers_;
};

}  // namespace runtime
