#pragma once

// The checks both identity fuzzers make of one text form (the dictionary-key form with "#", the
// transfer form with ":"): whatever parses writes back to the same identity, and an identity
// built from the input parses back as the form's rules say.
#include "Models/MenuBarItemID.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace fuzzing {

inline void check(bool condition) {
    if (!condition) std::abort();
}

template <class Parse, class Write>
void checkIdentityForm(const std::uint8_t* data, std::size_t size, char separator, Parse parse, Write write) {
    using stashbay::MenuBarItemID;
    std::string text(reinterpret_cast<const char*>(data), size);

    if (auto id = parse(text)) {
        check(!id->bundleID() || (!id->bundleID()->empty() && id->bundleID()->find(separator) == std::string::npos &&
                                  *id->bundleID() != "unknown"));
        check(parse(write(*id)) == id);
    }

    // An identity made from the input: the first 8 bytes are the index, the rest the identifier.
    if (size < 8) return;
    std::int64_t index = 0;
    std::memcpy(&index, data, sizeof index);
    std::string bundle(reinterpret_cast<const char*>(data) + 8, size - 8);
    MenuBarItemID id(bundle, index);
    auto back = parse(write(id));
    auto firstRest = bundle.find_first_not_of(separator);
    if (bundle == "unknown") {
        check(back == MenuBarItemID(std::nullopt, index));
    } else if (bundle.empty() || firstRest == std::string::npos) {
        check(!back);
    } else if (bundle.find(separator) == std::string::npos) {
        check(back == id);
    } else if (bundle.find(separator, firstRest) == std::string::npos) {
        // Only leading separators: they are dropped.
        auto stripped = bundle.substr(firstRest);
        check(back == MenuBarItemID(stripped == "unknown" ? std::nullopt : std::optional(stripped), index));
    } else {
        check(!back);
    }
    check(parse(write(MenuBarItemID(std::nullopt, index))) == MenuBarItemID(std::nullopt, index));
}

}  // namespace fuzzing
