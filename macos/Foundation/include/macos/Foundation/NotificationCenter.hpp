#pragma once

#include "macos/CoreFoundation/Value.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ns {

struct Notification {
    std::string name;
    // The object that posted it, by identity; zero for none.
    std::uintptr_t object = 0;
    cf::Value::Dictionary userInfo;
};

// The queue a block observer runs on. Only the main queue exists here.
class OperationQueue {
public:
    static OperationQueue& main();

private:
    OperationQueue() = default;
};

// A registration of a block observer; removing it stops deliveries, also ones already queued.
class NotificationObserver {
public:
    explicit NotificationObserver(std::uint64_t id) : id_(id) {}
    std::uint64_t id() const { return id_; }

private:
    std::uint64_t id_;
};
using NotificationObserverToken = std::shared_ptr<const NotificationObserver>;

class NotificationCenter {
public:
    using Block = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process's default centre.
    static NotificationCenter& defaultCenter();

    // Registers `block` for `name` (every name when empty) from any sender. With the main queue the
    // block runs as a queued job on the main executor; with no queue it runs at once, on the poster.
    NotificationObserverToken addObserver(std::string name, OperationQueue* queue, Block block);
    void removeObserver(const NotificationObserverToken& token);
    void removeAllObservers();
    std::size_t observerCount() const { return observers_.size(); }

    void post(const Notification& notification);
    void post(std::string name) { post(Notification{std::move(name), 0, {}}); }

private:
    struct Entry {
        std::uint64_t id;
        std::string name;
        OperationQueue* queue;
        std::shared_ptr<Block> block;
    };
    bool isRegistered(std::uint64_t id) const;

    std::vector<Entry> observers_;
    std::uint64_t nextID_ = 1;
    // Identifies this centre's lifetime, so that queued deliveries outlive neither it nor a removal.
    std::shared_ptr<NotificationCenter*> self_ = std::make_shared<NotificationCenter*>(this);
};

}  // namespace ns
