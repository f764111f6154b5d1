#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cf {

// An opaque platform object carried inside a value: an accessibility element, an AXValue.
class Object {
public:
    virtual ~Object() = default;
    virtual const char* typeName() const = 0;
};

// The loosely typed value of the platform's property lists: window-list dictionaries,
// accessibility attribute values, the bundle's information dictionary, user defaults and a
// screen's device description all carry it. It keeps the platform's conversions. Copies share
// an array's or dictionary's members until one of them changes them, as the platform's
// immutable collections do.
class Value {
public:
    using Array = std::vector<Value>;
    // Looked up by any text (a key literal) without making a string of it.
    using Dictionary = std::map<std::string, Value, std::less<>>;
    using ObjectRef = std::shared_ptr<const Object>;

    enum class Kind { boolean, integer, real, string, array, dictionary, object };

    Value() : v_(false) {}
    Value(bool b) : v_(b) {}                                                 // NOLINT(google-explicit-constructor)
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}                       // NOLINT(google-explicit-constructor)
    Value(long i) : v_(static_cast<std::int64_t>(i)) {}                      // NOLINT(google-explicit-constructor)
    Value(long long i) : v_(static_cast<std::int64_t>(i)) {}                 // NOLINT(google-explicit-constructor)
    Value(unsigned i) : v_(static_cast<std::int64_t>(i)) {}                  // NOLINT(google-explicit-constructor)
    Value(double d) : v_(d) {}                                               // NOLINT(google-explicit-constructor)
    Value(std::string s) : v_(std::move(s)) {}                               // NOLINT(google-explicit-constructor)
    Value(const char* s) : v_(std::string(s)) {}                             // NOLINT(google-explicit-constructor)
    Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}            // NOLINT(google-explicit-constructor)
    Value(Dictionary d) : v_(std::make_shared<Dictionary>(std::move(d))) {}  // NOLINT(google-explicit-constructor)
    Value(ObjectRef o) : v_(std::move(o)) {}                                 // NOLINT(google-explicit-constructor)

    static Value dictionary(std::initializer_list<std::pair<const std::string, Value>> entries) {
        return Value(Dictionary(entries));
    }
    static Value array(std::initializer_list<Value> entries) { return Value(Array(entries)); }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    // A number in the platform's sense: an integer, a real or a boolean.
    bool isNumber() const { return kind() == Kind::boolean || kind() == Kind::integer || kind() == Kind::real; }

    // Bridging a number to a fixed-width integer succeeds only when the value is integral and in
    // range; a boolean reads as 0 or 1.
    std::optional<std::uint32_t> asUInt32() const;
    std::optional<std::int32_t> asInt32() const;
    std::optional<std::int64_t> asInt64() const;
    // Any number as a double; a boolean reads as 0 or 1.
    std::optional<double> asDouble() const;
    // Bridging to a boolean: a boolean, or a number that is exactly 0 or 1.
    std::optional<bool> asBool() const;
    // The truth value of a number or boolean object: non-zero is true.
    std::optional<bool> truthValue() const;

    const std::string* asString() const { return std::get_if<std::string>(&v_); }
    std::string* asString() { return std::get_if<std::string>(&v_); }
    const Array* asArray() const {
        auto* a = std::get_if<SharedArray>(&v_);
        return a ? a->get() : nullptr;
    }
    const Dictionary* asDictionary() const {
        auto* d = std::get_if<SharedDictionary>(&v_);
        return d ? d->get() : nullptr;
    }
    // The dictionary to change, no longer shared with any copy.
    Dictionary* asDictionary();
    const ObjectRef* asObject() const { return std::get_if<ObjectRef>(&v_); }
    // The object when it is of type T.
    template <class T>
    std::shared_ptr<const T> as() const {
        if (auto* o = asObject()) return std::dynamic_pointer_cast<const T>(*o);
        return nullptr;
    }

    // A member of a dictionary value; nothing when this is not a dictionary or lacks the key.
    const Value* find(std::string_view key) const;

    friend bool operator==(const Value& a, const Value& b);

private:
    using SharedArray = std::shared_ptr<Array>;
    using SharedDictionary = std::shared_ptr<Dictionary>;
    std::variant<bool, std::int64_t, double, std::string, SharedArray, SharedDictionary, ObjectRef> v_;
};

using Dictionary = Value::Dictionary;
using Array = Value::Array;

}  // namespace cf
