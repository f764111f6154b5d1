#pragma once

#include "macos/os/LogFormat.hpp"

#include <fmt/format.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace os {

enum class LogLevel { debug, info, error };
std::string_view toString(LogLevel level);

// One argument of a record, as the caller passed it.
using LogArgument = std::variant<std::string, std::int64_t, std::uint64_t, double, bool>;

struct LogRecord {
    double date = 0.0;  // seconds since 2001-01-01, from the loop's clock when there is one
    LogLevel level = LogLevel::debug;
    std::string subsystem;
    std::string category;
    std::string format;
    std::vector<LogArgument> arguments;
    // Rendered when something reads the record, as the platform's log does.
    std::string text;
};

namespace detail {
// The lowest level that something reads now, as an int; above error when nothing reads.
extern std::atomic<int> lowestReadLevel;
}  // namespace detail

// Whether a record of this level would be read by anything (a capture or the terminal). A
// record nobody reads is dropped before its arguments are even converted.
inline bool isLogLevelRead(LogLevel level) {
    return static_cast<int>(level) >= detail::lowestReadLevel.load(std::memory_order_relaxed);
}

// Where records go. The terminal (stderr) shows the records at or above its level, errors by
// default; the store keeps every record only while a LogCapture lives, for tests to read.
class LogStore {
public:
    static LogStore& shared();

    void append(LogRecord record);
    // The kept records with their texts.
    std::vector<LogRecord> records() const;
    void clear();
    // Mutes stderr (or unmutes it at its level), for noisy tests.
    void setEchoToStderr(bool echo);
    void setTerminalLevel(LogLevel level);
    LogLevel terminalLevel() const;
    // Called by LogCapture: records are kept while at least one capture lives.
    void beginCapture();
    void endCapture();

private:
    void updateLowestReadLevel();

    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
    bool echo_ = true;
    LogLevel terminalLevel_ = LogLevel::error;
    int captures_ = 0;
};

// The level from which the terminal shows records: errors only by default; info or debug for a
// person who wants to watch the app at work.
inline void setTerminalLogLevel(LogLevel level) { LogStore::shared().setTerminalLevel(level); }

namespace detail {

double currentLogDate();
std::string renderFormat(std::string_view format, const std::vector<LogArgument>& arguments);

template <class T>
LogArgument toArgument(const T& value) {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::same_as<U, bool>) {
        return value;
    } else if constexpr (std::floating_point<U>) {
        return static_cast<double>(value);
    } else if constexpr (std::integral<U> && std::is_signed_v<U>) {
        return static_cast<std::int64_t>(value);
    } else if constexpr (std::integral<U>) {
        return static_cast<std::uint64_t>(value);
    } else if constexpr (std::derived_from<U, std::exception>) {
        return std::string(value.what());
    } else if constexpr (std::same_as<U, std::exception_ptr>) {
        try {
            if (value) std::rethrow_exception(value);
        } catch (const std::exception& e) {
            return std::string(e.what());
        } catch (...) {
        }
        return std::string("unknown error");
    } else if constexpr (std::same_as<U, std::error_code>) {
        return value.message();
    } else {
        return std::string(std::string_view(value));
    }
}

}  // namespace detail

// A logger of the unified log: a subsystem and a category. Nothing is redacted.
class Logger {
public:
    Logger(std::string subsystem, std::string category)
        : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    template <class... Args>
    void debug(LogFormat<std::type_identity_t<Args>...> format, const Args&... args) const {
        if (!isLogLevelRead(LogLevel::debug)) return;
        write(LogLevel::debug, format.text(), {detail::toArgument(args)...});
    }
    template <class... Args>
    void info(LogFormat<std::type_identity_t<Args>...> format, const Args&... args) const {
        if (!isLogLevelRead(LogLevel::info)) return;
        write(LogLevel::info, format.text(), {detail::toArgument(args)...});
    }
    template <class... Args>
    void error(LogFormat<std::type_identity_t<Args>...> format, const Args&... args) const {
        if (!isLogLevelRead(LogLevel::error)) return;
        write(LogLevel::error, format.text(), {detail::toArgument(args)...});
    }

private:
    void write(LogLevel level, std::string_view format, std::vector<LogArgument> arguments) const;

    std::string subsystem_;
    std::string category_;
};

}  // namespace os
