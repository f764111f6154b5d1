#include "EngineScene.hpp"

#include <algorithm>
#include <iostream>

using namespace std::chrono_literals;
using T = cg::EventType;

namespace {

// Another application's active tap at the head of the session that swallows one type of event.
struct Swallower {
    cf::MachPortRef port;
    cf::RunLoopSourceRef source;

    static cg::EventRef callback(cg::EventTapProxy, cg::EventType, const cg::EventRef&, void*) { return nullptr; }
    explicit Swallower(T type) {
        port =
            cg::eventTapCreate(cg::EventTapLocation::session, cg::EventTapPlacement::headInsert,
                               cg::EventTapOptions::defaultTap, cg::eventMaskBit(type), &Swallower::callback, nullptr);
        source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
        cf::runLoopAddSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes);
    }
    ~Swallower() { cf::machPortInvalidate(port); }
};

stashbay::MenuBarItem withWindow(const stashbay::MenuBarItem& item, std::uint32_t windowID) {
    return stashbay::MenuBarItem(item.id(), item.ownerPID(), item.ownerBundleID(), item.ownerName(), item.title(),
                                 item.position(), item.size(), windowID, true, true, item.isOnScreen(), nullptr,
                                 item.lastSeen());
}

// On the default desktop: the notched built-in display and its crowded bar.
class ClickTest : public EngineTest {
public:
    ClickTest() : EngineTest(sim::defaultScenario()) {}

    std::size_t indexOf(const sim::StatusItem& item) { return *world.menuBar().indexOf(item.id); }
    void expectPointerBack(cg::Point where, const std::string& context) {
        EXPECT_EQ(world.events().pointerLocation(), where) << context;
        EXPECT_TRUE(world.events().cursorVisible()) << context;
        EXPECT_TRUE(world.events().mouseAssociated()) << context;
    }
    const sim::StatusItem& firstOffTheBar() {
        for (const auto* item : world.statusItems())
            if (!item->onBar) return *item;
        throw std::logic_error("every item is on the bar");
    }
    // The visible status item with the smallest left edge, other than `except`.
    const sim::StatusItem* leftmostVisible(const sim::StatusItem* except = nullptr) {
        const sim::StatusItem* best = nullptr;
        for (const auto* item : world.statusItems()) {
            if (item == except || !item->onBar || item->frame.minX() < 0) continue;
            if (!best || item->frame.minX() < best->frame.minX()) best = item;
        }
        return best;
    }

    // Every status window hidden but the first two items': the first at x 100, left of the
    // housing, and the second, which a test places.
    std::pair<sim::Window*, sim::Window*> twoVisibleWindows() {
        const auto items = world.statusItems();
        for (const auto* item : items)
            if (auto* w = world.windowServer().find(item->window)) w->onScreen = false;
        auto* leftmost = world.windowServer().find(items[0]->window);
        auto* candidate = world.windowServer().find(items[1]->window);
        leftmost->onScreen = candidate->onScreen = true;
        leftmost->bounds = cg::Rect{100, 0, 30, 37};
        return {leftmost, candidate};
    }

