#pragma once

#include "macos/Foundation/NotificationCenter.hpp"

namespace sim {

// The notifications the world posts when its configuration changes. AppKit publishes the same
// names under its own constants.
namespace notification {
// On the default centre, after a screen is added, removed, moved or reconfigured, or the focused
// screen changes.
inline constexpr const char* screenParametersChanged = "NSApplicationDidChangeScreenParametersNotification";
// On the workspace's centre, when an application has finished launching and after one has quit.
// Their user info carries the application under applicationKey.
inline constexpr const char* didLaunchApplication = "NSWorkspaceDidLaunchApplicationNotification";
inline constexpr const char* didTerminateApplication = "NSWorkspaceDidTerminateApplicationNotification";
inline constexpr const char* applicationKey = "NSWorkspaceApplicationKey";
}  // namespace notification

// The workspace's own notification centre, separate from the default one. It lives for the
// process, like the default centre; each world clears its observers.
ns::NotificationCenter& workspaceNotificationCenter();

}  // namespace sim
