#pragma once

#include <concepts>
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace os {

// The kinds of argument a log format's specifiers take.
enum class LogSpec { string, int32, uint32, int64, float64, boolean, object };

namespace detail {

template <class T>
concept StringLike = std::convertible_to<const T&, std::string_view>;

template <class T>
concept ErrorLike = std::derived_from<T, std::exception> || std::same_as<T, std::exception_ptr> ||
    std::same_as<T, std::error_code> || StringLike<T>;

template <class T>
concept Integer = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>;

template <class Raw>
constexpr bool accepts(LogSpec spec) {
    using T = std::remove_cvref_t<Raw>;
    switch (spec) {
        case LogSpec::string: return StringLike<T>;
        case LogSpec::int32: return Integer<T> && sizeof(T) <= 4 && std::is_signed_v<T>;
        case LogSpec::uint32: return Integer<T> && sizeof(T) <= 4;
        case LogSpec::int64: return Integer<T> && sizeof(T) <= 8;
        case LogSpec::float64: return std::floating_point<T>;
        case LogSpec::boolean: return std::same_as<T, bool>;
        case LogSpec::object: return ErrorLike<T>;
    }
    return false;
}

// Not constexpr: reaching it while checking a format at compile time is the error message.
void logFormatDoesNotMatchItsArguments();
void logFormatHasAnUnknownSpecifier();

// One specifier of a format: where it ends and what it takes. `end` is 0 for a literal "%%".
struct ParsedSpec {
    std::size_t end = 0;
    LogSpec spec = LogSpec::string;
    bool literalPercent = false;
};

// Parses the specifier starting at the '%' at `at`.
constexpr ParsedSpec parseSpec(std::string_view f, std::size_t at) {
    std::size_t i = at + 1;
    if (i < f.size() && f[i] == '%') return ParsedSpec{i + 1, LogSpec::string, true};
    std::string_view annotation;
    if (i < f.size() && f[i] == '{') {
        auto close = f.find('}', i);
        if (close == std::string_view::npos) logFormatHasAnUnknownSpecifier();
        annotation = f.substr(i + 1, close - i - 1);
        i = close + 1;
        if (annotation != "public" && annotation != "private" && annotation != "bool") logFormatHasAnUnknownSpecifier();
    }
    auto rest = f.substr(i);
    auto starts = [&](std::string_view p) { return rest.substr(0, p.size()) == p; };
    ParsedSpec out;
    if (starts("lld")) {
        out = {i + 3, LogSpec::int64};
    } else if (starts("ld")) {
        out = {i + 2, LogSpec::int64};
    } else if (starts("d")) {
        out = {i + 1, annotation == "bool" ? LogSpec::boolean : LogSpec::int32};
    } else if (starts("u")) {
        out = {i + 1, LogSpec::uint32};
    } else if (starts("f")) {
        out = {i + 1, LogSpec::float64};
    } else if (starts("s")) {
        out = {i + 1, LogSpec::string};
    } else if (starts("@")) {
        out = {i + 1, LogSpec::object};
    } else {
        logFormatHasAnUnknownSpecifier();
    }
    if (annotation == "bool" && out.spec != LogSpec::boolean) logFormatHasAnUnknownSpecifier();
    return out;
}

template <class... Args>
consteval void checkFormat(std::string_view f) {
    constexpr std::size_t count = sizeof...(Args);
    bool (*const checks[count + 1])(LogSpec) = {&accepts<Args>..., nullptr};
    std::size_t argument = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') continue;
        auto parsed = parseSpec(f, i);
        i = parsed.end - 1;
        if (parsed.literalPercent) continue;
        if (argument >= count) logFormatDoesNotMatchItsArguments();
        if (!checks[argument](parsed.spec)) logFormatDoesNotMatchItsArguments();
        ++argument;
    }
    if (argument != count) logFormatDoesNotMatchItsArguments();
}

}  // namespace detail

// A printf-style format of the platform's log, checked against its arguments when compiled.
template <class... Args>
class LogFormat {
public:
    template <class S>
    requires std::convertible_to<const S&, std::string_view>
    consteval LogFormat(const S& s) : text_(s) {  // NOLINT(google-explicit-constructor)
        detail::checkFormat<Args...>(text_);
    }
    std::string_view text() const { return text_; }

private:
    std::string_view text_;
};

}  // namespace os
