#pragma once

#include "macos/AppKit/Image.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/AppKit/WorkspaceOpenConfiguration.hpp"
#include "macos/Foundation/NotificationCenter.hpp"
#include "macos/Foundation/URL.hpp"
#include "macos/sim/SystemNotifications.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ns {

// Posted on the workspace's notification centre; the user info carries the application under
// workspaceApplicationKey (read it with RunningApplication::fromNotification).
inline constexpr const char* workspaceDidLaunchApplicationNotification = sim::notification::didLaunchApplication;
inline constexpr const char* workspaceDidTerminateApplicationNotification = sim::notification::didTerminateApplication;
inline constexpr const char* workspaceApplicationKey = sim::notification::applicationKey;

class Workspace {
public:
    static Workspace& shared();

    // The running applications in launch order, which stays the same between calls. An entry
    // may already read as terminated or as still launching. Main executor only.
    std::vector<std::shared_ptr<RunningApplication>> runningApplications() const;
    // The application activated last; null when none is.
    std::shared_ptr<RunningApplication> frontmostApplication() const;
    // The workspace's own centre, not the default one.
    NotificationCenter& notificationCenter() const;
    // Opens `url` with whatever handles it. After the world's latency the address opens or
    // fails, and then `completion` (which may be empty) runs as a queued job on the main loop,
    // with the error on failure. Only the world's System Settings panes open.
    void open(const URL& url, const WorkspaceOpenConfiguration& configuration,
              WorkspaceOpenCompletion completion) const;

    // Where the application with that bundle identifier is installed: the applications of the
    // world (running, or listed as quit) live in "/Applications/<bundle identifier>.app".
    // None for an identifier no application of the world has.
    std::optional<URL> urlForApplication(const std::string& bundleIdentifier) const;
    // The icon of the file at `path`, 32 points square: for an application bundle, its icon,
    // drawn from the path so that each application has one of its own.
    Image iconForFile(const std::string& path) const;

private:
    Workspace() = default;
};

}  // namespace ns
