#pragma once

#include "macos/CoreFoundation/Value.hpp"
#include "macos/CoreGraphics/Geometry.hpp"

#include <memory>
#include <variant>

namespace ax {

// What an AXValue wraps, by the platform's raw values.
enum class ValueType : int { illegal = 0, cgPoint = 1, cgSize = 2, cgRect = 3 };

// A geometry value of the accessibility interface, carried in a cf::Value as an object.
class Value final : public cf::Object {
public:
    explicit Value(cg::Point p) : v_(p) {}
    explicit Value(cg::Size s) : v_(s) {}
    explicit Value(cg::Rect r) : v_(r) {}

    const char* typeName() const override { return "AXValue"; }
    ValueType type() const { return static_cast<ValueType>(v_.index() + 1); }

private:
    friend bool valueGetValue(const Value&, ValueType, cg::Point&);
    friend bool valueGetValue(const Value&, ValueType, cg::Size&);
    friend bool valueGetValue(const Value&, ValueType, cg::Rect&);

    std::variant<cg::Point, cg::Size, cg::Rect> v_;
};

// A cf::Value holding a new AXValue.
cf::Value valueCreate(cg::Point p);
cf::Value valueCreate(cg::Size s);
cf::Value valueCreate(cg::Rect r);

// Unpacks the value when it holds `type` and `type` matches the output; false otherwise, and
// `out` is left alone.
bool valueGetValue(const Value& value, ValueType type, cg::Point& out);
bool valueGetValue(const Value& value, ValueType type, cg::Size& out);
bool valueGetValue(const Value& value, ValueType type, cg::Rect& out);

}  // namespace ax
