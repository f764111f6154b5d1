#pragma once

#include "macos/CoreFoundation/Value.hpp"
#include "macos/sim/ApplicationBehaviour.hpp"
#include "macos/sim/StatusItem.hpp"
#include "macos/sim/WindowServer.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// How an application starts out.
struct ProcessSpec {
    ProcessSpec() = default;
    ProcessSpec(std::optional<std::int32_t> pid_, std::optional<std::string> bundleIdentifier_,
                std::optional<std::string> localizedName_, bool finishedLaunching_ = true, bool terminated_ = false,
                bool hidden_ = false, bool agent_ = false)
        : pid(pid_),
          bundleIdentifier(std::move(bundleIdentifier_)),
          localizedName(std::move(localizedName_)),
          finishedLaunching(finishedLaunching_),
          terminated(terminated_),
          hidden(hidden_),
          agent(agent_) {}

    // Chosen by the world when absent (launches at run time only; scenarios name every pid).
    std::optional<ProcessID> pid;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    bool finishedLaunching = true;
    // Listed among the running applications although it has already quit, as a list read just
    // before a quit shows it.
    bool terminated = false;
    bool hidden = false;
    // An agent application (one with no Dock icon or menu bar of its own, as most status-item
    // owners are): the workspace posts no launch or termination notification for it.
    bool agent = false;
    // What the application puts on screen when it has finished launching: status items enter
    // the bar at its left end in this order; windows open front to back in reverse order.
    std::vector<StatusItemSpec> statusItems;
    std::vector<WindowSpec> windows;
    ApplicationBehaviour behaviour;
};

// A running application of the world. Its flags change in place as it finishes launching or
// quits, so every handle sees the change; only the ProcessTable changes them. It travels in the
// workspace's notifications as a platform object.
class Process final : public cf::Object {
public:
    Process(ProcessID pid, ProcessSpec spec)
        : pid_(pid),
          bundleIdentifier_(std::move(spec.bundleIdentifier)),
          localizedName_(std::move(spec.localizedName)),
          finishedLaunching_(spec.finishedLaunching),
          terminated_(spec.terminated),
          hidden_(spec.hidden),
          agent_(spec.agent) {}

    const char* typeName() const override { return "NSRunningApplication"; }

    ProcessID pid() const { return pid_; }
    const std::optional<std::string>& bundleIdentifier() const { return bundleIdentifier_; }
    const std::optional<std::string>& localizedName() const { return localizedName_; }
    bool isFinishedLaunching() const { return finishedLaunching_; }
    bool isTerminated() const { return terminated_; }
    bool isHidden() const { return hidden_; }
    bool isAgent() const { return agent_; }

private:
    friend class ProcessTable;

    ProcessID pid_;
    std::optional<std::string> bundleIdentifier_;
    std::optional<std::string> localizedName_;
    bool finishedLaunching_;
    bool terminated_;
    bool hidden_;
    bool agent_;
};

}  // namespace sim
