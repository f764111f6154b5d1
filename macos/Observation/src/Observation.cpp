#include "macos/Observation/Observation.hpp"

#include <algorithm>

namespace observation {

namespace detail {

struct RegistrarState {
    struct Entry {
        std::uint64_t id;
        ObservationRegistrar::PropertyKey key;
        std::shared_ptr<std::function<void()>> onChange;
    };

    std::uint64_t add(ObservationRegistrar::PropertyKey key, std::function<void()> onChange) {
        auto id = nextID++;
        entries.push_back(Entry{id, key, std::make_shared<std::function<void()>>(std::move(onChange))});
        return id;
    }
    void remove(std::uint64_t id) {
        std::erase_if(entries, [id](const Entry& e) { return e.id == id; });
    }
    bool isRegistered(std::uint64_t id) const {
        return std::any_of(entries.begin(), entries.end(), [id](const Entry& e) { return e.id == id; });
    }

    std::vector<Entry> entries;
    std::uint64_t nextID = 1;
};

namespace {

struct Access {
    std::weak_ptr<RegistrarState> state;
    ObservationRegistrar::PropertyKey key;
};

// The reads of each tracking in progress, innermost last.
std::vector<std::vector<Access>>& trackingStack() {
    thread_local std::vector<std::vector<Access>> stack;
    return stack;
}

void addAccess(std::vector<Access>& accesses, const Access& access) {
    auto state = access.state.lock();
    bool known = std::any_of(accesses.begin(), accesses.end(),
                             [&](const Access& a) { return a.key == access.key && a.state.lock() == state; });
    if (!known) accesses.push_back(access);
}

// One installed tracking: fires once, then removes all its observers.
struct Tracking {
    std::function<void()> onChange;
    std::vector<std::pair<std::weak_ptr<RegistrarState>, std::uint64_t>> registrations;

    void fire() {
        if (!onChange) return;
        auto callback = std::move(onChange);
        onChange = nullptr;
        for (auto& [weakState, id] : registrations)
            if (auto state = weakState.lock()) state->remove(id);
        registrations.clear();
        callback();
    }
};

}  // namespace

void beginTracking() { trackingStack().emplace_back(); }

void abandonTracking() {
    if (!trackingStack().empty()) trackingStack().pop_back();
}

void endTracking(std::function<void()> onChange) {
    auto& stack = trackingStack();
    auto accesses = std::move(stack.back());
    stack.pop_back();
    if (!stack.empty())
        for (auto& access : accesses) addAccess(stack.back(), access);

    auto tracking = std::make_shared<Tracking>();
    tracking->onChange = std::move(onChange);
    for (auto& access : accesses) {
        auto state = access.state.lock();
        if (!state) continue;
        // The observer holds the tracking, and the tracking only weak references to the states.
        auto id = state->add(access.key, [tracking] { tracking->fire(); });
        tracking->registrations.emplace_back(state, id);
    }
}

}  // namespace detail

ObservationToken& ObservationToken::operator=(ObservationToken&& other) noexcept {
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
        id_ = std::exchange(other.id_, 0);
        other.state_.reset();
    }
    return *this;
}

void ObservationToken::cancel() {
    if (auto state = state_.lock()) state->remove(id_);
    state_.reset();
    id_ = 0;
}

bool ObservationToken::isActive() const {
    auto state = state_.lock();
    return state && state->isRegistered(id_);
}

ObservationRegistrar::ObservationRegistrar() : state_(std::make_shared<detail::RegistrarState>()) {}

ObservationRegistrar::~ObservationRegistrar() { state_->entries.clear(); }

void ObservationRegistrar::access(PropertyKey key) const {
    auto& stack = detail::trackingStack();
    if (stack.empty()) return;
    detail::addAccess(stack.back(), detail::Access{state_, key});
}

void ObservationRegistrar::didChange(PropertyKey key) const {
    // Keep the state alive through the deliveries even if an observer ends the object's life, and
    // skip observers that an earlier one has ended.
    auto state = state_;
    std::vector<detail::RegistrarState::Entry> matching;
    for (auto& e : state->entries)
        if (e.key == key) matching.push_back(e);
    for (auto& e : matching)
        if (state->isRegistered(e.id)) (*e.onChange)();
}

ObservationToken ObservationRegistrar::observe(PropertyKey key, std::function<void()> onChange) const {
    auto id = state_->add(key, std::move(onChange));
    return ObservationToken(state_, id);
}

}  // namespace observation
