#include "macos/Foundation/NotificationCenter.hpp"

#include "stashbay/runtime/Executor.hpp"

#include <algorithm>

namespace ns {

OperationQueue& OperationQueue::main() {
    static OperationQueue queue;
    return queue;
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationObserverToken NotificationCenter::addObserver(std::string name, OperationQueue* queue, Block block) {
    auto id = nextID_++;
    observers_.push_back(Entry{id, std::move(name), queue, std::make_shared<Block>(std::move(block))});
    return std::make_shared<const NotificationObserver>(id);
}

void NotificationCenter::removeObserver(const NotificationObserverToken& token) {
    if (!token) return;
    std::erase_if(observers_, [&](const Entry& e) { return e.id == token->id(); });
}

void NotificationCenter::removeAllObservers() { observers_.clear(); }

bool NotificationCenter::isRegistered(std::uint64_t id) const {
    return std::any_of(observers_.begin(), observers_.end(), [id](const Entry& e) { return e.id == id; });
}

void NotificationCenter::post(const Notification& notification) {
    auto matching = observers_;
    std::weak_ptr<NotificationCenter*> weakSelf = self_;
    for (auto& entry : matching) {
        if (!entry.name.empty() && entry.name != notification.name) continue;
        if (entry.queue) {
            runtime::mainExecutor().enqueue(nullptr, [weakSelf, id = entry.id, block = entry.block, notification] {
                auto self = weakSelf.lock();
                if (!self || !(*self)->isRegistered(id)) return;
                (*block)(notification);
            });
        } else if (isRegistered(entry.id)) {
            (*entry.block)(notification);
        }
    }
}

}  // namespace ns
