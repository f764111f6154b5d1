// Drives the dictionary-key parser of item identities with arbitrary text, and checks that
// writing and parsing agree wherever the key form can carry the identity.
#include "IdentityFormCheck.hpp"

using stashbay::MenuBarItemID;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::checkIdentityForm(
        data, size, '#',
        [](const std::string& text) { return MenuBarItemID::fromCodingKey(MenuBarItemID::AnyCodingKey{text}); },
        [](const MenuBarItemID& id) {
            fuzzing::check(id.codingKey().stringValue == id.stringValue());
            return id.stringValue();
        });
    return 0;
}
