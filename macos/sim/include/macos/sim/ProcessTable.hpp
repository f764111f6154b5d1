#pragma once

#include "macos/sim/Process.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace sim {

// A request that an application made of another one, in the order they came, for tests to check.
struct ApplicationRequest {
    enum class Kind { activate, unhide };
    Kind kind = Kind::activate;
    ProcessID pid = 0;
    // The activation options' raw value; 0 for an unhide.
    std::uint32_t options = 0;
    // Whether the application was still running to take it.
    bool accepted = false;
    friend bool operator==(const ApplicationRequest&, const ApplicationRequest&) = default;
};

// The running applications in launch order, Stashbay itself among them. Process ids are never
// reused within one world.
class ProcessTable {
public:
    using ProcessRef = std::shared_ptr<Process>;

    // The applications listed, in launch order. Entries launched as terminated stay listed; an
    // application that quits at run time leaves the list.
    const std::vector<ProcessRef>& listed() const { return listed_; }
    // The running application with `pid`; none when there is none or it has terminated.
    ProcessRef find(ProcessID pid) const;
    bool contains(const Process& process) const;

    // Stashbay's own process.
    ProcessRef self() const { return self_; }
    ProcessID selfPid() const { return self_ ? self_->pid() : 0; }

    std::optional<ProcessID> frontmost() const { return frontmost_; }
    const std::vector<ApplicationRequest>& requests() const { return requests_; }

    // Throws std::invalid_argument for a pid that is not positive or already used.
    ProcessRef launch(ProcessSpec spec);
    void makeSelf(const ProcessRef& process) { self_ = process; }
    // Returns whether it changed anything.
    bool finishLaunching(ProcessID pid);
    // Marks the application terminated and takes it off the list; null when it was not running.
    ProcessRef terminate(ProcessID pid);
    // Recorded whether or not the application is still running in this table.
    bool activate(const Process& process, std::uint32_t options);
    bool unhide(const Process& process);
    bool setHidden(ProcessID pid, bool hidden);

    // The pid a launch without one gets: one above the highest used, or the lowest free one when
    // the highest possible is taken.
    ProcessID freePid() const;

private:
    ProcessRef running(const Process& process) const;

    std::vector<ProcessRef> listed_;
    // The listed applications by process id, for lookups that every platform call makes.
    std::unordered_map<ProcessID, ProcessRef> byPid_;
    ProcessRef self_;
    std::optional<ProcessID> frontmost_;
    std::vector<ApplicationRequest> requests_;
    ProcessID highestPid_ = 0;
    // Every process id ever used, as runs of consecutive ids: ids handed out one after another
    // take one entry, so a world where applications come and go for days does not grow.
    class UsedIds {
    public:
        bool contains(ProcessID pid) const;
        void insert(ProcessID pid);

    private:
        std::map<ProcessID, ProcessID> runs_;  // first id of a run -> last id of it
    };
    UsedIds usedPids_;
};

}  // namespace sim
