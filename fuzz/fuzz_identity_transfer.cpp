// Drives the transfer-form parser of item identities with arbitrary text, and checks that
// writing and parsing agree wherever the transfer form can carry the identity.
#include "IdentityFormCheck.hpp"

using stashbay::MenuBarItemID;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::checkIdentityForm(
        data, size, ':', [](const std::string& text) { return MenuBarItemID::fromTransferRepresentation(text); },
        [](const MenuBarItemID& id) { return id.transferRepresentation(); });
    return 0;
}
