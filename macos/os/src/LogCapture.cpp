#include "macos/os/LogCapture.hpp"

namespace os {

std::vector<LogRecord> LogCapture::records(std::string_view category) const {
    std::vector<LogRecord> out;
    for (auto& r : records())
        if (r.category == category) out.push_back(r);
    return out;
}

std::vector<std::string> LogCapture::texts(std::string_view category) const {
    std::vector<std::string> out;
    for (auto& r : records(category)) out.push_back(r.text);
    return out;
}

std::vector<std::string> LogCapture::texts(std::string_view category, LogLevel level) const {
    std::vector<std::string> out;
    for (auto& r : records(category))
        if (r.level == level) out.push_back(r.text);
    return out;
}

std::size_t LogCapture::count(std::string_view category, std::string_view text) const {
    std::size_t n = 0;
    for (auto& r : records(category))
        if (r.text == text) ++n;
    return n;
}

bool LogCapture::contains(std::string_view category, LogLevel level, std::string_view text) const {
    for (auto& r : records(category))
        if (r.level == level && r.text == text) return true;
    return false;
}

std::optional<LogRecord> LogCapture::first(std::string_view category, std::string_view prefix) const {
    for (auto& r : records(category))
        if (std::string_view(r.text).substr(0, prefix.size()) == prefix) return r;
    return std::nullopt;
}

}  // namespace os
