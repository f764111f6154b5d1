#pragma once

#include "macos/AppKit/Image.hpp"
#include "macos/AppKit/Window.hpp"
#include "macos/CoreFoundation/Value.hpp"
#include "macos/sim/StatusItem.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ns {

// The button a status item shows in the menu bar.
class StatusBarButton {
public:
    const std::optional<Image>& image() const { return image_; }
    // The bar and the item's status window show the image from now on.
    void setImage(std::optional<Image> image);
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    // Acts as a click of the user does: sends the button's action.
    void performClick() const;

private:
    friend class StatusItem;
    std::optional<Image> image_;
    std::function<void()> action_;
    // The world's item that shows the button, while that world lives.
    sim::StatusItemID worldItem_ = 0;
    std::weak_ptr<const void> world_;
};

// One of Stashbay's status items in the system status bar. It shows in the world's menu bar as
// a status item of Stashbay's process, in a status window at the status-bar level whose
// "statusItem" value is this item. Removed from the bar when destroyed. Main executor only.
class StatusItem final : public cf::Object, public std::enable_shared_from_this<StatusItem> {
public:
    const char* typeName() const override { return "NSStatusItem"; }

    // A new item of variable length. A status item that the world already shows for Stashbay (as
    // a scenario puts one there) and that no other StatusItem shows becomes this item; otherwise
    // the item enters the bar at its left end.
    static std::shared_ptr<StatusItem> create();
    ~StatusItem() override;

    sim::StatusItemID worldItem() const { return item_; }
    const std::shared_ptr<StatusBarButton>& button() const { return button_; }
    const std::shared_ptr<Window>& window() const { return window_; }
    // The name under which the system keeps the item's place in the bar.
    std::string autosaveName() const { return *autosaveName_; }
    void setAutosaveName(std::string name) const { *autosaveName_ = std::move(name); }

private:
    struct Tag {};

public:
    StatusItem(Tag, sim::StatusItemID item);

private:
    sim::StatusItemID item_;
    std::shared_ptr<StatusBarButton> button_ = std::make_shared<StatusBarButton>();
    std::shared_ptr<Window> window_;
    // Shared so that the item, which key-value coding hands out as a constant object, keeps its
    // reference semantics.
    std::shared_ptr<std::string> autosaveName_ = std::make_shared<std::string>();
    std::weak_ptr<const void> world_;
};

// The menu-bar extra in window style: a status item whose click shows the content in a panel
// window under it and whose next click closes it. The content is shown when the panel opens
// and told when it closes. Main executor only.
class MenuBarExtra : public std::enable_shared_from_this<MenuBarExtra> {
public:
    static std::shared_ptr<MenuBarExtra> create(std::optional<Image> label, std::shared_ptr<View> content);

    const std::shared_ptr<StatusItem>& statusItem() const { return statusItem_; }
    const std::shared_ptr<Window>& window() const { return window_; }
    const std::shared_ptr<View>& content() const { return content_; }
    bool isPresented() const;
    // Sizes a shown panel to its content again, keeping its top edge where it is.
    void contentSizeChanged();

private:
    struct Tag {};

public:
    MenuBarExtra(Tag, std::shared_ptr<View> content);

private:
    void toggle();
    void present();
    void dismiss();

    std::shared_ptr<View> content_;
    std::shared_ptr<StatusItem> statusItem_;
    std::shared_ptr<Window> window_;
    bool contentShown_ = false;
};

}  // namespace ns
