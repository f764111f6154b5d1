#include "macos/Dispatch/Queue.hpp"

#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <utility>

namespace dispatch {

Queue& Queue::main() {
    static Queue queue;
    return queue;
}

void Queue::asyncAfter(runtime::Duration delay, std::function<void()> block) {
    if (delay <= runtime::Duration::zero()) {
        async(std::move(block));
        return;
    }
    auto& loop = runtime::EventLoop::current();
    auto deadline = loop.clock().now() + delay;
    // The timer only queues the block, so that it runs as a main-executor job like every other.
    loop.scheduleTimer(
        deadline, [block = std::move(block)]() mutable { runtime::mainExecutor().enqueue(nullptr, std::move(block)); });
}

void Queue::async(std::function<void()> block) { runtime::mainExecutor().enqueue(nullptr, std::move(block)); }

}  // namespace dispatch
