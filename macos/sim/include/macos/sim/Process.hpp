#pragma once

#include "macos/CoreFoundation/Value.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

using ProcessID = std::int32_t;

// How an application starts out.
struct ProcessSpec {
    // Chosen by the world when absent (launches at run time only; scenarios name every pid).
    std::optional<ProcessID> pid;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    bool finishedLaunching = true;
    // Listed among the running applications although it has already quit, as a list read just
    // before a quit shows it.
    bool terminated = false;
    bool hidden = false;
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
          hidden_(spec.hidden) {}

    const char* typeName() const override { return "NSRunningApplication"; }

    ProcessID pid() const { return pid_; }
    const std::optional<std::string>& bundleIdentifier() const { return bundleIdentifier_; }
    const std::optional<std::string>& localizedName() const { return localizedName_; }
    bool isFinishedLaunching() const { return finishedLaunching_; }
    bool isTerminated() const { return terminated_; }
    bool isHidden() const { return hidden_; }

private:
    friend class ProcessTable;

    ProcessID pid_;
    std::optional<std::string> bundleIdentifier_;
    std::optional<std::string> localizedName_;
    bool finishedLaunching_;
    bool terminated_;
    bool hidden_;
};

}  // namespace sim
