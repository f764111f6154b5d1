#include "Views/StashbayPanel/StashbayPanelView.hpp"
#include "macos/AppKit/Event.hpp"
#include "macos/CoreGraphics/Event.hpp"

#include <gtest/gtest.h>

#include <memory>

using namespace stashbay;
using Key = StashbayPanelModel::Key;

namespace {

ns::Event keyDown(std::uint16_t keyCode, cg::EventFlags flags) {
    auto event = std::make_shared<cg::Event>(cg::EventType::keyDown, cg::Point{0, 0}, nullptr);
    event->setIntegerValue(cg::EventField::keyboardEventKeycode, keyCode);
    event->setFlags(flags);
    return ns::Event(event);
}

}  // namespace

// Return with Control or Shift is the panel's right click, so each flag must reach its own
// modifier: Command or Option read as Control would turn a left click into a right one.
TEST(PanelKeyTranslation, EachModifierFlagReachesItsOwnModifierAndOnlyThePanelsKeysAreNamed) {
    struct Case {
        cg::EventFlags flags;
        bool control, shift, option, command;
    };
    for (const auto& c : {Case{0, false, false, false, false}, Case{ns::modifierFlagControl, true, false, false, false},
                          Case{ns::modifierFlagShift, false, true, false, false},
                          Case{ns::modifierFlagOption, false, false, true, false},
                          Case{ns::modifierFlagCommand, false, false, false, true},
                          Case{ns::modifierFlagCapsLock | ns::modifierFlagFunction, false, false, false, false},
                          Case{ns::modifierFlagControl | ns::modifierFlagCommand, true, false, false, true}}) {
        SCOPED_TRACE(c.flags);
        const auto modifiers = StashbayPanelView::modifiersOf(keyDown(36, c.flags));
        EXPECT_EQ(modifiers.control, c.control);
        EXPECT_EQ(modifiers.shift, c.shift);
        EXPECT_EQ(modifiers.option, c.option);
        EXPECT_EQ(modifiers.command, c.command);
    }
    struct KeyCase {
        std::uint16_t code;
        Key key;
    };
    for (const auto& c :
         {KeyCase{53, Key::escape}, KeyCase{123, Key::leftArrow}, KeyCase{124, Key::rightArrow},
          KeyCase{36, Key::returnKey}, KeyCase{76, Key::returnKey}, KeyCase{49, Key::space}, KeyCase{46, Key::other}}) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(StashbayPanelView::keyOf(keyDown(c.code, 0)), c.key);
    }
}
