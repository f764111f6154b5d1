#include "System/WindowListBridge.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/CoreGraphics/WindowList.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include "SceneTest.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using stashbay::WindowListBridge;
using Entry = WindowListBridge::CGWindowEntry;

namespace {

// One screen; Stashbay (pid 500) and two applications without windows or status items.
constexpr const char* emptyDesk = R"({
  "version": 1,
  "screens": [{"frame": {"x": 0, "y": 0, "width": 1600, "height": 1000},
               "visibleFrame": {"x": 0, "y": 0, "width": 1600, "height": 976},
               "displayNumber": 1, "backingScaleFactor": 2}],
  "applications": [
    {"pid": 500, "bundleIdentifier": "app.stashbay.Stashbay", "name": "Stashbay"},
    {"pid": 10, "bundleIdentifier": "com.example.editor", "name": "Editor"},
    {"pid": 11, "bundleIdentifier": "com.example.viewer", "name": "Viewer"}
  ]})";

sim::WindowSpec window(cg::Rect bounds, std::int64_t layer = 25, bool onScreen = true,
                       std::optional<std::string> name = std::nullopt) {
    sim::WindowSpec spec;
    spec.name = std::move(name);
    spec.bounds = bounds;
    spec.layer = layer;
    spec.onScreen = onScreen;
    return spec;
}

class WindowListBridgeTest : public SceneTest {
protected:
    WindowListBridgeTest() : SceneTest(emptyDesk, "empty.json") {}

    std::vector<std::uint32_t> menuBarIDs() {
        std::vector<std::uint32_t> out;
        for (const auto& e : WindowListBridge::menuBarWindows()) out.push_back(e.windowID);
        return out;
    }
};

cf::Value bounds(double x, double y, double w, double h) {
    return cf::Value::dictionary({{"X", x}, {"Y", y}, {"Width", w}, {"Height", h}});
}

// A window dictionary as the window server gives it, to change one key at a time.
cf::Dictionary fullWindow() {
    return cf::Dictionary{
        {"kCGWindowNumber", 41},
        {"kCGWindowOwnerPID", 304},
        {"kCGWindowOwnerName", "Clock"},
        {"kCGWindowName", "Item-0"},
        {"kCGWindowBounds", bounds(1432, 0, 80, 37)},
        {"kCGWindowLayer", 25},
        {"kCGWindowIsOnscreen", true},
        {"kCGWindowAlpha", 1.0},
    };
}

cf::Dictionary with(cf::Dictionary d, const std::string& key, std::optional<cf::Value> value) {
    if (value)
        d[key] = *value;
    else
        d.erase(key);
    return d;
}

}  // namespace

TEST_F(WindowListBridgeTest, AFullDictionaryBecomesAnEntryWithEveryField) {
    auto entries = WindowListBridge::entriesFromWindowInfo(cf::Value(cf::Array{cf::Value(fullWindow())}));
    ASSERT_EQ(entries.size(), 1u);
    const auto& e = entries[0];
    EXPECT_EQ(e.windowID, 41u);
    EXPECT_EQ(e.ownerPID, 304);
    EXPECT_EQ(e.ownerName, "Clock");
    EXPECT_EQ(e.windowName, "Item-0");
    EXPECT_EQ(e.bounds, cg::Rect(1432, 0, 80, 37));
    EXPECT_EQ(e.layer, 25);
    EXPECT_TRUE(e.isOnScreen);
}

