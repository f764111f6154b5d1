#pragma once

#include <cstdint>
#include <memory>

namespace cf {

using Index = std::int64_t;

// Allocators are not modelled; the default one is the only value.
struct Allocator;
using AllocatorRef = const Allocator*;
inline constexpr AllocatorRef allocatorDefault = nullptr;

// A mach port: what an event tap is to its owner. It is valid until invalidated; releasing the
// last reference destroys it, and with it whatever the port stands for.
class MachPort {
public:
    MachPort();
    MachPort(const MachPort&) = delete;
    MachPort& operator=(const MachPort&) = delete;

    // Unique for the life of the process, never reused.
    std::uint64_t id() const { return id_; }
    bool isValid() const { return valid_; }
    void invalidate() { valid_ = false; }

private:
    std::uint64_t id_;
    bool valid_ = true;
};
using MachPortRef = std::shared_ptr<MachPort>;

class RunLoopSource;
using RunLoopSourceRef = std::shared_ptr<RunLoopSource>;

// Invalidating a port also invalidates the run-loop sources made from it, which thereby leave
// every run loop. A null port is ignored.
void machPortInvalidate(const MachPortRef& port);
bool machPortIsValid(const MachPortRef& port);
// A source that services `port` on a run loop; null for a null or invalid port, or when the
// world's fault switch makes it fail.
RunLoopSourceRef machPortCreateRunLoopSource(AllocatorRef allocator, const MachPortRef& port, Index order);

}  // namespace cf
