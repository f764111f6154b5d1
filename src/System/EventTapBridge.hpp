#pragma once

#include "macos/CoreFoundation/MachPort.hpp"
#include "macos/CoreFoundation/RunLoop.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventTap.hpp"
#include "stashbay/runtime/Stream.hpp"

#include <memory>
#include <optional>
#include <utility>

namespace stashbay {

// Shared by an installed tap's handle and its callback: the producing end of the tap's event
// stream, and the tap's own port so that the callback can switch the tap on again after the
// system switched it off. The platform gets a plain, non-owning pointer to it; the handle owns
// it, and each callback holds it for as long as the callback runs.
class EventTapContext : public std::enable_shared_from_this<EventTapContext> {
public:
    using Continuation = runtime::AsyncStream<cg::EventRef>::Continuation;

    explicit EventTapContext(Continuation continuation) : continuation(std::move(continuation)) {}

    const Continuation continuation;
    // Set once the tap exists; weak, since the handle owns the port.
    std::weak_ptr<cf::MachPort> machPort;
};

// Installs, switches and removes one observing event tap and streams copies of what it sees.
// The tap never alters, replaces or swallows an event. May be called on any executor.
class EventTapBridge {
public:
    EventTapBridge() = delete;

    // One installed tap. It owns the port, the run-loop source and the context until it is handed
    // to uninstall(); it cannot be copied, so it is uninstalled at most once. A handle destroyed
    // without uninstall() removes its tap all the same, so the callback never outlives its context.
    struct TapHandle {
        cf::MachPortRef machPort;
        cf::RunLoopSourceRef runLoopSource;
        std::shared_ptr<EventTapContext> context;

        TapHandle(cf::MachPortRef port, cf::RunLoopSourceRef source, std::shared_ptr<EventTapContext> ctx)
            : machPort(std::move(port)), runLoopSource(std::move(source)), context(std::move(ctx)) {}
        TapHandle(TapHandle&&) noexcept = default;
        TapHandle& operator=(TapHandle&& other) noexcept;
        TapHandle(const TapHandle&) = delete;
        TapHandle& operator=(const TapHandle&) = delete;
        ~TapHandle();
    };

    using EventStream = runtime::AsyncStream<cg::EventRef>;

    // The stream keeps the newest 64 unread events. Absent when the tap cannot be made; each
    // failure is logged and leaves nothing registered.
    static std::optional<std::pair<TapHandle, EventStream>> install(cg::EventMask eventsOfInterest,
                                                                    cg::EventTapLocation location);
    static void setEnabled(const TapHandle& handle, bool enabled);
    // Whether the tap is switched on (the system switches off a tap it timed out).
    static bool isEnabled(const TapHandle& handle);
    // Ends the stream (the consumer drains what is buffered) and removes the tap.
    static void uninstall(TapHandle handle);

    // The tap's callback, as the platform calls it; `userInfo` is the handle's context.
    static cg::EventRef tapCallback(cg::EventTapProxy proxy, cg::EventType type, const cg::EventRef& event,
                                    void* userInfo);

private:
    static void release(TapHandle& handle);
};

}  // namespace stashbay