    struct ShowFigures {
        runtime::Duration moveBackAfter;
        runtime::Duration total;
        std::size_t windowListReads;
    };
    // The temporary show of the first item off the bar, its menu closing by itself after
    // `menuClosesAfter` (or never), up to the move back.
    ShowFigures temporaryShow(std::optional<runtime::Duration> menuClosesAfter) {
        const auto& hidden = firstOffTheBar();
        world.mutableStatusItem(hidden.id)->spec.behaviour.menuClosesAfter = menuClosesAfter;
        const auto item = itemOf(hidden);
        const auto owner = item.ownerName();
        // The drop target: the first visible window, left to right, with the item's width of room
        // right of the housing (its right edge 850, plus 10).
        const double room = std::max(hidden.frame.width(), 24.0);
        std::vector<const sim::StatusItem*> visible;
        for (const auto* i : world.statusItems())
            if (i->onBar) visible.push_back(i);
        std::sort(visible.begin(), visible.end(), [](auto* a, auto* b) { return a->frame.minX() < b->frame.minX(); });
        const auto target =
            *std::find_if(visible.begin(), visible.end(), [&](auto* i) { return 860.0 < i->frame.minX() - room; });

        world.events().warpPointer({700, 500});
        const auto startDate = loop.date();
        const auto reads = world.windowServer().listQueryCount();
        EXPECT_TRUE(run(engine().tempShowAndClick(item)));

        EXPECT_EQ(indexOf(hidden), indexOf(*target) + 1) << "just left of the target";
        EXPECT_TRUE(hidden.onBar);
        EXPECT_EQ(world.openMenuItem(), hidden.id);
        expectPointerBack({700, 500}, "after the show");
        EXPECT_EQ(texts(),
                  (std::vector<std::string>{"tempShowAndClick: " + owner + " windowID=" + std::to_string(hidden.window),
                                            "Move succeeded on attempt 1"}));

        const auto* boundary = leftmostVisible(&hidden);
        const auto returned = "Returned " + owner + " to the stashbay boundary";
        const auto after = advanceUntil([&] { return texts().back() == returned; }, 5ms);
        EXPECT_EQ(indexOf(hidden), indexOf(*boundary) + 1) << "left of the leftmost other visible item";
        // The move back ends with its record: the show's time is the record's, to the microsecond.
        const auto ended = capture->first("menuBarController", "Returned")->date;
        const auto total = std::chrono::duration_cast<runtime::Duration>(
            std::chrono::duration<double>(ended - startDate.timeIntervalSinceReferenceDate));
        const ShowFigures figures{after, total, world.windowServer().listQueryCount() - reads};
        settle();
        return figures;
    }
};

}  // namespace

TEST_F(ClickTest, AConfirmedClickOpensTheItemsMenuAndPutsThePointerBack) {
    struct Case {
        cg::MouseButton button;
        T down;
        const char* word;
    };
    const std::vector<Case> cases = {
        {cg::MouseButton::left, T::leftMouseDown, "left"},
        {cg::MouseButton::right, T::rightMouseDown, "right"},
        {cg::MouseButton::center, T::leftMouseDown, "left"},
    };
    const auto& wifi = byTitle("Wi-Fi");
    for (const auto& c : cases) {
        capture->clear();
        world.closeMenus();
        world.events().warpPointer({700, 500});
        EXPECT_TRUE(run(engine().clickItem(itemOf(wifi), c.button))) << c.word;
        EXPECT_EQ(texts(), std::vector<std::string>{"Clicked Control Center (" + std::string(c.word) +
                                                    ") at x=" + std::to_string(wifi.frame.midX())});
        EXPECT_EQ(world.openMenuItem(), wifi.id) << c.word;
        expectPointerBack({700, 500}, c.word);
        const auto& last = world.events().handled().back().event;
        EXPECT_EQ(cg::eventGetIntegerValueField(last, cg::EventField::mouseEventButtonNumber),
                  static_cast<std::int64_t>(c.button));
        EXPECT_EQ(cg::eventGetIntegerValueField(last, cg::EventField::mouseEventClickState), 1);
        const auto handledDowns = std::count_if(world.events().handled().begin(), world.events().handled().end(),
                                                [&](const auto& h) { return cg::eventGetType(h.event) == c.down; });
        EXPECT_GE(handledDowns, 1) << c.word;
        settle();
    }
}