TEST_F(WindowListBridgeTest, DictionariesWithMissingOrMistypedKeys) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* what;
        cf::Dictionary window;
        bool kept;
        std::optional<std::string> windowName = std::string("Item-0");
        std::optional<std::string> ownerName = std::string("Clock");
        bool onScreen = true;
    };
    const Row rows[] = {
        {"no on-screen flag counts as on screen", with(fullWindow(), "kCGWindowIsOnscreen", std::nullopt), true},
        {"an on-screen flag that is not a boolean counts as on screen",
         with(fullWindow(), "kCGWindowIsOnscreen", cf::Value("no")), true},
        {"an on-screen flag of 0 bridges to false", with(fullWindow(), "kCGWindowIsOnscreen", cf::Value(0)), true,
         std::string("Item-0"), std::string("Clock"), false},
        {"an off-screen window", with(fullWindow(), "kCGWindowIsOnscreen", cf::Value(false)), true,
         std::string("Item-0"), std::string("Clock"), false},
        {"no name", with(fullWindow(), "kCGWindowName", std::nullopt), true, std::nullopt},
        {"an empty name is a name", with(fullWindow(), "kCGWindowName", cf::Value("")), true, std::string("")},
        {"a name that is not text is absent", with(fullWindow(), "kCGWindowName", cf::Value(7)), true, std::nullopt},
        {"no owner name", with(fullWindow(), "kCGWindowOwnerName", std::nullopt), true, std::string("Item-0"),
         std::nullopt},
        {"a whole real window number", with(fullWindow(), "kCGWindowNumber", cf::Value(41.0)), true},
        {"no window number", with(fullWindow(), "kCGWindowNumber", std::nullopt), false},
        {"a negative window number", with(fullWindow(), "kCGWindowNumber", cf::Value(-41)), false},
        {"a fractional window number", with(fullWindow(), "kCGWindowNumber", cf::Value(41.5)), false},
        {"a window number above 32 bits", with(fullWindow(), "kCGWindowNumber", cf::Value(4294967296LL)), false},
        {"a window number as text", with(fullWindow(), "kCGWindowNumber", cf::Value("41")), false},
        {"no owner", with(fullWindow(), "kCGWindowOwnerPID", std::nullopt), false},
        {"an owner beyond 32 bits", with(fullWindow(), "kCGWindowOwnerPID", cf::Value(3000000000LL)), false},
        {"no layer", with(fullWindow(), "kCGWindowLayer", std::nullopt), false},
        {"a layer that is not a number", with(fullWindow(), "kCGWindowLayer", cf::Value("25")), false},
        {"no bounds", with(fullWindow(), "kCGWindowBounds", std::nullopt), false},
        {"bounds that are not a dictionary", with(fullWindow(), "kCGWindowBounds", cf::Value(cf::Array{})), false},
        {"bounds without a height",
         with(fullWindow(), "kCGWindowBounds", cf::Value::dictionary({{"X", 1.0}, {"Y", 0.0}, {"Width", 8.0}})), false},
        {"bounds with a member that is not a number",
         with(fullWindow(), "kCGWindowBounds",
              cf::Value::dictionary({{"X", 1.0}, {"Y", 0.0}, {"Width", 8.0}, {"Height", 8.0}, {"Space", "main"}})),
         false},
        {"keys the entry does not read, sorting before, between and after its own, change nothing",
         with(with(with(fullWindow(), "A", cf::Value(1)), "kCGWindowNames", cf::Value("x")), "zz", cf::Value(2)), true},
        {"bounds that are not finite are taken as they are",
         with(fullWindow(), "kCGWindowBounds", bounds(nan, 0, 8, 8)), true},
    };
    for (const auto& row : rows) {
        auto entries = WindowListBridge::entriesFromWindowInfo(cf::Value(cf::Array{cf::Value(row.window)}));
        ASSERT_EQ(entries.size(), row.kept ? 1u : 0u) << row.what;
        if (!row.kept) continue;
        EXPECT_EQ(entries[0].windowName, row.windowName) << row.what;
        EXPECT_EQ(entries[0].ownerName, row.ownerName) << row.what;
        EXPECT_EQ(entries[0].isOnScreen, row.onScreen) << row.what;
    }
    EXPECT_TRUE(capture->texts("scanning").empty()) << "a skipped window is not logged";
}

