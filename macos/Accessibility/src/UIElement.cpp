#include "macos/Accessibility/UIElement.hpp"

#include "macos/Accessibility/Names.hpp"
#include "macos/Accessibility/Value.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/EventLoop.hpp"

namespace ax {

namespace {

using Kind = UIElement::Kind;

// What an element names, found in the world as it is now.
struct Place {
    const sim::StatusItem* item = nullptr;
    // The entries of a menu element; the entry of a menu-item element.
    const std::vector<sim::MenuEntrySpec>* entries = nullptr;
    const sim::MenuEntrySpec* entry = nullptr;
};

cf::Value element(Kind kind, std::int32_t pid, sim::StatusItemID item = 0, std::vector<std::size_t> path = {}) {
    return cf::Value(cf::Value::ObjectRef(std::make_shared<const UIElement>(kind, pid, item, std::move(path))));
}

cf::Value optionalText(const std::optional<std::string>& text, Error& error) {
    if (!text) error = Error::noValue;
    return cf::Value(text.value_or(std::string()));
}

// Checks trust and reaches the application, spending the time the call takes there.
Error enter(sim::World& world, const UIElementRef& element) {
    if (!element) return Error::illegalArgument;
    if (!world.permissions().accessibility) return Error::apiDisabled;
    if (!world.processes().find(element->pid())) return Error::invalidUIElement;
    const auto* behaviour = world.behaviourOf(element->pid());
    if (!behaviour) return Error::success;
    auto& clock = runtime::EventLoop::current().clock();
    if (behaviour->hung) {
        clock.consume(world.accessibilityMessagingTimeout());
        return Error::cannotComplete;
    }
    if (behaviour->accessibilityCallCost > runtime::Duration::zero()) clock.consume(behaviour->accessibilityCallCost);
    return Error::success;
}

std::optional<Place> resolve(const sim::World& world, const UIElement& e) {
    Place place;
    switch (e.kind()) {
        case Kind::application: return place;
        case Kind::extrasMenuBar:
            if (!world.hasExtrasMenuBar(e.pid())) return std::nullopt;
            return place;
        case Kind::statusItem:
        case Kind::menu:
        case Kind::menuItem: break;
    }
    place.item = world.statusItem(e.statusItem());
    if (!place.item || place.item->owner != e.pid()) return std::nullopt;
    if (e.kind() == Kind::statusItem) return e.path().empty() ? std::optional(place) : std::nullopt;
    if (e.kind() == Kind::menuItem && e.path().empty()) return std::nullopt;
    const auto* entries = &place.item->spec.menu;
    for (auto index : e.path()) {
        if (index >= entries->size()) return std::nullopt;
        place.entry = &(*entries)[index];
        entries = &place.entry->submenu;
    }
    // A menu exists only while it has entries.
    if (e.kind() == Kind::menu && entries->empty()) return std::nullopt;
    place.entries = entries;
    return place;
}

Error readApplication(const sim::World& world, const UIElement& e, std::string_view attribute, cf::Value& out) {
    Error error = Error::success;
    if (attribute == attribute::role) {
        out = role::application;
    } else if (attribute == attribute::title) {
        out = optionalText(world.processes().find(e.pid())->localizedName(), error);
    } else if (attribute == attribute::extrasMenuBar) {
        if (!world.hasExtrasMenuBar(e.pid())) return Error::noValue;
        out = element(Kind::extrasMenuBar, e.pid());
    } else {
        return Error::attributeUnsupported;
    }
    return error;
}

Error readExtrasMenuBar(const sim::World& world, const UIElement& e, std::string_view attribute, cf::Value& out) {
    if (attribute == attribute::role) {
        out = role::menuBar;
    } else if (attribute == attribute::children) {
        cf::Array children;
        for (const auto* item : world.statusItemsOf(e.pid()))
            children.push_back(element(Kind::statusItem, e.pid(), item->id));
        out = std::move(children);
    } else {
        return Error::attributeUnsupported;
    }
    return Error::success;
}

Error readStatusItem(const sim::StatusItem& item, std::string_view attribute, cf::Value& out) {
    Error error = Error::success;
    if (attribute == attribute::role) {
        out = role::menuBarItem;
    } else if (attribute == attribute::subrole) {
        out = optionalText(item.spec.subrole, error);
    } else if (attribute == attribute::title) {
        out = optionalText(item.spec.title, error);
    } else if (attribute == attribute::enabled) {
        out = item.spec.enabled;
    } else if (attribute == attribute::position) {
        if (item.spec.positionUnreadable) return Error::noValue;
        out = valueCreate(item.frame.origin);
    } else if (attribute == attribute::size) {
        if (item.spec.sizeUnreadable) return Error::noValue;
        out = valueCreate(item.frame.size);
    } else if (attribute == attribute::children) {
        cf::Array children;
        if (!item.spec.menu.empty()) children.push_back(element(Kind::menu, item.owner, item.id));
        out = std::move(children);
    } else {
        return Error::attributeUnsupported;
    }
    return error;
}

Error readMenu(const UIElement& e, const Place& place, std::string_view attribute, cf::Value& out) {
    if (attribute == attribute::role) {
        out = role::menu;
    } else if (attribute == attribute::children) {
        cf::Array children;
        for (std::size_t i = 0; i < place.entries->size(); ++i) {
            auto path = e.path();
            path.push_back(i);
            children.push_back(element(Kind::menuItem, e.pid(), e.statusItem(), std::move(path)));
        }
        out = std::move(children);
    } else {
        return Error::attributeUnsupported;
    }
    return Error::success;
}

Error readMenuItem(const UIElement& e, const sim::MenuEntrySpec& entry, std::string_view attribute, cf::Value& out) {
    Error error = Error::success;
    if (attribute == attribute::role) {
        out = role::menuItem;
    } else if (attribute == attribute::subrole) {
        // Only separators carry a subrole.
        if (!entry.separator) return Error::noValue;
        out = subrole::separatorMenuItem;
    } else if (attribute == attribute::title) {
        out = optionalText(entry.title, error);
    } else if (attribute == attribute::enabled) {
        out = entry.enabled;
    } else if (attribute == attribute::menuItemMarkChar) {
        out = optionalText(entry.markChar, error);
    } else if (attribute == attribute::children) {
        cf::Array children;
        if (!entry.submenu.empty()) children.push_back(element(Kind::menu, e.pid(), e.statusItem(), e.path()));
        out = std::move(children);
    } else {
        return Error::attributeUnsupported;
    }
    return error;
}

}  // namespace

UIElementRef createApplication(std::int32_t pid) { return std::make_shared<const UIElement>(Kind::application, pid); }

Error copyAttributeValue(const UIElementRef& e, std::string_view attribute, std::optional<cf::Value>& value) {
    value.reset();
    auto* world = sim::World::currentOrNull();
    if (!e || attribute.empty()) return Error::illegalArgument;
    if (!world) return Error::invalidUIElement;
    if (auto entered = enter(*world, e); entered != Error::success) return entered;
    auto place = resolve(*world, *e);
    if (!place) return Error::invalidUIElement;
    if (const auto* behaviour = world->behaviourOf(e->pid())) {
        if (behaviour->allAttributesError) return static_cast<Error>(*behaviour->allAttributesError);
        auto scripted = behaviour->attributeErrors.find(std::string(attribute));
        // A scripted success answers with no value at all, as a broken application may.
        if (scripted != behaviour->attributeErrors.end()) return static_cast<Error>(scripted->second);
    }
    cf::Value out;
    Error error = Error::attributeUnsupported;
    switch (e->kind()) {
        case Kind::application: error = readApplication(*world, *e, attribute, out); break;
        case Kind::extrasMenuBar: error = readExtrasMenuBar(*world, *e, attribute, out); break;
        case Kind::statusItem: error = readStatusItem(*place->item, attribute, out); break;
        case Kind::menu: error = readMenu(*e, *place, attribute, out); break;
        case Kind::menuItem: error = readMenuItem(*e, *place->entry, attribute, out); break;
    }
    if (error == Error::success) value = std::move(out);
    return error;
}

Error performAction(const UIElementRef& e, std::string_view action) {
    auto* world = sim::World::currentOrNull();
    if (!e || action.empty()) return Error::illegalArgument;
    if (!world) return Error::invalidUIElement;
    if (auto entered = enter(*world, e); entered != Error::success) return entered;
    auto place = resolve(*world, *e);
    if (!place) return Error::invalidUIElement;
    using Trigger = sim::World::MenuTrigger;
    if (e->kind() == Kind::statusItem && (action == action::press || action == action::showMenu)) {
        auto trigger = action == action::press ? Trigger::press : Trigger::showMenu;
        return static_cast<Error>(world->performItemAction(place->item->id, trigger));
    }
    if (e->kind() == Kind::menuItem && action == action::press) {
        // Neither a separator nor a disabled entry can be chosen.
        if (place->entry->separator || !place->entry->enabled) return Error::cannotComplete;
        world->chooseMenuEntry(place->item->id, e->path());
        return Error::success;
    }
    return Error::actionUnsupported;
}

Error getPid(const UIElementRef& e, std::int32_t& pid) {
    if (!e) return Error::illegalArgument;
    pid = e->pid();
    return Error::success;
}

}  // namespace ax
