#include "HostPainting.hpp"

#include "macos/AppKit/Application.hpp"

namespace desktop {

void paintOnDemand(DesktopView& view, ns::HostRunLoop& host) {
    host.setAfterDrain([&view, &host] {
        if (view.worldMayHaveChanged()) host.paintRequested();
    });
    ns::Application::shared().setWindowNeedsDisplayHandler([&view, &host](const ns::Window& window) {
        if (view.windowNeedsDisplay(window.windowNumber())) host.paintRequested();
    });
    view.setPainted([&host] { host.painted(); });
}

}  // namespace desktop
