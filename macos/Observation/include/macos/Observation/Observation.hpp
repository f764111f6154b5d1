#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// Observable objects for the interface. Single-threaded: everything here is used on the main
// executor. Observers run synchronously, after the change has been stored.
namespace observation {

namespace detail {
struct RegistrarState;
}

// An observer's registration; destroying it, or cancel(), ends it. Harmless after the observed
// object is gone.
class ObservationToken {
public:
    ObservationToken() = default;
    ObservationToken(std::weak_ptr<detail::RegistrarState> state, std::uint64_t id)
        : state_(std::move(state)), id_(id) {}
    ObservationToken(ObservationToken&& other) noexcept { *this = std::move(other); }
    ObservationToken& operator=(ObservationToken&& other) noexcept;
    ObservationToken(const ObservationToken&) = delete;
    ObservationToken& operator=(const ObservationToken&) = delete;
    ~ObservationToken() { cancel(); }

    void cancel();
    bool isActive() const;

private:
    std::weak_ptr<detail::RegistrarState> state_;
    std::uint64_t id_ = 0;
};

// Tracks the readers of an observable object's properties and tells them about changes. A
// property is named by a key unique within its registrar (its address serves).
class ObservationRegistrar {
public:
    using PropertyKey = const void*;

    ObservationRegistrar();
    // Ends every observation, so that none runs for a departed object.
    ~ObservationRegistrar();
    ObservationRegistrar(const ObservationRegistrar&) = delete;
    ObservationRegistrar& operator=(const ObservationRegistrar&) = delete;

    // Records a read with every observation tracking in progress.
    void access(PropertyKey key) const;
    // Runs `mutation`, then announces the change of `key` to its observers.
    template <class Mutation>
    void withMutation(PropertyKey key, Mutation&& mutation) {
        std::forward<Mutation>(mutation)();
        didChange(key);
    }
    // Announces a change of `key` made without withMutation.
    void didChange(PropertyKey key) const;
    // `onChange` runs after every announced change of `key`, until the token ends.
    [[nodiscard]] ObservationToken observe(PropertyKey key, std::function<void()> onChange) const;

private:
    std::shared_ptr<detail::RegistrarState> state_;
};

// Whether an assignment can be compared with the stored value. Containers count as comparable
// only when their elements are (the standard's container == is not constrained on that).
template <class T>
struct HasEquality : std::bool_constant<std::equality_comparable<T>> {};
template <class T, class A>
struct HasEquality<std::vector<T, A>> : HasEquality<T> {};
template <class T>
struct HasEquality<std::optional<T>> : HasEquality<T> {};
template <class A, class B>
struct HasEquality<std::pair<A, B>> : std::conjunction<HasEquality<A>, HasEquality<B>> {};
template <class K, class V, class C, class A>
struct HasEquality<std::map<K, V, C, A>> : std::conjunction<HasEquality<K>, HasEquality<V>> {};
template <class K, class V, class H, class E, class A>
struct HasEquality<std::unordered_map<K, V, H, E, A>> : std::conjunction<HasEquality<K>, HasEquality<V>> {};
template <class K, class C, class A>
struct HasEquality<std::set<K, C, A>> : HasEquality<K> {};

// When an assignment is announced: only when the new value differs from the stored one, or on
// every assignment (for types without a meaningful equality, or whose == is identity).
enum class Announce { whenChanged, always };

template <class T>
inline constexpr Announce defaultAnnounce = HasEquality<T>::value ? Announce::whenChanged : Announce::always;

// One observed property. Reading it inside withObservationTracking records the reader. Assigning a
// value equal to the stored one (by T's ==) stores it silently; any other assignment is announced.
// A change in place with modify() is always announced, whether or not the value ends up changed.
template <class T, Announce policy = defaultAnnounce<T>>
class Observable {
public:
    Observable() : value_() {}
    explicit Observable(T initial) : value_(std::move(initial)) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const {
        registrar_.access(key());
        return value_;
    }

    void set(T value) {
        if constexpr (policy == Announce::whenChanged) {
            if (value_ == value) {
                // Equal is not identical (an item's equality looks at its identity only): keep the
                // new value all the same.
                value_ = std::move(value);
                return;
            }
        }
        registrar_.withMutation(key(), [&] { value_ = std::move(value); });
    }
    Observable& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // `fn` receives the stored value to change in place.
    template <class Fn>
    void modify(Fn&& fn) {
        registrar_.withMutation(key(), [&] { std::forward<Fn>(fn)(value_); });
    }

    // `onChange` receives the value after every announced change.
    [[nodiscard]] ObservationToken observe(std::function<void(const T&)> onChange) const {
        return registrar_.observe(key(), [this, onChange = std::move(onChange)] { onChange(value_); });
    }

private:
    ObservationRegistrar::PropertyKey key() const { return this; }

    T value_;
    ObservationRegistrar registrar_;
};

namespace detail {
void beginTracking();
// Ends the innermost tracking: its reads join the enclosing one, if any, and `onChange` is
// installed on all of them.
void endTracking(std::function<void()> onChange);
void abandonTracking();
}  // namespace detail

// Runs `apply` and records which observed properties it reads; `onChange` then runs once, right
// after the first announced change of any of them, and never again. A tracking nested in another
// also counts its reads for the outer one. Returns what `apply` returns.
template <class Apply>
decltype(auto) withObservationTracking(Apply&& apply, std::function<void()> onChange) {
    detail::beginTracking();
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<Apply>>) {
            std::forward<Apply>(apply)();
            detail::endTracking(std::move(onChange));
        } else {
            decltype(auto) result = std::forward<Apply>(apply)();
            detail::endTracking(std::move(onChange));
            return result;
        }
    } catch (...) {
        detail::abandonTracking();
        throw;
    }
}

}  // namespace observation
