// Drives the update manifest's decoder and the version rules with arbitrary bytes. A body either
// fails with an ns::Error or decodes to a manifest whose version and download address the rules
// judge; the rules also take the raw bytes as a version. Any other exception, crash, sanitizer
// report or broken rule property is a fault.
#include "Updates/UpdateChecker.hpp"
#include "Updates/UpdateManifest.hpp"
#include "macos/Foundation/Error.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using stashbay::UpdateChecker;

namespace {

void judgeVersion(std::string_view version) {
    // No version is newer than itself.
    if (UpdateChecker::isNewer(version, version)) std::abort();
    bool valid = UpdateChecker::isValidVersionString(version);
    // A valid version has at most 20 characters, so at most 20 components.
    if (valid && UpdateChecker::versionComponents(version).size() > 20) std::abort();
    // Missing components count as 0, so neither side is newer than the other with a zero added.
    std::string padded = std::string(version) + ".0";
    if (UpdateChecker::isNewer(padded, version) || UpdateChecker::isNewer(version, padded)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    judgeVersion(bytes);
    try {
        auto manifest = stashbay::decodeUpdateManifest(bytes);
        judgeVersion(manifest.version);
        if (auto url = ns::URL::fromString(manifest.download)) (void)UpdateChecker::isValidDownloadURL(*url);
    } catch (const ns::Error&) {
    }
    return 0;
}
