#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim {

class World;

// System Settings as the world simulates it: the privacy panes it opens by address. Opening a
// pane shows it (recorded in the world's permissions); the person, or a test, then flips the
// pane's switch through setAllowed. Web links open in the browser, recorded in the world's
// permissions record as well.
namespace systemSettings {

// The addresses of the Accessibility and Screen Recording privacy panes, current and legacy.
const std::vector<std::string>& paneURLs();
bool knows(const std::string& url);

// Why an address did not open: a code of the platform's status domain and a description.
struct OpenFailure {
    long code;
    std::string description;
};

// What the workspace does for an address, at the moment it opens it: an address of System
// Settings' scheme opens it (recorded) unless a test made that address fail, whether or not it
// names a pane System Settings knows; any other address fails, since no application of the world
// opens it.
std::optional<OpenFailure> open(World& world, const std::string& url);

// The privacy panes' switches for Stashbay, as the person flips them in the open pane: the
// change reaches the world's permissions at once, and the app sees it at its next check.
enum class PrivacyPane { accessibility, screenRecording };
void setAllowed(World& world, PrivacyPane pane, bool allowed);
// The pane an address shows; none for an address that is not a privacy pane.
std::optional<PrivacyPane> paneOf(const std::string& url);

// Whether the address is a web link, which the default browser opens.
bool isWebLink(const std::string& url);
// Whether the address is of System Settings' own scheme.
bool isSettingsAddress(const std::string& url);

}  // namespace systemSettings

}  // namespace sim
