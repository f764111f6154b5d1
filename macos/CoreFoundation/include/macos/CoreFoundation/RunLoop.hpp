#pragma once

#include "macos/CoreFoundation/MachPort.hpp"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cf {

using RunLoopMode = std::string;
inline constexpr const char* runLoopDefaultMode = "kCFRunLoopDefaultMode";
// The set of modes a source added in it is serviced in: every mode the main loop runs in.
inline constexpr const char* runLoopCommonModes = "kCFRunLoopCommonModes";

// What a run loop services: here always the source of a mach port.
class RunLoopSource {
public:
    RunLoopSource(MachPortRef port, Index order) : port_(std::move(port)), order_(order) {}
    RunLoopSource(const RunLoopSource&) = delete;
    RunLoopSource& operator=(const RunLoopSource&) = delete;

    const MachPortRef& port() const { return port_; }
    Index order() const { return order_; }
    bool isValid() const { return port_ && port_->isValid(); }

private:
    MachPortRef port_;
    Index order_;
};

// A run loop and the sources registered on it, by mode. The main loop runs in the default mode;
// a source there or in the common modes is serviced, one only in another mode is not. A
// registered source keeps its port alive.
class RunLoop {
public:
    RunLoop() = default;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Adding a source twice in one mode adds it once; an invalid source is not added.
    void add(const RunLoopSourceRef& source, const RunLoopMode& mode);
    void remove(const RunLoopSourceRef& source, const RunLoopMode& mode);
    bool contains(const RunLoopSourceRef& source, const RunLoopMode& mode) const;
    // Whether some valid source of `port` is registered in a mode this loop runs in.
    bool services(const MachPort& port) const;
    // Valid registrations, one per source and mode.
    std::size_t sourceCount() const;

private:
    void purge() const;

    mutable std::vector<std::pair<RunLoopSourceRef, RunLoopMode>> entries_;
};
using RunLoopRef = std::shared_ptr<RunLoop>;

// The main thread's run loop in the current world; null when there is no world.
RunLoopRef runLoopGetMain();
// Null loops and sources are ignored.
void runLoopAddSource(const RunLoopRef& loop, const RunLoopSourceRef& source, const RunLoopMode& mode);
void runLoopRemoveSource(const RunLoopRef& loop, const RunLoopSourceRef& source, const RunLoopMode& mode);
bool runLoopContainsSource(const RunLoopRef& loop, const RunLoopSourceRef& source, const RunLoopMode& mode);

}  // namespace cf
