#include "WorldPicture.hpp"

#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "macos/ServiceManagement/AppService.hpp"

#include <QDateTime>

#include <cstring>
#include <type_traits>

namespace desktop {

namespace {

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    template <typename T>
    requires std::is_trivially_copyable_v<T> Writer& operator<<(const T& value) {
        out_.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    Writer& operator<<(const std::string& text) {
        *this << text.size();
        out_.append(text);
        return *this;
    }
    Writer& operator<<(const std::optional<std::string>& text) {
        *this << text.has_value();
        if (text) *this << *text;
        return *this;
    }
    Writer& operator<<(const cg::Rect& r) { return *this << r.minX() << r.minY() << r.width() << r.height(); }

private:
    std::string& out_;
};

}  // namespace

WorldPicture WorldPicture::of(const sim::World& world, const SystemSettingsWindow& settings) {
    WorldPicture picture;
    picture.values_.reserve(4096);
    Writer out(picture.values_);
    if (auto primary = world.screens().primary()) {
        const auto& spec = primary->spec();
        out << spec.frame << spec.safeAreaInsets.top << spec.auxiliaryTopLeftArea.has_value()
            << spec.auxiliaryTopRightArea.has_value();
        if (spec.auxiliaryTopLeftArea) out << *spec.auxiliaryTopLeftArea;
        if (spec.auxiliaryTopRightArea) out << *spec.auxiliaryTopRightArea;
    }
    out << world.menuBarHeight();
    for (const auto* w : world.windowServer().ordered())
        out << w->number << w->owner << w->onScreen << w->layer << w->bounds << w->name << w->color;
    for (const auto* item : world.statusItems()) {
        const auto& spec = item->spec;
        out << item->id << item->owner << item->onBar << item->shown << item->frame << item->image.get()
            << item->imageSize.width << item->imageSize.height << spec.iconColor << spec.title << spec.text
            << spec.showsTime << spec.symbol;
    }
    // Stashbay's own items show their buttons' images.
    for (const auto& window : ns::Application::shared().windows()) {
        if (window->level() != ns::WindowLevel::statusBar) continue;
        try {
            auto value = window->valueForKey("statusItem");
            auto item = value ? value->as<ns::StatusItem>() : nullptr;
            if (item && item->button() && item->button()->image())
                out << window->windowNumber() << item->button()->image()->cgImage().get();
        } catch (const ns::UnknownKeyException&) {
        }
    }
    out << world.openMenuWindow().value_or(0) << world.openMenuItem().value_or(0)
        << world.openPopoverWindow().value_or(0) << world.openPopoverItem().value_or(0);
    for (const auto& level : world.openMenuLevels())
        out << level.window << level.entries << level.highlighted.has_value() << level.highlighted.value_or(0);
    const auto front = world.processes().frontmost();
    out << front.value_or(0);
    if (front)
        if (auto process = world.processes().find(*front)) out << process->localizedName();
    const auto pointer = world.events().pointerLocation();
    out << pointer.x << pointer.y << world.events().cursorVisible();
    // A Command-drag draws its item at the pointer and the others where the drop leaves them.
    const auto drag = world.events().itemDrag();
    out << drag.has_value();
    if (drag) out << drag->item << drag->pressedAt.x << drag->pressedAt.y << drag->over.value_or(0);
    const auto& permissions = world.permissions();
    out << permissions.accessibility << permissions.screenRecording << permissions.openedSettingsURLs.size()
        << permissions.openedWebURLs.size();
    out << settings.isShown() << settings.pane();
    if (settings.isShown() && settings.pane() == SystemSettingsWindow::Pane::loginItems)
        out << sm::AppService::mainApp().status();
    // The tooltip the desktop draws for Stashbay's views.
    const auto& tip = ns::Application::shared().toolTip();
    out << tip.has_value();
    if (tip) out << tip->text << tip->topLeft.x << tip->topLeft.y;
    out << QDateTime::currentDateTime().toString("ddd HH:mm").toStdString();
    return picture;
}

}  // namespace desktop
