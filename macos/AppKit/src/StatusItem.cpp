#include "macos/AppKit/StatusItem.hpp"

#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/Screen.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <algorithm>

namespace ns {

void StatusBarButton::performClick() const {
    if (action_) {
        auto action = action_;
        action();
    }
}

void StatusBarButton::setImage(std::optional<Image> image) {
    image_ = std::move(image);
    if (world_.expired()) return;
    if (auto* item = sim::World::current().mutableStatusItem(worldItem_)) {
        item->image = image_ ? image_->cgImage() : nullptr;
        item->imageSize = image_ ? image_->size() : cg::Size{};
    }
}

StatusItem::StatusItem(Tag, sim::StatusItemID item) : item_(item), world_(Application::shared().worldToken()) {
    button_->worldItem_ = item;
    button_->world_ = world_;
}

std::shared_ptr<StatusItem> StatusItem::create() {
    runtime::assertMainExecutor("NSStatusBar.statusItem");
    auto& world = sim::World::current();
    auto& app = Application::shared();
    const auto self = world.processes().selfPid();
    std::optional<sim::StatusItemID> id;
    for (const auto* existing : world.statusItemsOf(self)) {
        if (!app.claimedItems_.contains(existing->id)) {
            id = existing->id;
            break;
        }
    }
    if (!id) {
        sim::StatusItemSpec spec;
        spec.title = "Stashbay";
        spec.width = 28;
        spec.iconColor = 0xFF9F0AFF;
        id = world.addStatusItem(self, spec);
    }
    app.claimedItems_.insert(*id);
    auto item = std::make_shared<StatusItem>(Tag{}, *id);
    item->window_ = Window::forStatusItem(world.statusItem(*id)->window, item);
    return item;
}

StatusItem::~StatusItem() {
    if (world_.expired()) return;
    Application::shared().claimedItems_.erase(item_);
    sim::World::current().removeStatusItem(item_);
}

// The menu-bar extra

MenuBarExtra::MenuBarExtra(Tag, std::shared_ptr<View> content) : content_(std::move(content)) {}

std::shared_ptr<MenuBarExtra> MenuBarExtra::create(std::optional<Image> label, std::shared_ptr<View> content) {
    auto extra = std::make_shared<MenuBarExtra>(Tag{}, std::move(content));
    extra->statusItem_ = StatusItem::create();
    extra->statusItem_->button()->setImage(std::move(label));
    extra->statusItem_->button()->setAction([weak = extra->weak_from_this()] {
        if (auto self = weak.lock()) self->toggle();
    });
    extra->window_ = Window::create(cg::Rect{0, 0, 1, 1}, WindowLevel::popUpMenu);
    extra->window_->setContentView(extra->content_);
    extra->window_->setDidResignKey([weak = extra->weak_from_this()] {
        if (auto self = weak.lock()) self->dismiss();
    });
    return extra;
}

bool MenuBarExtra::isPresented() const { return window_->isVisible(); }

void MenuBarExtra::toggle() {
    if (isPresented())
        dismiss();
    else
        present();
}

void MenuBarExtra::present() {
    contentSizeChanged();
    auto size = content_->fittingSize();
    // Under the status item, its left edge at the item's, kept on the screen.
    auto item = statusItem_->window()->frame();
    auto screens = Screen::screens();
    double x = item.minX();
    double top = item.minY();
    if (!screens.empty()) {
        auto screen = screens.front().frame();
        top = screen.maxY() - sim::World::current().menuBarHeight();
        x = std::clamp(x, screen.minX(), std::max(screen.minX(), screen.maxX() - size.width));
    }
    window_->setFrame(cg::Rect{x, top - size.height, size.width, size.height});
    Application::shared().activate();
    window_->makeKeyAndOrderFront();
    contentShown_ = true;
    content_->viewDidAppear();
}

void MenuBarExtra::dismiss() {
    // Also when the window was ordered out by itself: the content hears that it went.
    if (!contentShown_) return;
    contentShown_ = false;
    window_->orderOut();
    content_->viewDidDisappear();
}

void MenuBarExtra::contentSizeChanged() {
    auto frame = window_->frame();
    auto size = content_->fittingSize();
    // The top edge stays; a wider panel stays on the screen.
    double x = frame.minX();
    if (auto screens = Screen::screens(); !screens.empty()) {
        auto screen = screens.front().frame();
        x = std::clamp(x, screen.minX(), std::max(screen.minX(), screen.maxX() - size.width));
    }
    window_->setFrame(cg::Rect{x, frame.maxY() - size.height, size.width, size.height});
}

}  // namespace ns
