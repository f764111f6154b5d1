#include "macos/CoreFoundation/Value.hpp"

#include <cmath>
#include <limits>

namespace cf {

namespace {
template <class Int, class Variant>
std::optional<Int> exactInteger(const Variant& v) {
    if (auto* b = std::get_if<bool>(&v)) return static_cast<Int>(*b ? 1 : 0);
    if (auto* i = std::get_if<std::int64_t>(&v)) {
        if (*i < static_cast<std::int64_t>(std::numeric_limits<Int>::min())) return std::nullopt;
        if constexpr (sizeof(Int) < sizeof(std::int64_t) || std::is_signed_v<Int>) {
            if (*i > static_cast<std::int64_t>(std::numeric_limits<Int>::max())) return std::nullopt;
        }
        return static_cast<Int>(*i);
    }
    if (auto* d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || std::trunc(*d) != *d) return std::nullopt;
        // Compare in long double so that the bounds themselves are exact.
        long double x = *d;
        if (x < static_cast<long double>(std::numeric_limits<Int>::min()) ||
            x > static_cast<long double>(std::numeric_limits<Int>::max()))
            return std::nullopt;
        return static_cast<Int>(*d);
    }
    return std::nullopt;
}
}  // namespace

std::optional<std::uint32_t> Value::asUInt32() const { return exactInteger<std::uint32_t>(v_); }
std::optional<std::int32_t> Value::asInt32() const { return exactInteger<std::int32_t>(v_); }
std::optional<std::int64_t> Value::asInt64() const { return exactInteger<std::int64_t>(v_); }

std::optional<double> Value::asDouble() const {
    if (auto* b = std::get_if<bool>(&v_)) return *b ? 1.0 : 0.0;
    if (auto* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&v_)) return *d;
    return std::nullopt;
}

std::optional<bool> Value::asBool() const {
    if (auto* b = std::get_if<bool>(&v_)) return *b;
    auto d = asDouble();
    if (d && (*d == 0.0 || *d == 1.0)) return *d == 1.0;
    return std::nullopt;
}

std::optional<bool> Value::truthValue() const {
    auto d = asDouble();
    if (!d) return std::nullopt;
    return *d != 0.0;
}

Value::Dictionary* Value::asDictionary() {
    auto* d = std::get_if<SharedDictionary>(&v_);
    if (!d) return nullptr;
    if (d->use_count() > 1) *d = std::make_shared<Dictionary>(**d);
    return d->get();
}

const Value* Value::find(std::string_view key) const {
    auto* d = asDictionary();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

bool operator==(const Value& a, const Value& b) {
    if (a.v_.index() != b.v_.index()) return false;
    if (const auto* array = a.asArray()) return *array == *b.asArray();
    if (const auto* dictionary = a.asDictionary()) return *dictionary == *b.asDictionary();
    return a.v_ == b.v_;
}

}  // namespace cf
