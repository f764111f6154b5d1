// Feeds arbitrary bytes to the user-defaults file reader. It must never crash, and whatever it
// accepts must survive a write and a second read unchanged.
#include "macos/Foundation/UserDefaults.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool allFinite(const cf::Value& value) {
    switch (value.kind()) {
        case cf::Value::Kind::real: return std::isfinite(*value.asDouble());
        case cf::Value::Kind::array:
            for (auto& element : *value.asArray())
                if (!allFinite(element)) return false;
            return true;
        case cf::Value::Kind::dictionary:
            for (auto& [key, member] : *value.asDictionary())
                if (!allFinite(member)) return false;
            return true;
        default: return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto decoded = ns::UserDefaults::decodeFile(text);
    if (!decoded) return 0;

    auto reread = ns::UserDefaults::decodeFile(ns::UserDefaults::encodeFile(decoded->values));
    if (!reread) std::abort();
    // Non-finite reals are left out of the file, so only a finite read must come back whole, and a
    // file the defaults wrote holds nothing a rewrite would lose.
    if (allFinite(cf::Value(decoded->values)) && (reread->values != decoded->values || reread->lossy)) std::abort();
    // A read that loses nothing holds no number the file could not hold again.
    if (!decoded->lossy && !allFinite(cf::Value(decoded->values))) std::abort();
    // Reading what was written is stable from the second round on.
    auto again = ns::UserDefaults::decodeFile(ns::UserDefaults::encodeFile(reread->values));
    if (!again || again->values != reread->values || again->lossy) std::abort();

    // The readings of every member never fail either.
    ns::UserDefaults defaults;
    for (auto& [key, value] : decoded->values) {
        defaults.set(value, key);
        (void)defaults.boolForKey(key);
        (void)defaults.doubleForKey(key);
        (void)defaults.integerForKey(key);
        (void)defaults.stringForKey(key);
    }
    return 0;
}
