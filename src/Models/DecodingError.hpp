#pragma once

#include "macos/Foundation/Error.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace stashbay {

// A failed read of a JSON value: what went wrong, where (a path such as
// "sectionOrders[1][0].index", empty for the top level) and a readable description. It is an
// ns::Error of the Cocoa domain with the coder codes, so callers that log "%@" get a sentence.
class DecodingError : public ns::Error {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, std::string codingPath, std::string debugDescription);

    Kind kind() const { return kind_; }
    const std::string& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }

    // The common failures of a strict reader.
    static DecodingError typeMismatch(std::string codingPath, std::string_view expected, const nlohmann::json& found);
    static DecodingError keyNotFound(std::string codingPath, std::string_view key);
    static DecodingError dataCorrupted(std::string codingPath, std::string debugDescription);

private:
    Kind kind_;
    std::string codingPath_;
    std::string debugDescription_;
};

// A value that has no JSON form (a non-finite number, text that is not UTF-8).
class EncodingError : public ns::Error {
public:
    explicit EncodingError(const std::string& debugDescription);
};

// Coding-path helpers: "a" + "b" gives "a.b", "a" + 2 gives "a[2]".
std::string codingPathAppending(const std::string& path, std::string_view key);
std::string codingPathAppending(const std::string& path, std::size_t index);

}  // namespace stashbay
