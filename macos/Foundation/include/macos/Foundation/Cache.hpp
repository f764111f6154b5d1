#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace ns {

// A thread-safe object cache with a count limit and a total-cost limit (0 means no limit).
//
// Eviction order: least recently used first. Reading an entry with object(forKey) and storing it
// with setObject both make it the most recently used. When a store takes the cache over a limit,
// the least recently used entries are discarded until it is within both limits again; that can be
// the new entry itself when its cost alone exceeds the total-cost limit. A discarded entry behaves
// exactly like one that was never stored.
template <class Key, class Value, class Hash = std::hash<Key>>
class Cache {
public:
    Cache() = default;
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    std::size_t countLimit() const {
        std::lock_guard lock(mutex_);
        return countLimit_;
    }
    void setCountLimit(std::size_t limit) {
        std::lock_guard lock(mutex_);
        countLimit_ = limit;
        evictLocked();
    }
    std::size_t totalCostLimit() const {
        std::lock_guard lock(mutex_);
        return totalCostLimit_;
    }
    void setTotalCostLimit(std::size_t limit) {
        std::lock_guard lock(mutex_);
        totalCostLimit_ = limit;
        evictLocked();
    }

    std::optional<Value> object(const Key& key) {
        std::lock_guard lock(mutex_);
        auto it = index_.find(key);
        if (it == index_.end()) return std::nullopt;
        entries_.splice(entries_.begin(), entries_, it->second);
        return it->second->value;
    }

    // Replaces any entry under `key`.
    void setObject(Value value, const Key& key, std::size_t cost = 0) {
        std::lock_guard lock(mutex_);
        if (auto it = index_.find(key); it != index_.end()) eraseLocked(it->second);
        entries_.push_front(Entry{key, std::move(value), cost});
        index_.emplace(key, entries_.begin());
        totalCost_ += cost;
        evictLocked();
    }

    void removeObject(const Key& key) {
        std::lock_guard lock(mutex_);
        if (auto it = index_.find(key); it != index_.end()) eraseLocked(it->second);
    }

    void removeAllObjects() {
        std::lock_guard lock(mutex_);
        index_.clear();
        entries_.clear();
        totalCost_ = 0;
    }

    // What the system does under memory pressure: discards the least recently used entries until
    // at most `keep` remain.
    void simulateMemoryPressure(std::size_t keep = 0) {
        std::lock_guard lock(mutex_);
        while (entries_.size() > keep) eraseLocked(std::prev(entries_.end()));
    }

    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }
    std::size_t totalCost() const {
        std::lock_guard lock(mutex_);
        return totalCost_;
    }

private:
    struct Entry {
        Key key;
        Value value;
        std::size_t cost;
    };
    using Iterator = typename std::list<Entry>::iterator;

    void eraseLocked(Iterator it) {
        totalCost_ -= it->cost;
        index_.erase(it->key);
        entries_.erase(it);
    }
    void evictLocked() {
        while (!entries_.empty() && ((countLimit_ != 0 && entries_.size() > countLimit_) ||
                                     (totalCostLimit_ != 0 && totalCost_ > totalCostLimit_)))
            eraseLocked(std::prev(entries_.end()));
    }

    mutable std::mutex mutex_;
    std::list<Entry> entries_;  // most recently used first
    std::unordered_map<Key, Iterator, Hash> index_;
    std::size_t countLimit_ = 0;
    std::size_t totalCostLimit_ = 0;
    std::size_t totalCost_ = 0;
};

}  // namespace ns
