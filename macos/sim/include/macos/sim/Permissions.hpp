#pragma once

#include "stashbay/runtime/Time.hpp"

#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace sim {

// The two privacy permissions Stashbay needs, and what it asked for. Tests change them at run
// time, as the user does in System Settings.
struct Permissions {
    bool accessibility = true;
    bool screenRecording = true;

    // The trust request with a prompt shows the system's dialog; counted, never answered here.
    int accessibilityPrompts = 0;
    int screenRecordingRequests = 0;

    // System Settings addresses the world knows how to open, and those a test made fail.
    std::set<std::string> failingSettingsURLs;
    // Every address opened, in order.
    std::vector<std::string> openedSettingsURLs;
    // Every web link the browser was asked to open, in order.
    std::vector<std::string> openedWebURLs;
    // How long the workspace takes to open an address, or to fail, before its completion runs.
    runtime::Duration settingsOpenLatency = std::chrono::milliseconds(100);
};

}  // namespace sim
