#pragma once

#include "macos/Foundation/NotificationCenter.hpp"
#include "macos/sim/Process.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ns {

// How an application is brought forward, by the platform's raw values.
enum class ApplicationActivationOptions : std::uint32_t {
    none = 0,
    activateAllWindows = 1u << 0,
    activateIgnoringOtherApps = 1u << 1,
};
constexpr ApplicationActivationOptions operator|(ApplicationActivationOptions a, ApplicationActivationOptions b) {
    return static_cast<ApplicationActivationOptions>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}

// A handle to an application of the world. Its flags are live: an application that quits later
// reads as terminated through every handle. Safe to read on any executor.
class RunningApplication {
public:
    explicit RunningApplication(std::shared_ptr<const sim::Process> process) : process_(std::move(process)) {}

    // The running application with that process id; null when none is running.
    static std::shared_ptr<RunningApplication> withProcessIdentifier(std::int32_t pid);
    // Stashbay itself.
    static std::shared_ptr<RunningApplication> current();
    // The application a workspace launch or terminate notification is about; null for another
    // notification.
    static std::shared_ptr<RunningApplication> fromNotification(const Notification& notification);

    std::int32_t processIdentifier() const { return process_->pid(); }
    std::optional<std::string> bundleIdentifier() const { return process_->bundleIdentifier(); }
    std::optional<std::string> localizedName() const { return process_->localizedName(); }
    bool isFinishedLaunching() const { return process_->isFinishedLaunching(); }
    bool isTerminated() const { return process_->isTerminated(); }
    bool isHidden() const { return process_->isHidden(); }

    // Each returns whether the application took the request; the world records it.
    bool activate(ApplicationActivationOptions options = ApplicationActivationOptions::none) const;
    bool unhide() const;

private:
    std::shared_ptr<const sim::Process> process_;
};

// This process's id (the platform's getpid): Stashbay's process in the world.
std::int32_t currentProcessIdentifier();

}  // namespace ns