TEST_F(ClickTest, AFailedClickSaysWhyAndPutsThePointerBack) {
    struct Case {
        const char* name;
        std::function<void(sim::World&, std::optional<Swallower>&)> arrange;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"no Accessibility", [](sim::World& w, auto&) { w.permissions().accessibility = false; }, "tapCreationFailed"},
        {"no event source", [](sim::World& w, auto&) { w.faults().eventSourceCreationFails = true; },
         "eventCreationFailed"},
        {"another tap swallows the click", [](sim::World&, auto& s) { s.emplace(T::leftMouseDown); },
         "deliveryTimeout"},
    };
    const auto& wifi = byTitle("Wi-Fi");
    for (const auto& c : cases) {
        capture->clear();
        world.closeMenus();
        std::optional<Swallower> swallower;
        c.arrange(world, swallower);
        world.events().warpPointer({700, 500});
        EXPECT_FALSE(run(engine().clickItem(itemOf(wifi)))) << c.name;
        EXPECT_EQ(texts(), std::vector<std::string>{"Click failed for Control Center: " + std::string(c.error)});
        EXPECT_FALSE(world.openMenuItem()) << c.name;
        expectPointerBack({700, 500}, c.name);
        world.permissions().accessibility = true;
        world.faults() = {};
        swallower.reset();
        settle();
    }
}

TEST_F(ClickTest, AClickThatFailsAfterTheMoveStillHasTheItemMovedBack) {
    Swallower swallower(T::rightMouseDown);
    const auto& hidden = firstOffTheBar();
    const auto owner = itemOf(hidden).ownerName();
    EXPECT_FALSE(run(engine().tempShowAndClick(itemOf(hidden), cg::MouseButton::right)));
    EXPECT_TRUE(hidden.onBar);
    EXPECT_EQ(texts().back(), "Click after move failed for " + owner + ": deliveryTimeout");
    const auto after =
        advanceUntil([&] { return texts().back() == "Returned " + owner + " to the stashbay boundary"; });
    EXPECT_GE(after, 1800ms);
    EXPECT_LE(after, 1950ms);
    settle();
}

TEST_F(ClickTest, AnItemWithoutAWindowOrFrameIsNotClickedAndNothingIsSent) {
    const auto wifi = itemOf("Wi-Fi");
    EXPECT_FALSE(run(engine().clickItem(withWindow(wifi, 0))));
    EXPECT_FALSE(run(engine().clickItem(withWindow(wifi, 99999))));
    EXPECT_TRUE(texts().empty());
    EXPECT_FALSE(run(engine().tempShowAndClick(withWindow(wifi, 0))));
    EXPECT_EQ(texts(), std::vector<std::string>{"tempShowAndClick: Control Center windowID=0"});
    EXPECT_TRUE(world.events().routes().empty());
}

TEST_F(ClickTest, ATemporaryShowClicksTheItemAndMovesItBackOnceItsMenuHasClosed) {
    const auto figures = temporaryShow(300ms);
    EXPECT_GE(figures.moveBackAfter, 1800ms);
    EXPECT_LE(figures.moveBackAfter, 1950ms);
    // The figure of one temporary show on the default desktop: move in, click, move back.
    std::cout << "one temporary show: " << std::chrono::duration_cast<std::chrono::milliseconds>(figures.total).count()
              << " ms of virtual time, " << figures.windowListReads << " window-list reads\n";
    RecordProperty("virtualMilliseconds",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(figures.total).count()));
    RecordProperty("windowListReads", static_cast<int>(figures.windowListReads));
}

TEST_F(ClickTest, ATemporaryShowWhoseMenuNeverClosesMovesBackAfterThirtySeconds) {
    const auto figures = temporaryShow(std::nullopt);
    EXPECT_GE(figures.moveBackAfter, 30800ms);
    EXPECT_LE(figures.moveBackAfter, 30950ms);
}

TEST_F(ClickTest, AnItemIsClickedInPlaceOnlyWhenItsWindowIsOnTheVisibleBar) {
    struct Case {
        const char* name;
        cg::Point origin;
        std::string record;
    };
    const std::vector<Case> cases = {
        {"at the left edge, just inside the bar's height", {0, 49.9}, "Clicked Spotlight (left) at x=15.000000"},
        {"below the bar's height", {0, 50}, "Failed to move Spotlight: itemNotFound"},
        {"left of the screen", {-1, 0}, "Move succeeded on attempt 1"},
    };
    const auto& spotlight = byTitle("Spotlight");
    for (const auto& c : cases) {
        capture->clear();
        world.closeMenus();
        auto* window = world.windowServer().find(spotlight.window);
        window->bounds = cg::Rect{c.origin, spotlight.frame.size};
        window->onScreen = true;
        run(engine().tempShowAndClick(itemOf(spotlight)));
        const auto records = texts();
        ASSERT_GE(records.size(), 2u) << c.name;
        EXPECT_EQ(records[1], c.record) << c.name;
        settle();
    }
}

