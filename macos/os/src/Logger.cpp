#include "macos/os/Logger.hpp"

#include "stashbay/runtime/EventLoop.hpp"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace os {

namespace detail {
std::atomic<int> lowestReadLevel{static_cast<int>(LogLevel::error)};

// Reached only when a format is wrong, which stops the compile before it gets here.
void logFormatDoesNotMatchItsArguments() {}
void logFormatHasAnUnknownSpecifier() {}
}  // namespace detail

std::string_view toString(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return "debug";
        case LogLevel::info: return "info";
        case LogLevel::error: return "error";
    }
    return "?";
}

LogStore& LogStore::shared() {
    static LogStore store;
    return store;
}

namespace {
std::string timestamp(double referenceDate) {
    double unix = referenceDate + 978307200.0;
    auto whole = static_cast<std::time_t>(std::floor(unix));
    int millis = static_cast<int>((unix - std::floor(unix)) * 1000.0);
    std::tm tm{};
    gmtime_r(&whole, &tm);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
}
}  // namespace

void LogStore::append(LogRecord record) {
    std::lock_guard lock(mutex_);
    if (echo_ && record.level >= terminalLevel_) {
        auto text = detail::renderFormat(record.format, record.arguments);
        auto line = fmt::format("{} {} {}:{} {}\n", timestamp(record.date), toString(record.level), record.subsystem,
                                record.category, text);
        std::fputs(line.c_str(), stderr);
    }
    if (captures_ > 0) records_.push_back(std::move(record));
}

std::vector<LogRecord> LogStore::records() const {
    std::vector<LogRecord> out;
    {
        std::lock_guard lock(mutex_);
        out = records_;
    }
    for (auto& record : out) record.text = detail::renderFormat(record.format, record.arguments);
    return out;
}

void LogStore::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

void LogStore::setEchoToStderr(bool echo) {
    std::lock_guard lock(mutex_);
    echo_ = echo;
    updateLowestReadLevel();
}

void LogStore::setTerminalLevel(LogLevel level) {
    std::lock_guard lock(mutex_);
    terminalLevel_ = level;
    updateLowestReadLevel();
}

LogLevel LogStore::terminalLevel() const {
    std::lock_guard lock(mutex_);
    return terminalLevel_;
}

void LogStore::beginCapture() {
    std::lock_guard lock(mutex_);
    ++captures_;
    updateLowestReadLevel();
}

void LogStore::endCapture() {
    std::lock_guard lock(mutex_);
    if (captures_ > 0) --captures_;
    if (captures_ == 0) records_.clear();
    updateLowestReadLevel();
}

void LogStore::updateLowestReadLevel() {
    int lowest = static_cast<int>(LogLevel::error) + 1;
    if (echo_) lowest = static_cast<int>(terminalLevel_);
    if (captures_ > 0) lowest = static_cast<int>(LogLevel::debug);
    detail::lowestReadLevel.store(lowest, std::memory_order_relaxed);
}

namespace detail {

double currentLogDate() {
    auto* loop = runtime::EventLoop::currentOrNull();
    if (loop && loop->isLoopThread()) return loop->clock().date().timeIntervalSinceReferenceDate;
    auto t = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(t).count() - 978307200.0;
}

namespace {
std::string renderOne(const LogArgument& a, LogSpec spec) {
    switch (spec) {
        case LogSpec::boolean:
            if (auto* b = std::get_if<bool>(&a)) return *b ? "true" : "false";
            break;
        case LogSpec::float64:
            if (auto* d = std::get_if<double>(&a)) return fmt::format("{:.6f}", *d);
            break;
        case LogSpec::uint32:
            if (auto* i = std::get_if<std::int64_t>(&a)) return fmt::format("{}", static_cast<std::uint32_t>(*i));
            break;
        case LogSpec::int32:
            if (auto* u = std::get_if<std::uint64_t>(&a)) return fmt::format("{}", static_cast<std::int32_t>(*u));
            break;
        default: break;
    }
    return std::visit(
        [](const auto& v) -> std::string {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::same_as<V, std::string>)
                return v;
            else if constexpr (std::same_as<V, bool>)
                return v ? "1" : "0";
            else if constexpr (std::same_as<V, double>)
                return fmt::format("{:.6f}", v);
            else
                return fmt::format("{}", v);
        },
        a);
}
}  // namespace

std::string renderFormat(std::string_view f, const std::vector<LogArgument>& arguments) {
    std::string out;
    out.reserve(f.size() + 16);
    std::size_t argument = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') {
            out.push_back(f[i]);
            continue;
        }
        auto parsed = parseSpec(f, i);
        i = parsed.end - 1;
        if (parsed.literalPercent) {
            out.push_back('%');
            continue;
        }
        if (argument < arguments.size()) out += renderOne(arguments[argument++], parsed.spec);
    }
    return out;
}

}  // namespace detail

void Logger::write(LogLevel level, std::string_view format, std::vector<LogArgument> arguments) const {
    LogRecord record;
    record.date = detail::currentLogDate();
    record.level = level;
    record.subsystem = subsystem_;
    record.category = category_;
    record.format = std::string(format);
    record.arguments = std::move(arguments);
    LogStore::shared().append(std::move(record));
}

}  // namespace os
