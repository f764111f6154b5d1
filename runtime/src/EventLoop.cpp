#include "stashbay/runtime/EventLoop.hpp"

#include "ExecutorState.hpp"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace runtime {

namespace {
EventLoop* gCurrent = nullptr;

// Sets the executor and task of the running job, and restores the previous ones after it.
class RunningJob {
public:
    RunningJob(Executor* executor, std::shared_ptr<TaskContext> context)
        : previousExecutor_(detail::tCurrentExecutor), previousContext_(std::move(detail::tCurrentContext)) {
        detail::tCurrentExecutor = executor;
        detail::tCurrentContext = std::move(context);
    }
    ~RunningJob() {
        detail::tCurrentExecutor = previousExecutor_;
        detail::tCurrentContext = std::move(previousContext_);
    }
    RunningJob(const RunningJob&) = delete;
    RunningJob& operator=(const RunningJob&) = delete;

private:
    Executor* previousExecutor_;
    std::shared_ptr<TaskContext> previousContext_;
};
// Resumes, from the job's own frame, each coroutine that an await hands control to. A job may run
// the loop again inside itself; each level drains its own hand-overs before its frame is left.
class Trampoline {
public:
    Trampoline() : outer_(std::exchange(detail::tTrampolineActive, true)) {}
    ~Trampoline() { detail::tTrampolineActive = outer_; }
    Trampoline(const Trampoline&) = delete;
    Trampoline& operator=(const Trampoline&) = delete;

    void drain() {
        while (auto next = std::exchange(detail::tTrampolineNext, {})) next.resume();
    }

private:
    bool outer_;
};
}  // namespace

EventLoop::EventLoop(std::shared_ptr<Clock> clock)
    : clock_(std::move(clock)),
      thread_(std::this_thread::get_id()),
      main_(Executor::Kind::main, "main"),
      global_(Executor::Kind::global, "global") {
    if (gCurrent) {
        std::fprintf(stderr, "only one EventLoop may exist at a time\n");
        std::abort();
    }
    gCurrent = this;
}

EventLoop::~EventLoop() {
    tearingDown_ = true;
    // Pending jobs only resume frames that are about to be destroyed; drop them first.
    jobs_.clear();
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.clear();
    }
    // Suspended tasks are destroyed with their awaiters, which unhook themselves from timers
    // and streams as they go.
    while (!roots_.empty()) {
        auto it = roots_.begin();
        auto h = std::coroutine_handle<>::from_address(*it);
        roots_.erase(it);
        h.destroy();
        jobs_.clear();
    }
    timers_.clear();
    jobs_.clear();
    gCurrent = nullptr;
}

EventLoop& EventLoop::current() {
    if (!gCurrent) {
        std::fprintf(stderr, "no EventLoop exists\n");
        std::abort();
    }
    return *gCurrent;
}

EventLoop* EventLoop::currentOrNull() { return gCurrent; }

void EventLoop::enqueue(Job job) {
    assert(isLoopThread());
    if (tearingDown_) return;
    jobs_.push_back(std::move(job));
}

void EventLoop::post(Job job) {
    std::function<void()> wake;
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back(std::move(job));
        wake = wakeUp_;
    }
    if (wake) wake();
}

void EventLoop::setWakeUp(std::function<void()> wakeUp) {
    std::lock_guard lock(inboxMutex_);
    wakeUp_ = std::move(wakeUp);
}

EventLoop::TimerID EventLoop::scheduleTimer(Instant deadline, std::function<void()> fire) {
    TimerID id{deadline, nextTimer_++};
    timers_.emplace(id, std::move(fire));
    return id;
}

void EventLoop::cancelTimer(const TimerID& id) { timers_.erase(id); }

std::optional<Instant> EventLoop::nextDeadline() const {
    if (timers_.empty()) return std::nullopt;
    return timers_.begin()->first.first;
}

bool EventLoop::fireNextTimer(Instant limit) {
    if (timers_.empty()) return false;
    auto it = timers_.begin();
    if (it->first.first > limit) return false;
    auto fire = std::move(it->second);
    timers_.erase(it);
    RunningJob running(&main_, nullptr);
    fire();
    return true;
}

void EventLoop::drainInbox() {
    std::lock_guard lock(inboxMutex_);
    while (!inbox_.empty()) {
        jobs_.push_back(std::move(inbox_.front()));
        inbox_.pop_front();
    }
}

bool EventLoop::hasReadyJobs() {
    drainInbox();
    return !jobs_.empty();
}

void EventLoop::runJob(Job& job) {
    RunningJob running(job.executor, std::move(job.context));
    Trampoline trampoline;
    job.run();
    trampoline.drain();
}

std::size_t EventLoop::runReady() {
    std::size_t count = 0;
    for (;;) {
        drainInbox();
        if (jobs_.empty()) break;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        runJob(job);
        ++count;
    }
    return count;
}

void EventLoop::registerRoot(std::coroutine_handle<> root) { roots_.insert(root.address()); }

void EventLoop::unregisterRoot(std::coroutine_handle<> root) { roots_.erase(root.address()); }

}  // namespace runtime
