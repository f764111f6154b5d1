#pragma once

#include "stashbay/runtime/TaskContext.hpp"

#include <functional>
#include <memory>
#include <string>

namespace runtime {

// Where a job runs. Every executor runs on the loop's one thread; executors differ in identity,
// which decides where a coroutine continues after it awaited work elsewhere.
class Executor {
public:
    enum class Kind { main, global, serial };

    Executor(Kind kind, std::string name) : kind_(kind), name_(std::move(name)) {}
    virtual ~Executor() = default;
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }

    // Queues `job` to run on this executor; never runs it inline.
    void enqueue(std::shared_ptr<TaskContext> context, std::function<void()> job);

private:
    Kind kind_;
    std::string name_;
};

// The executor of an actor: a service that owns its state on it.
class SerialExecutor final : public Executor {
public:
    explicit SerialExecutor(std::string name) : Executor(Kind::serial, std::move(name)) {}
};

// The executor of the main thread: the UI and the main-bound services.
Executor& mainExecutor();
// "No executor": the shared concurrent pool. It runs on the same thread.
Executor& globalExecutor();

// The executor of the running job; the main executor outside any job.
Executor& currentExecutor();
bool isOnMainExecutor();

// The task the running job belongs to; null outside any task.
const std::shared_ptr<TaskContext>& currentContext();
// Whether the current task has been cancelled.
bool isCancelled();

// Aborts, in debug builds, when called off the main executor.
void assertMainExecutor(const char* what);
// Aborts, in debug builds, when called off `executor`: an actor calls it where it touches its
// state, so a missing hop, or a task writing the actor's fields from elsewhere, fails a test.
void assertIsolated(const Executor& executor, const char* what);

}  // namespace runtime