TEST_F(ClickTest, TheDropTargetIsTheFirstWindowWithRoomRightOfTheHousingElseTheLeftmost) {
    // The scenario's item without a status window has none to hide. Only two status windows stay visible: one at x 100,
    // left of the housing, and one whose left edge the rows place. The housing's right edge is at 850, so the boundary
    // is 860.
    const auto items = world.statusItems();
    auto [leftmost, candidate] = twoVisibleWindows();
    struct Row {
        double left;
        double width;
        bool candidateChosen;
    };
    for (const auto& row : std::vector<Row>{{884, 24, false}, {885, 24, true}, {890, 30, false}, {891, 30, true}}) {
        candidate->bounds = cg::Rect{row.left, 0, 30, 37};
        auto target = engine().findVisibleTarget(row.width);
        ASSERT_TRUE(target);
        EXPECT_EQ(target->windowID, row.candidateChosen ? candidate->number : leftmost->number)
            << row.left << " " << row.width;
    }
    leftmost->onScreen = candidate->onScreen = false;
    EXPECT_FALSE(engine().findVisibleTarget(24));
    const auto& hidden = firstOffTheBar();
    EXPECT_FALSE(run(engine().tempShowAndClick(itemOf(hidden))));
    EXPECT_EQ(texts().back(), "No visible slot with enough room for " + itemOf(hidden).ownerName());
}

TEST_F(ClickTest, ANarrowItemIsGivenTwentyFourPointsOfRoomBesideItsDropTarget) {
    // As above: the leftmost visible window at x 100, left of the housing, and one at 880, right of
    // the 860 boundary. A 16-point item would fit left of 880 (864 > 860); with 24 points it does
    // not (856), so the item goes left of the leftmost window instead.
    const auto items = world.statusItems();
    auto [leftmost, candidate] = twoVisibleWindows();
    candidate->bounds = cg::Rect{880, 0, 30, 37};
    const auto& hidden = firstOffTheBar();
    const auto wide = itemOf(hidden);
    const stashbay::MenuBarItem narrow(wide.id(), wide.ownerPID(), wide.ownerBundleID(), wide.ownerName(), wide.title(),
                                       wide.position(), cg::Size{16, wide.size().height}, wide.windowID(), true, true,
                                       false, nullptr, wide.lastSeen());
    ASSERT_TRUE(engine().findVisibleTarget(16));
    EXPECT_EQ(engine().findVisibleTarget(16)->windowID, candidate->number) << "the room alone would allow it";
    run(engine().tempShowAndClick(narrow));
    EXPECT_EQ(indexOf(hidden), indexOf(*items[0]) + 1) << "dropped left of the leftmost window";
    settle();
}

TEST_F(ClickTest, AShownItemWhoseWindowIsLostBeforeTheClickIsStillMovedBack) {
    const auto& hidden = firstOffTheBar();
    const auto item = itemOf(hidden);
    const auto owner = item.ownerName();
    auto show = runtime::spawn(runtime::mainExecutor(), engine().tempShowAndClick(item));
    advanceUntil([&] { return !texts().empty() && texts().back() == "Move succeeded on attempt 1"; }, 1ms);
    // The window list is gone while the engine looks for the moved window, then comes back.
    world.faults().windowListUnavailable = true;
    advanceUntil([&] { return show.isFinished(); }, 1ms);
    EXPECT_FALSE(show.result());
    EXPECT_EQ(texts().back(), "Moved " + owner + " but lost its window");
    world.faults().windowListUnavailable = false;
    EXPECT_TRUE(hidden.onBar);
    advanceUntil([&] { return texts().back() == "Returned " + owner + " to the stashbay boundary"; });
    settle();
}