TEST_F(WindowListBridgeTest, SkippedWindowsLeaveTheOthersInListOrder) {
    cf::Array list{cf::Value(with(fullWindow(), "kCGWindowNumber", cf::Value(1))),
                   cf::Value(with(fullWindow(), "kCGWindowLayer", std::nullopt)),
                   cf::Value(with(fullWindow(), "kCGWindowNumber", cf::Value(3)))};
    auto entries = WindowListBridge::entriesFromWindowInfo(cf::Value(list));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].windowID, 1u);
    EXPECT_EQ(entries[1].windowID, 3u);
}

TEST_F(WindowListBridgeTest, AnAnswerThatIsNotAListOfDictionariesIsAnEmptyListAndAnError) {
    const std::optional<cf::Value> answers[] = {
        std::nullopt,
        cf::Value(fullWindow()),
        cf::Value(cf::Array{cf::Value(fullWindow()), cf::Value("window")}),
    };
    for (const auto& answer : answers) {
        capture->clear();
        EXPECT_TRUE(WindowListBridge::entriesFromWindowInfo(answer).empty());
        EXPECT_EQ(capture->texts("scanning", os::LogLevel::error),
                  std::vector<std::string>{"CGWindowListCopyWindowInfo returned nil."});
    }
    capture->clear();
    EXPECT_TRUE(WindowListBridge::entriesFromWindowInfo(cf::Value(cf::Array{})).empty());
    EXPECT_TRUE(capture->texts("scanning").empty()) << "an empty list is an answer";
}

TEST_F(WindowListBridgeTest, MenuBarWindowsKeepStatusWindowsWithinTheLimits) {
    struct Row {
        const char* what;
        sim::ProcessID owner;
        sim::WindowSpec spec;
        bool kept;
    };
    const Row rows[] = {
        {"height 50 at the top", 10, window({100, 0, 30, 50}), true},
        {"height 50.5", 10, window({200, 0, 30, 50.5}), false},
        {"height 0", 10, window({300, 0, 30, 0}), false},
        {"a negative height of 20 measures 20", 10, window({350, 20, 30, -20}), true},
        {"on screen, top edge at 49.9", 10, window({400, 49.9, 30, 20}), true},
        {"on screen, top edge at 50", 10, window({500, 50, 30, 20}), false},
        {"off screen, top edge at 900", 10, window({600, 900, 30, 20}, 25, false), true},
        {"off screen, left of the bar", 10, window({-60, 0, 30, 37}, 25, false), true},
        {"owned by process 0", 0, window({700, 0, 30, 20}), false},
        {"another layer", 10, window({800, 0, 30, 20}, 24), false},
        {"a menu", 10, window({900, 0, 30, 20}, 101), false},
    };
    for (const auto& row : rows) {
        SetUp();
        auto n = world->openWindow(row.owner, row.spec);
        EXPECT_EQ(menuBarIDs(), row.kept ? std::vector<std::uint32_t>{n} : std::vector<std::uint32_t>{}) << row.what;
    }
}

TEST_F(WindowListBridgeTest, MenuBarWindowsComeRightmostFirstAndEqualXKeepListOrder) {
    auto a = world->openWindow(10, window({1200, 0, 30, 24}));
    auto b = world->openWindow(10, window({1500, 0, 30, 24}));
    auto c = world->openWindow(11, window({900, 0, 30, 24}));
    auto d = world->openWindow(11, window({-30, 0, 30, 24}, 25, false));
    EXPECT_EQ(menuBarIDs(), (std::vector<std::uint32_t>{b, a, c, d}));

    // The window list shows newer windows first within a layer.
    auto older = world->openWindow(10, window({1000, 0, 30, 24}));
    auto newer = world->openWindow(11, window({1000, 0, 20, 24}));
    auto list = WindowListBridge::allOnScreenWindows();
    auto at = [&](std::uint32_t n) {
        return std::find_if(list.begin(), list.end(), [n](const Entry& e) { return e.windowID == n; }) - list.begin();
    };
    ASSERT_LT(at(newer), at(older));
    EXPECT_EQ(menuBarIDs(), (std::vector<std::uint32_t>{b, a, newer, older, c, d}));
}

