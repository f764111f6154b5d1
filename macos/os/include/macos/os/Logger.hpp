#pragma once

#include "macos/os/LogFormat.hpp"

#include <fmt/format.h>

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
    std::string text;
};

// Where records go: every record is kept for tests to read, and written to stderr unless muted.
class LogStore {
public:
    static LogStore& shared();

    void append(LogRecord record);
    std::vector<LogRecord> records() const;
    void clear();
    // Mutes stderr, for benchmarks and noisy tests; the capture still keeps every record.
    void setEchoToStderr(bool echo);
    // Keeps nothing at all: the null sink that benchmarks log into.
    void setCapturing(bool capture);

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
    bool echo_ = true;
    bool capture_ = true;
};

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
        write(LogLevel::debug, format.text(), {detail::toArgument(args)...});
    }
    template <class... Args>
    void info(LogFormat<std::type_identity_t<Args>...> format, const Args&... args) const {
        write(LogLevel::info, format.text(), {detail::toArgument(args)...});
    }
    template <class... Args>
    void error(LogFormat<std::type_identity_t<Args>...> format, const Args&... args) const {
        write(LogLevel::error, format.text(), {detail::toArgument(args)...});
    }

private:
    void write(LogLevel level, std::string_view format, std::vector<LogArgument> arguments) const;

    std::string subsystem_;
    std::string category_;
};

}  // namespace os
