#include "stashbay/runtime/TaskContext.hpp"

#include <utility>
#include <vector>

namespace runtime {

TaskContext::Registration::Registration(Registration&& other) noexcept
    : context_(std::move(other.context_)), id_(std::exchange(other.id_, 0)) {}

TaskContext::Registration& TaskContext::Registration::operator=(Registration&& other) noexcept {
    if (this != &other) {
        reset();
        context_ = std::move(other.context_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void TaskContext::Registration::reset() {
    if (id_ != 0) {
        if (auto c = context_.lock()) c->remove(id_);
    }
    context_.reset();
    id_ = 0;
}

void TaskContext::cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    std::vector<std::uint64_t> ids;
    ids.reserve(handlers_.size());
    for (auto& [id, _] : handlers_) ids.push_back(id);
    auto keepAlive = weak_from_this().lock();
    for (auto id : ids) {
        auto it = handlers_.find(id);
        if (it == handlers_.end()) continue;
        auto handler = std::move(it->second);
        handlers_.erase(it);
        handler();
    }
}

TaskContext::Registration TaskContext::onCancel(std::function<void()> handler) {
    if (cancelled_) {
        handler();
        return {};
    }
    auto id = nextID_++;
    handlers_.emplace(id, std::move(handler));
    return Registration{weak_from_this(), id};
}

}  // namespace runtime