TEST_F(WindowListBridgeTest, MenuBarWindowsLogTheirCountAfterAnyError) {
    EXPECT_TRUE(WindowListBridge::menuBarWindows().empty());
    EXPECT_EQ(capture->texts("scanning"), std::vector<std::string>{"Found 0 menu bar windows at layer 25."});
    auto record = capture->first("scanning", "Found");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->level, os::LogLevel::debug);
    EXPECT_EQ(record->format, "Found %ld menu bar windows at layer %ld.");

    capture->clear();
    world->openWindow(10, window({100, 0, 30, 24}));
    world->faults().windowListUnavailable = true;
    EXPECT_TRUE(WindowListBridge::menuBarWindows().empty());
    EXPECT_EQ(capture->texts("scanning"), (std::vector<std::string>{"CGWindowListCopyWindowInfo returned nil.",
                                                                    "Found 0 menu bar windows at layer 25."}));
    world->faults().windowListUnavailable = false;
    capture->clear();
    EXPECT_EQ(WindowListBridge::menuBarWindows().size(), 1u);
    EXPECT_EQ(capture->texts("scanning"), std::vector<std::string>{"Found 1 menu bar windows at layer 25."});
}

TEST_F(WindowListBridgeTest, AllOnScreenWindowsAreEveryLayerExceptDesktopElementsInListOrder) {
    auto menu = world->openWindow(10, window({0, 0, 100, 100}, 101));
    auto plain = world->openWindow(11, window({0, 0, 100, 100}, 0, true, "Doc"));
    world->openWindow(11, window({0, 0, 100, 100}, 0, false));
    world->openWindow(10, window({0, 0, 1600, 1000}, cg::desktopElementsTopLevel()));
    auto list = WindowListBridge::allOnScreenWindows();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].windowID, menu);
    EXPECT_EQ(list[1].windowID, plain);
    EXPECT_EQ(list[1].windowName, "Doc");
    EXPECT_EQ(list[1].ownerName, "Viewer");
    EXPECT_TRUE(capture->texts("scanning").empty());
}

TEST_F(WindowListBridgeTest, ScreenRecordingCheck) {
    struct Row {
        const char* what;
        bool permission;
        std::optional<bool> pinnedPreflight;
        std::vector<std::pair<sim::ProcessID, std::optional<std::string>>> windows;
        bool granted;
        std::string record;
    };
    const Row rows[] = {
        {"the platform's check grants",
         true,
         std::nullopt,
         {{10, std::nullopt}},
         true,
         "Screen Recording check: granted (CGPreflightScreenCaptureAccess)."},
        {"only this process's windows",
         false,
         std::nullopt,
         {{500, "Panel"}},
         false,
         "Screen Recording check: not granted (no other windows visible)."},
        {"nothing on screen",
         false,
         std::nullopt,
         {},
         false,
         "Screen Recording check: not granted (no other windows visible)."},
        {"other windows without names",
         false,
         std::nullopt,
         {{10, std::nullopt}, {11, std::nullopt}, {500, "Panel"}},
         false,
         "Screen Recording check: not granted (name heuristic, 2 windows)."},
        {"other windows' names hidden without access",
         false,
         std::nullopt,
         {{10, "Secret"}},
         false,
         "Screen Recording check: not granted (name heuristic, 1 windows)."},
        {"a stale check, and another window named \"\"",
         true,
         false,
         {{10, std::nullopt}, {11, ""}},
         true,
         "Screen Recording check: granted (name heuristic, 2 windows)."},
    };
    for (const auto& row : rows) {
        SetUp();
        world->permissions().screenRecording = row.permission;
        world->captureService().pinnedPreflight = row.pinnedPreflight;
        for (const auto& [owner, name] : row.windows)
            world->openWindow(owner, window({0, 300, 100, 100}, 0, true, name));
        EXPECT_EQ(WindowListBridge::isScreenRecordingGranted(), row.granted) << row.what;
        EXPECT_EQ(capture->texts("permissions", os::LogLevel::debug), std::vector<std::string>{row.record}) << row.what;
    }
}

