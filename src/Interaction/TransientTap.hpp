#pragma once

#include "macos/CoreFoundation/MachPort.hpp"
#include "macos/CoreFoundation/RunLoop.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventTap.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace stashbay {

// Where an event is posted and where a tap listens: one process's event stream, or the login
// session's.
struct TapPoint {
    enum class Kind { pid, session };
    Kind kind = Kind::session;
    std::int32_t processID = 0;

    static TapPoint pid(std::int32_t p) { return {Kind::pid, p}; }
    static TapPoint session() { return {Kind::session, 0}; }
};

// One short-lived event tap on the main run loop. Made inactive, switched on by `enable` and
// ended by `disable`; every path that makes one disables it.
class TransientTap {
public:
    // Runs on the main thread with the event the tap saw; returns the event to let through, or
    // null to drop it where the tap may drop.
    using Handler = std::function<cg::EventRef(const cg::EventRef&)>;

    struct Context : std::enable_shared_from_this<Context> {
        explicit Context(Handler h) : handler(std::move(h)) {}
        const Handler handler;
    };

    // Null when the platform refuses the tap. Types of raw value 64 and above add nothing to the
    // tap's mask.
    static std::shared_ptr<TransientTap> make(TapPoint point, bool listenOnly, const std::vector<cg::EventType>& types,
                                              Handler handler);
    TransientTap(cf::MachPortRef port, cf::RunLoopSourceRef source, std::shared_ptr<Context> context);
    // Disables the tap, so that its callback never sees a context that is gone.
    ~TransientTap();
    TransientTap(const TransientTap&) = delete;
    TransientTap& operator=(const TransientTap&) = delete;

    void enable();
    // A second call does nothing.
    void disable();

    cf::MachPortRef machPort;
    cf::RunLoopSourceRef runLoopSource;
    std::shared_ptr<Context> context;

private:
    static cg::EventRef callback(cg::EventTapProxy proxy, cg::EventType type, const cg::EventRef& event,
                                 void* userInfo);
};

}  // namespace stashbay
