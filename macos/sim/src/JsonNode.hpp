#pragma once

#include "macos/CoreFoundation/Value.hpp"
#include "macos/CoreGraphics/Geometry.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::detail {

using Json = nlohmann::json;

// A value of a scenario file together with the JSON path that leads to it, so that every error
// names the file and the field. Reading a value of the wrong type, a missing field or an unknown
// one throws ScenarioError; nothing here throws anything else.
class JsonNode {
public:
    JsonNode(const Json& value, const std::string& file, std::string path)
        : value_(&value), file_(&file), path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    const std::string& file() const { return *file_; }
    bool isNull() const { return value_->is_null(); }

    [[noreturn]] void fail(std::string_view problem) const;
    // Fails at a field below this one ("frame.width" below "screens[0]").
    [[noreturn]] void failAt(std::string_view relativePath, std::string_view problem) const;

    // Objects.
    void expectObject() const;
    void rejectUnknownFields(std::initializer_list<std::string_view> known) const;
    void rejectUnknownFields(const std::vector<std::string_view>& known) const;
    // A field that must be present (it may be null).
    JsonNode field(std::string_view key) const;
    // A field that may be absent; a null field counts as absent.
    std::optional<JsonNode> optionalField(std::string_view key) const;

    // Whether the object has the field at all (null included).
    bool has(std::string_view key) const;
    // The members of an object, in the file's order of names.
    std::vector<std::pair<std::string, JsonNode>> members() const;

    // Lists.
    std::vector<JsonNode> elements() const;

    // Leaves.
    double number() const;
    bool boolean() const;
    std::string text() const;
    std::int64_t integer(std::int64_t min, std::int64_t max) const;
    // {"x", "y", "width", "height"}, every member required.
    cg::Rect rect() const;
    // Any JSON value but null, as a property-list value; nesting is limited so that a hostile
    // file cannot exhaust the stack.
    cf::Value plistValue() const;

private:
    JsonNode child(std::string_view key, const Json& value) const;
    cf::Value plistValue(int depthLeft) const;
    [[noreturn]] void failExpected(const char* what) const;

    const Json* value_;
    const std::string* file_;
    std::string path_;
};

}  // namespace sim::detail
