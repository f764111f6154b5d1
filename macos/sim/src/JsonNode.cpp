#include "JsonNode.hpp"

#include "macos/sim/Scenario.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace sim::detail {

namespace {

constexpr int maxPlistDepth = 32;

const char* typeName(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::boolean: return "true or false";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned: return "an integer";
        case Json::value_t::number_float: return "a number";
        case Json::value_t::string: return "text";
        case Json::value_t::array: return "a list";
        case Json::value_t::object: return "an object";
        default: return "an unreadable value";
    }
}

bool isPlainKey(std::string_view key) {
    return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

// A member name as it appears in a path: plain names as they are, any other in brackets and
// quotes with control characters escaped, cut short so that a hostile name cannot flood the log.
std::string pathComponent(std::string_view key) {
    if (isPlainKey(key) && key.size() <= 64) return std::string(key);
    std::string out = "[\"";
    std::size_t shown = 0;
    for (char c : key) {
        if (++shown > 64) {
            out += "...";
            break;
        }
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            out += fmt::format("\\u{:04x}", u);
        } else {
            out += c;
        }
    }
    out += "\"]";
    return out;
}

}  // namespace

void JsonNode::fail(std::string_view problem) const { throw ScenarioError(*file_, path_, std::string(problem)); }

void JsonNode::failAt(std::string_view relativePath, std::string_view problem) const {
    std::string path = path_;
    if (!relativePath.empty()) {
        if (!path.empty()) path += '.';
        path += relativePath;
    }
    throw ScenarioError(*file_, std::move(path), std::string(problem));
}

void JsonNode::failExpected(const char* what) const {
    fail(fmt::format("expected {}, found {}", what, typeName(*value_)));
}

void JsonNode::expectObject() const {
    if (!value_->is_object()) failExpected("an object");
}

void JsonNode::rejectUnknownFields(std::initializer_list<std::string_view> known) const {
    rejectUnknownFields(std::vector<std::string_view>(known));
}

void JsonNode::rejectUnknownFields(const std::vector<std::string_view>& known) const {
    expectObject();
    for (auto it = value_->begin(); it != value_->end(); ++it) {
        const std::string& key = it.key();
        if (std::find(known.begin(), known.end(), key) == known.end()) child(key, it.value()).fail("unknown field");
    }
}

JsonNode JsonNode::child(std::string_view key, const Json& value) const {
    std::string component = pathComponent(key);
    if (path_.empty()) return JsonNode(value, *file_, component);
    if (component.front() == '[') return JsonNode(value, *file_, path_ + component);
    return JsonNode(value, *file_, path_ + "." + component);
}

JsonNode JsonNode::field(std::string_view key) const {
    expectObject();
    auto it = value_->find(key);
    if (it == value_->end()) {
        static const Json missing;
        child(key, missing).fail("missing field");
    }
    return child(key, *it);
}

std::optional<JsonNode> JsonNode::optionalField(std::string_view key) const {
    expectObject();
    auto it = value_->find(key);
    if (it == value_->end() || it->is_null()) return std::nullopt;
    return child(key, *it);
}

bool JsonNode::has(std::string_view key) const {
    expectObject();
    return value_->find(key) != value_->end();
}

std::vector<std::pair<std::string, JsonNode>> JsonNode::members() const {
    expectObject();
    std::vector<std::pair<std::string, JsonNode>> out;
    for (auto it = value_->begin(); it != value_->end(); ++it) out.emplace_back(it.key(), child(it.key(), it.value()));
    return out;
}

std::vector<JsonNode> JsonNode::elements() const {
    if (!value_->is_array()) failExpected("a list");
    std::vector<JsonNode> out;
    out.reserve(value_->size());
    for (std::size_t i = 0; i < value_->size(); ++i) {
        out.emplace_back((*value_)[i], *file_, fmt::format("{}[{}]", path_, i));
    }
    return out;
}

double JsonNode::number() const {
    if (!value_->is_number()) failExpected("a number");
    double d = value_->get<double>();
    if (!std::isfinite(d)) fail("expected a finite number");
    return d;
}

bool JsonNode::boolean() const {
    if (!value_->is_boolean()) failExpected("true or false");
    return value_->get<bool>();
}

std::string JsonNode::text() const {
    if (!value_->is_string()) failExpected("text");
    return value_->get<std::string>();
}

std::int64_t JsonNode::integer(std::int64_t min, std::int64_t max) const {
    if (!value_->is_number_integer()) failExpected("an integer");
    // Read unsigned values as such: get<int64_t>() would wrap the large ones.
    bool inRange;
    std::int64_t v = 0;
    if (value_->is_number_unsigned()) {
        auto u = value_->get<std::uint64_t>();
        inRange = max >= 0 && u <= static_cast<std::uint64_t>(max);
        if (inRange) v = static_cast<std::int64_t>(u);
        if (inRange && v < min) inRange = false;
    } else {
        v = value_->get<std::int64_t>();
        inRange = v >= min && v <= max;
    }
    if (!inRange) fail(fmt::format("must be an integer from {} to {}", min, max));
    return v;
}

cg::Rect JsonNode::rect() const {
    rejectUnknownFields({"x", "y", "width", "height"});
    return cg::Rect(field("x").number(), field("y").number(), field("width").number(), field("height").number());
}

cf::Value JsonNode::plistValue() const { return plistValue(maxPlistDepth); }

cf::Value JsonNode::plistValue(int depthLeft) const {
    if (depthLeft <= 0) fail("nested too deeply");
    switch (value_->type()) {
        case Json::value_t::boolean: return cf::Value(value_->get<bool>());
        case Json::value_t::number_integer: return cf::Value(static_cast<long long>(value_->get<std::int64_t>()));
        case Json::value_t::number_unsigned: {
            auto u = value_->get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(INT64_MAX)) return cf::Value(static_cast<double>(u));
            return cf::Value(static_cast<long long>(u));
        }
        case Json::value_t::number_float: return cf::Value(number());
        case Json::value_t::string: return cf::Value(value_->get<std::string>());
        case Json::value_t::array: {
            cf::Value::Array array;
            for (const auto& element : elements()) array.push_back(element.plistValue(depthLeft - 1));
            return cf::Value(std::move(array));
        }
        case Json::value_t::object: {
            cf::Value::Dictionary dictionary;
            for (auto it = value_->begin(); it != value_->end(); ++it) {
                dictionary[it.key()] = child(it.key(), it.value()).plistValue(depthLeft - 1);
            }
            return cf::Value(std::move(dictionary));
        }
        default: fail("null is not a property-list value");
    }
}

}  // namespace sim::detail