TEST_F(WindowListBridgeTest, AGrantedCheckDoesNotReadTheWindowList) {
    world->faults().windowListUnavailable = true;
    EXPECT_TRUE(WindowListBridge::isScreenRecordingGranted());
    EXPECT_TRUE(capture->texts("scanning").empty());
    world->permissions().screenRecording = false;
    EXPECT_FALSE(WindowListBridge::isScreenRecordingGranted());
    EXPECT_EQ(capture->texts("scanning"), std::vector<std::string>{"CGWindowListCopyWindowInfo returned nil."});
}

TEST_F(WindowListBridgeTest, RequestingScreenRecordingAsksThePlatformAndLogsEveryTime) {
    world->permissions().screenRecording = false;
    WindowListBridge::requestScreenRecording();
    WindowListBridge::requestScreenRecording();
    EXPECT_EQ(world->permissions().screenRecordingRequests, 2);
    EXPECT_FALSE(world->permissions().screenRecording);
    EXPECT_EQ(capture->texts("permissions", os::LogLevel::info),
              std::vector<std::string>(2, "Requested Screen Recording access via CGRequestScreenCaptureAccess()."));
}

TEST(WindowListBridgeOnTheDefaultWorld, MenuBarWindowsWithoutNamesAreTheSameWindows) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    sim::World world;
    auto named = WindowListBridge::menuBarWindows();
    auto bare = WindowListBridge::menuBarWindows(WindowListBridge::WindowNames::leftOut);
    ASSERT_EQ(bare.size(), named.size());
    bool anyName = false;
    for (std::size_t i = 0; i < named.size(); ++i) {
        EXPECT_EQ(bare[i].windowID, named[i].windowID) << "position " << i;
        EXPECT_EQ(bare[i].ownerPID, named[i].ownerPID) << "position " << i;
        EXPECT_EQ(bare[i].bounds, named[i].bounds) << "position " << i;
        EXPECT_EQ(bare[i].layer, named[i].layer) << "position " << i;
        EXPECT_EQ(bare[i].isOnScreen, named[i].isOnScreen) << "position " << i;
        EXPECT_FALSE(bare[i].ownerName || bare[i].windowName) << "position " << i;
        anyName = anyName || named[i].ownerName;
    }
    EXPECT_TRUE(anyName) << "the default call keeps the names";
}

TEST(WindowListBridgeOnTheDefaultWorld, MenuBarWindowsAgreeWithTheBarInCountAndOrder) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    sim::World world;
    // Every item but the scenario's one drawn without a status window.
    auto items = world.statusItems();
    std::erase_if(items, [](const sim::StatusItem* item) { return item->window == 0; });
    ASSERT_EQ(items.size() + 1, world.statusItems().size());
    auto windows = WindowListBridge::menuBarWindows();
    ASSERT_EQ(windows.size(), items.size());
    int offBar = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(windows[i].windowID, items[i]->window) << "position " << i;
        EXPECT_EQ(windows[i].ownerPID, items[i]->owner) << "position " << i;
        EXPECT_EQ(windows[i].bounds, items[i]->frame) << "position " << i;
        EXPECT_EQ(windows[i].isOnScreen, items[i]->onBar) << "position " << i;
        offBar += windows[i].isOnScreen ? 0 : 1;
    }
    EXPECT_GE(offBar, 2);
    auto self = std::count_if(windows.begin(), windows.end(),
                              [](const Entry& e) { return e.ownerPID == ns::currentProcessIdentifier(); });
    EXPECT_EQ(self, 1) << "Stashbay's own item is among them";
}
