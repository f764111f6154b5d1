// Drives the transfer-form parser of item identities with arbitrary text, and checks that
// writing and parsing agree wherever the transfer form can carry the identity.
#include "Models/MenuBarItemID.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using stashbay::MenuBarItemID;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::optional<MenuBarItemID> parse(const std::string& text) { return MenuBarItemID::fromTransferRepresentation(text); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    // Whatever parses writes back to a text that parses to the same identity.
    if (auto id = parse(text)) {
        check(!id->bundleID() || (!id->bundleID()->empty() && id->bundleID()->find(':') == std::string::npos &&
                                  *id->bundleID() != "unknown"));
        check(parse(id->transferRepresentation()) == id);
    }

    // An identity made from the input: the first 8 bytes are the index, the rest the identifier.
    if (size >= 8) {
        std::int64_t index = 0;
        std::memcpy(&index, data, sizeof index);
        std::string bundle(reinterpret_cast<const char*>(data) + 8, size - 8);
        MenuBarItemID id(bundle, index);
        auto back = parse(id.transferRepresentation());
        auto firstRest = bundle.find_first_not_of(':');
        if (bundle == "unknown") {
            check(back == MenuBarItemID(std::nullopt, index));
        } else if (bundle.empty() || firstRest == std::string::npos) {
            check(!back);
        } else if (bundle.find(':') == std::string::npos) {
            check(back == id);
        } else if (bundle.find(':', firstRest) == std::string::npos) {
            // Only leading separators: they are dropped.
            auto stripped = bundle.substr(firstRest);
            check(back == MenuBarItemID(stripped == "unknown" ? std::nullopt : std::optional(stripped), index));
        } else {
            check(!back);
        }
        check(parse(MenuBarItemID(std::nullopt, index).transferRepresentation()) == MenuBarItemID(std::nullopt, index));
    }
    return 0;
}
