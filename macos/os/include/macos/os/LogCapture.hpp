#pragma once

#include "macos/os/Logger.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace os {

// Reads the records written since it was made; tests assert on them. The log keeps records only
// while a capture lives.
class LogCapture {
public:
    LogCapture() {
        LogStore::shared().clear();
        LogStore::shared().beginCapture();
    }
    ~LogCapture() {
        LogStore::shared().endCapture();
        LogStore::shared().clear();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const { return LogStore::shared().records(); }
    std::vector<LogRecord> records(std::string_view category) const;
    // The texts of one category, in order.
    std::vector<std::string> texts(std::string_view category) const;
    std::vector<std::string> texts(std::string_view category, LogLevel level) const;
    std::size_t count(std::string_view category, std::string_view text) const;
    bool contains(std::string_view category, LogLevel level, std::string_view text) const;
    // The first record of a category whose text starts with `prefix`.
    std::optional<LogRecord> first(std::string_view category, std::string_view prefix) const;
    void clear() { LogStore::shared().clear(); }
};

}  // namespace os
