#include "macos/CoreFoundation/MachPort.hpp"

#include "macos/CoreFoundation/RunLoop.hpp"
#include "macos/sim/World.hpp"

#include <atomic>

namespace cf {

namespace {
std::atomic<std::uint64_t> gNextPort{1};
}  // namespace

MachPort::MachPort() : id_(gNextPort.fetch_add(1)) {}

void machPortInvalidate(const MachPortRef& port) {
    if (port) port->invalidate();
}

bool machPortIsValid(const MachPortRef& port) { return port && port->isValid(); }

RunLoopSourceRef machPortCreateRunLoopSource(AllocatorRef, const MachPortRef& port, Index order) {
    if (!port || !port->isValid()) return nullptr;
    auto* world = sim::World::currentOrNull();
    if (world && world->faults().runLoopSourceCreationFails) return nullptr;
    return std::make_shared<RunLoopSource>(port, order);
}

}  // namespace cf
