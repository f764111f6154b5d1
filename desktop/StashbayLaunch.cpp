#include "StashbayLaunch.hpp"

#include "App/AppDelegate.hpp"
#include "App/MenuBarIcon.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "macos/os/Logger.hpp"

#include <QPainter>

namespace desktop {

namespace {

// Until the panel's views exist: a plain panel with the app's name.
class PlaceholderPanel final : public ns::View {
public:
    cg::Size fittingSize() const override { return {200, 80}; }
    void draw(QPainter& p, cg::Size size) const override {
        QFont font = p.font();
        font.setPixelSize(15);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(30, 30, 30));
        p.drawText(QRectF(0, 0, size.width, size.height), Qt::AlignCenter, "Stashbay");
    }
};

class Launched final : public LaunchedStashbay {
public:
    Launched() {
        stashbay::registerMenuBarIcon();
        delegate_ = std::make_shared<stashbay::AppDelegate>();
        ns::Application::shared().setDelegate(delegate_);
        scene_ =
            ns::MenuBarExtra::create(ns::Image::named(stashbay::menuBarIconName), std::make_shared<PlaceholderPanel>());
        ns::Application::shared().finishLaunching();
    }

private:
    std::shared_ptr<stashbay::AppDelegate> delegate_;
    std::shared_ptr<ns::MenuBarExtra> scene_;
};

}  // namespace

std::unique_ptr<LaunchedStashbay> launchStashbay() { return std::make_unique<Launched>(); }

void bringFinderToFront(sim::World& world) {
    const sim::Process* chosen = nullptr;
    for (const auto& process : world.processes().listed()) {
        if (process->isTerminated() || process->pid() == world.processes().selfPid()) continue;
        if (process->bundleIdentifier() == "com.apple.finder") {
            chosen = process.get();
            break;
        }
        if (!chosen) chosen = process.get();
    }
    if (chosen) world.activate(*chosen, 0);
}

void configureLog(const std::string& level) {
    // TODO(lead): once the log's terminal sink with a settable level is merged, set it to `level`
    // here. Until then the terminal shows every record for info and debug, and none otherwise,
    // and the records are not kept, so a long run does not grow.
    auto& store = os::LogStore::shared();
    const bool verbose = level != "error";
    store.setCapturing(verbose);
    store.setEchoToStderr(verbose);
}

}  // namespace desktop
