#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ns {

// An address, as the platform makes one from a text: only a text that is a well-formed URL
// reference (absolute, like "x-scheme:path?query", or relative) gives one. Immutable.
class URL {
public:
    // None for an empty text or one that is not a well-formed address (a blank, a stray "%",
    // characters an address cannot hold).
    static std::optional<URL> fromString(std::string_view text);
    // A "file://" address of an absolute path.
    static URL fileURLWithPath(const std::string& path);

    // The text it was made from, unchanged.
    const std::string& absoluteString() const { return text_; }
    // The scheme in lower case ("x-apple.systempreferences", "https"); empty for a relative one.
    const std::string& scheme() const { return scheme_; }
    // The path of a "file" address, percent escapes decoded; empty for other schemes.
    std::string path() const;

    friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }

private:
    URL(std::string text, std::string scheme) : text_(std::move(text)), scheme_(std::move(scheme)) {}

    std::string text_;
    std::string scheme_;
};

}  // namespace ns
