#pragma once

#include "stashbay/runtime/Clock.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <coroutine>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>

namespace runtime {

struct Job {
    Executor* executor = nullptr;
    std::shared_ptr<TaskContext> context;
    std::function<void()> run;
};

// The one loop that runs the app and the simulated world: a FIFO of jobs and a set of timers.
// Exactly one loop exists at a time; it belongs to the thread that made it.
class EventLoop {
public:
    explicit EventLoop(std::shared_ptr<Clock> clock);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    static EventLoop& current();
    static EventLoop* currentOrNull();

    Clock& clock() { return *clock_; }
    Executor& mainExecutor() { return main_; }
    Executor& globalExecutor() { return global_; }
    bool isLoopThread() const { return std::this_thread::get_id() == thread_; }

    // Loop thread only.
    void enqueue(Job job);
    // Any thread: the one thread-safe way in.
    void post(Job job);
    // Called after a post from another thread, so an idle host loop wakes up.
    void setWakeUp(std::function<void()> wakeUp);

    using TimerID = std::pair<Instant, std::uint64_t>;
    TimerID scheduleTimer(Instant deadline, std::function<void()> fire);
    void cancelTimer(const TimerID& id);
    std::optional<Instant> nextDeadline() const;
    // Fires the earliest timer when it is due by `limit`. Returns whether one fired.
    bool fireNextTimer(Instant limit);

    // Runs queued jobs, and jobs they queue, until none is left. Returns how many ran.
    std::size_t runReady();
    bool hasReadyJobs();

    // Unstructured tasks not yet finished; destroyed with the loop.
    void registerRoot(std::coroutine_handle<> root);
    void unregisterRoot(std::coroutine_handle<> root);
    std::size_t liveRootCount() const { return roots_.size(); }

private:
    void drainInbox();
    void runJob(Job& job);

    std::shared_ptr<Clock> clock_;
    std::thread::id thread_;
    Executor main_;
    Executor global_;
    std::deque<Job> jobs_;
    std::map<TimerID, std::function<void()>> timers_;
    std::uint64_t nextTimer_ = 1;
    std::unordered_set<void*> roots_;
    bool tearingDown_ = false;

    std::mutex inboxMutex_;
    std::deque<Job> inbox_;
    std::function<void()> wakeUp_;
};

}  // namespace runtime
