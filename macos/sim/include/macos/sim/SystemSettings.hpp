#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim {

class World;

// System Settings as the world simulates it: the privacy panes it opens by address. Opening a
// pane shows it (recorded in the world's permissions, where a test then grants or revokes);
// the user's answer is never given here.
namespace systemSettings {

// The addresses of the Accessibility and Screen Recording privacy panes, current and legacy.
const std::vector<std::string>& paneURLs();
bool knows(const std::string& url);

// Why an address did not open: a code of the platform's status domain and a description.
struct OpenFailure {
    long code;
    std::string description;
};

// What the workspace does for an address, at the moment it opens it: a known pane opens
// (recorded) unless a test made it fail; any other address fails, since no application of the
// world opens it.
std::optional<OpenFailure> open(World& world, const std::string& url);

}  // namespace systemSettings

}  // namespace sim
