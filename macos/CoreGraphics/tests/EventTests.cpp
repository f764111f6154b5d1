#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

using T = cg::EventType;

namespace {

class EventTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_F(EventTest, ANullEventSitsAtThePointerAndAMouseEventCarriesItsButton) {
    auto null = cg::eventCreate(nullptr);
    ASSERT_TRUE(null);
    EXPECT_EQ(cg::eventGetType(null), T::null);
    EXPECT_EQ(cg::eventGetLocation(null), world.events().pointerLocation());

    auto source = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    auto e = cg::eventCreateMouseEvent(source, T::rightMouseDown, {3, 4}, cg::MouseButton::right);
    EXPECT_EQ(cg::eventGetType(e), T::rightMouseDown);
    EXPECT_EQ(cg::eventGetLocation(e), (cg::Point{3, 4}));
    EXPECT_EQ(cg::eventGetFlags(e), 0u);
    EXPECT_EQ(cg::eventGetIntegerValueField(e, cg::EventField::mouseEventButtonNumber), 1);
    EXPECT_EQ(cg::eventGetIntegerValueField(e, cg::EventField::mouseEventClickState), 0);
    EXPECT_EQ(cg::eventCreateSourceFromEvent(e), source);
}

TEST_F(EventTest, ACopyIsANewEventWithTheSameContents) {
    auto e = cg::eventCreateMouseEvent(nullptr, T::leftMouseUp, {1, 2}, cg::MouseButton::left);
    cg::eventSetFlags(e, cg::eventFlagMaskCommand);
    cg::eventSetIntegerValueField(e, static_cast<cg::EventField>(51), 123);
    auto copy = cg::eventCreateCopy(e);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, e);
    EXPECT_EQ(cg::eventGetFlags(copy), cg::eventFlagMaskCommand);
    EXPECT_EQ(cg::eventGetIntegerValueField(copy, static_cast<cg::EventField>(51)), 123);
    cg::eventSetIntegerValueField(copy, static_cast<cg::EventField>(51), 7);
    EXPECT_EQ(cg::eventGetIntegerValueField(e, static_cast<cg::EventField>(51)), 123);
}

TEST_F(EventTest, NullEventsReadAsZeroAndIgnoreWrites) {
    cg::EventRef none;
    cg::eventSetFlags(none, 1);
    cg::eventSetIntegerValueField(none, cg::EventField::eventSourceUserData, 1);
    EXPECT_EQ(cg::eventGetType(none), T::null);
    EXPECT_EQ(cg::eventGetFlags(none), 0u);
    EXPECT_EQ(cg::eventGetIntegerValueField(none, cg::EventField::eventSourceUserData), 0);
    EXPECT_FALSE(cg::eventCreateCopy(none));
    cg::eventPost(cg::EventTapLocation::hid, none);
    loop.runUntilIdle();
    EXPECT_TRUE(world.events().routes().empty());
}

TEST_F(EventTest, FaultSwitchesMakeCreationAndCopiesFail) {
    struct Case {
        const char* name;
        bool sim::Faults::*fault;
        std::function<bool()> made;
    };
    auto e = cg::eventCreate(nullptr);
    const std::vector<Case> cases = {
        {"event", &sim::Faults::eventCreationFails, [] { return cg::eventCreate(nullptr) != nullptr; }},
        {"mouse event", &sim::Faults::eventCreationFails,
         [] { return cg::eventCreateMouseEvent(nullptr, T::leftMouseDown, {}, cg::MouseButton::left) != nullptr; }},
        {"copy", &sim::Faults::eventCopyFails, [&] { return cg::eventCreateCopy(e) != nullptr; }},
        {"source", &sim::Faults::eventSourceCreationFails,
         [] { return cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState) != nullptr; }},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.made()) << c.name;
        world.faults().*c.fault = true;
        EXPECT_FALSE(c.made()) << c.name;
        world.faults().*c.fault = false;
    }
}

TEST_F(EventTest, EventSourcesKeepTheirFiltersAndIntervalAndAreRecorded) {
    auto s = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    using S = cg::EventSuppressionState;
    EXPECT_EQ(s->stateID(), cg::EventSourceStateID::hidSystemState);
    EXPECT_EQ(cg::eventSourceGetLocalEventsSuppressionInterval(s), 0.25);
    EXPECT_EQ(cg::eventSourceGetLocalEventsFilterDuringSuppressionState(s, S::suppressionInterval),
              cg::eventFilterMaskPermitSystemDefinedEvents);
    cg::eventSourceSetLocalEventsFilterDuringSuppressionState(s, 7, S::remoteMouseDrag);
    cg::eventSourceSetLocalEventsSuppressionInterval(s, -1);
    EXPECT_EQ(cg::eventSourceGetLocalEventsFilterDuringSuppressionState(s, S::remoteMouseDrag), 7u);
    EXPECT_EQ(cg::eventSourceGetLocalEventsFilterDuringSuppressionState(s, S::suppressionInterval), 4u);
    EXPECT_EQ(cg::eventSourceGetLocalEventsSuppressionInterval(s), 0.0);
    ASSERT_EQ(world.events().sources().size(), 1u);
    EXPECT_EQ(world.events().sources()[0], s);
}
