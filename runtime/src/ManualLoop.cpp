#include "stashbay/runtime/ManualLoop.hpp"

#include <algorithm>

namespace runtime {

ManualLoop::ManualLoop(Date start)
    : clock_(std::make_shared<ManualClock>(start)), loop_(std::make_unique<EventLoop>(clock_)) {}

void ManualLoop::advance(Duration d) {
    const Instant target = clock_->now() + std::max(d, Duration::zero());
    loop_->runReady();
    while (auto next = loop_->nextDeadline()) {
        if (*next > target) break;
        clock_->moveTo(*next);
        loop_->fireNextTimer(clock_->now());
        loop_->runReady();
    }
    clock_->moveTo(target);
    loop_->runReady();
}

bool ManualLoop::advanceToNextDeadline() {
    loop_->runReady();
    auto next = loop_->nextDeadline();
    if (!next) return false;
    clock_->moveTo(*next);
    while (loop_->fireNextTimer(clock_->now())) loop_->runReady();
    loop_->runReady();
    return true;
}

}  // namespace runtime
