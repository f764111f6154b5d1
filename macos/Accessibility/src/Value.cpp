#include "macos/Accessibility/Value.hpp"

namespace ax {

namespace {

template <class T>
bool unpack(const std::variant<cg::Point, cg::Size, cg::Rect>& v, ValueType held, ValueType asked, T& out) {
    if (asked != held) return false;
    const auto* inner = std::get_if<T>(&v);
    if (!inner) return false;
    out = *inner;
    return true;
}

}  // namespace

cf::Value valueCreate(cg::Point p) { return cf::Value(cf::Value::ObjectRef(std::make_shared<const Value>(p))); }
cf::Value valueCreate(cg::Size s) { return cf::Value(cf::Value::ObjectRef(std::make_shared<const Value>(s))); }
cf::Value valueCreate(cg::Rect r) { return cf::Value(cf::Value::ObjectRef(std::make_shared<const Value>(r))); }

bool valueGetValue(const Value& value, ValueType type, cg::Point& out) {
    return unpack(value.v_, value.type(), type, out);
}
bool valueGetValue(const Value& value, ValueType type, cg::Size& out) {
    return unpack(value.v_, value.type(), type, out);
}
bool valueGetValue(const Value& value, ValueType type, cg::Rect& out) {
    return unpack(value.v_, value.type(), type, out);
}

}  // namespace ax
