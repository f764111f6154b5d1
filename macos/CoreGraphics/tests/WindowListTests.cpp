#include "macos/CoreGraphics/WindowImage.hpp"
#include "macos/CoreGraphics/WindowList.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// One 2x screen, Stashbay (pid 500) and two applications, nothing else on screen.
sim::Scenario plainDesk() {
    return sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576},
                   "displayNumber": 1, "backingScaleFactor": 2}],
      "applications": [
        {"pid": 500, "bundleIdentifier": "app.stashbay.Stashbay", "name": "Stashbay"},
        {"pid": 10, "bundleIdentifier": "com.example.editor", "name": "Editor"},
        {"pid": 11, "bundleIdentifier": "com.example.viewer"}
      ]})",
                              "desk.json");
}

sim::WindowSpec window(cg::Rect bounds, std::int64_t layer = 0, bool onScreen = true,
                       std::optional<std::string> name = std::nullopt, std::uint32_t color = 0xC0C0C0FF) {
    sim::WindowSpec spec;
    spec.name = std::move(name);
    spec.bounds = bounds;
    spec.layer = layer;
    spec.onScreen = onScreen;
    spec.color = color;
    return spec;
}

class WindowListTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world{plainDesk()};

    std::vector<std::uint32_t> numbers(cg::WindowListOption options, cg::WindowID relative = cg::nullWindowID) {
        std::vector<std::uint32_t> out;
        auto list = cg::windowListCopyWindowInfo(options, relative);
        if (!list || !list->asArray()) return out;
        for (const auto& d : *list->asArray()) out.push_back(*d.find(cg::windowNumberKey)->asUInt32());
        return out;
    }
    // The window's dictionary in a fresh list; valid until the next call.
    const cf::Value* entry(cg::WindowID number) {
        list_ = cg::windowListCopyWindowInfo(cg::windowListOptionAll, cg::nullWindowID);
        for (const auto& d : *list_->asArray())
            if (d.find(cg::windowNumberKey)->asUInt32() == number) return &d;
        return nullptr;
    }

private:
    std::optional<cf::Value> list_;
};

std::uint32_t pixel(const cg::ImageRef& image, std::size_t x, std::size_t y) {
    const auto* p = &image->pixels()[(y * image->width() + x) * 4];
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

TEST_F(WindowListTest, EachWindowIsADictionaryInThePlatformsForm) {
    auto n = world.openWindow(10, window({40, 60, 300, 200.5}, 0, true, "Notes"));
    const auto* d = entry(n);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->find(cg::windowOwnerPIDKey)->asInt32(), 10);
    EXPECT_EQ(*d->find(cg::windowOwnerNameKey)->asString(), "Editor");
    EXPECT_EQ(*d->find(cg::windowNameKey)->asString(), "Notes");
    EXPECT_EQ(d->find(cg::windowLayerKey)->asInt64(), 0);
    EXPECT_EQ(d->find(cg::windowIsOnscreenKey)->kind(), cf::Value::Kind::boolean);
    EXPECT_EQ(d->find(cg::windowIsOnscreenKey)->asBool(), true);
    const auto* bounds = d->find(cg::windowBoundsKey);
    ASSERT_NE(bounds, nullptr);
    EXPECT_EQ(*bounds, cf::Value::dictionary({{"X", 40.0}, {"Y", 60.0}, {"Width", 300.0}, {"Height", 200.5}}));
}

TEST_F(WindowListTest, OptionalKeysAreLeftOutWhenThereIsNothingToSay) {
    auto unnamed = world.openWindow(11, window({0, 0, 10, 10}));
    const auto* d = entry(unnamed);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->find(cg::windowNameKey), nullptr);
    EXPECT_EQ(d->find(cg::windowOwnerNameKey), nullptr) << "the owner has no localized name";
    auto offScreen = world.openWindow(10, window({0, 0, 10, 10}, 0, false));
    EXPECT_EQ(entry(offScreen)->find(cg::windowIsOnscreenKey)->asBool(), false) << "always present, also when false";
}

TEST_F(WindowListTest, WithoutScreenRecordingOnlyOwnWindowNamesShow) {
    auto other = world.openWindow(10, window({0, 0, 10, 10}, 0, true, "Secret"));
    auto own = world.openWindow(500, window({0, 0, 10, 10}, 0, true, "Panel"));
    world.permissions().screenRecording = false;
    EXPECT_EQ(entry(other)->find(cg::windowNameKey), nullptr);
    EXPECT_EQ(*entry(own)->find(cg::windowNameKey)->asString(), "Panel");
    world.permissions().screenRecording = true;
    EXPECT_EQ(*entry(other)->find(cg::windowNameKey)->asString(), "Secret")
        << "access granted at run time shows at once";
}

TEST_F(WindowListTest, EveryListingDescribesTheWindowsAsTheyAreNow) {
    auto n = world.openWindow(10, window({40, 0, 20, 24}, 25, true, "Clock"));
    ASSERT_EQ(entry(n)->find(cg::windowBoundsKey)->find("X")->asDouble(), 40.0);
    auto* w = world.windowServer().find(n);
    w->bounds.origin.x = 90;
    w->onScreen = false;
    w->layer = 3;
    const auto* moved = entry(n);
    EXPECT_EQ(moved->find(cg::windowBoundsKey)->find("X")->asDouble(), 90.0);
    EXPECT_EQ(moved->find(cg::windowIsOnscreenKey)->asBool(), false);
    EXPECT_EQ(moved->find(cg::windowLayerKey)->asInt64(), 3);
    // A list already handed out does not change with later ones.
    auto before = cg::windowListCopyWindowInfo(cg::windowListOptionAll, cg::nullWindowID);
    w->bounds.origin.x = 120;
    EXPECT_EQ(entry(n)->find(cg::windowBoundsKey)->find("X")->asDouble(), 120.0);
    for (const auto& d : *before->asArray()) {
        if (d.find(cg::windowNumberKey)->asUInt32() == n) {
            EXPECT_EQ(d.find(cg::windowBoundsKey)->find("X")->asDouble(), 90.0);
        }
    }
}

// A world made afresh numbers its windows anew: the same number is another window.
TEST(WindowListOfANewWorld, AReusedWindowNumberIsTheNewWindow) {
    runtime::ManualLoop loop;
    cg::WindowID first = 0;
    {
        sim::World world{plainDesk()};
        first = world.openWindow(10, window({40, 0, 20, 24}, 25, true, "Clock"));
        ASSERT_TRUE(cg::windowListCopyWindowInfo(cg::windowListOptionAll, cg::nullWindowID));
    }
    sim::World world{plainDesk()};
    auto again = world.openWindow(11, window({7, 0, 30, 24}));
    ASSERT_EQ(again, first);
    auto list = cg::windowListCopyWindowInfo(cg::windowListOptionAll, cg::nullWindowID);
    const cf::Value* d = nullptr;
    for (const auto& member : *list->asArray())
        if (member.find(cg::windowNumberKey)->asUInt32() == again) d = &member;
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->find(cg::windowOwnerPIDKey)->asInt32(), 11);
    EXPECT_EQ(d->find(cg::windowBoundsKey)->find("Width")->asDouble(), 30.0);
    EXPECT_EQ(d->find(cg::windowNameKey), nullptr);
}

TEST_F(WindowListTest, TheListIsNilWhileTheWindowServerDoesNotAnswer) {
    world.faults().windowListUnavailable = true;
    EXPECT_FALSE(cg::windowListCopyWindowInfo(cg::windowListOptionAll, cg::nullWindowID).has_value());
    world.faults().windowListUnavailable = false;
    EXPECT_TRUE(cg::windowListCopyWindowInfo(cg::windowListOptionAll, cg::nullWindowID).has_value());
    EXPECT_EQ(world.windowServer().listQueryCount(), 2u) << "every query counts, answered or not";
}

TEST_F(WindowListTest, OptionsSelectWindowsFrontToBack) {
    // Front to back: higher layers first, newer first within a layer.
    auto back = world.openWindow(10, window({0, 0, 10, 10}));
    auto hidden = world.openWindow(10, window({0, 0, 10, 10}, 0, false));
    auto front = world.openWindow(11, window({0, 0, 10, 10}));
    auto menu = world.openWindow(11, window({0, 0, 10, 10}, 101));
    auto desktop = world.openWindow(10, window({0, 0, 800, 600}, cg::desktopElementsTopLevel()));
    using V = std::vector<std::uint32_t>;
    struct Row {
        cg::WindowListOption options;
        cg::WindowID relative;
        V expected;
    };
    const Row rows[] = {
        {cg::windowListOptionAll, 0, V{menu, front, hidden, back, desktop}},
        {cg::windowListOptionAll, hidden, V{menu, front, hidden, back, desktop}},
        {cg::windowListOptionAll | cg::windowListExcludeDesktopElements, 0, V{menu, front, hidden, back}},
        {cg::windowListOptionOnScreenOnly, 0, V{menu, front, back, desktop}},
        {cg::windowListOptionOnScreenOnly | cg::windowListExcludeDesktopElements, 0, V{menu, front, back}},
        {cg::windowListOptionOnScreenAboveWindow, back, V{menu, front}},
        {cg::windowListOptionOnScreenBelowWindow, front, V{back, desktop}},
        {cg::windowListOptionOnScreenAboveWindow | cg::windowListOptionIncludingWindow, hidden, V{menu, front, hidden}},
        {cg::windowListOptionIncludingWindow, hidden, V{hidden}},
        {cg::windowListOptionIncludingWindow, 9999, V{}},
        {cg::windowListOptionOnScreenAboveWindow, 9999, V{}},
        {cg::windowListOptionOnScreenAboveWindow, 0, V{menu, front, back, desktop}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(numbers(row.options, row.relative), row.expected)
            << "options " << row.options << " relative " << row.relative;
}

TEST(WindowLevels, KeysGiveThePlatformsLevels) {
    struct Row {
        cg::WindowLevelKey key;
        cg::WindowLevel level;
    };
    constexpr cg::WindowLevel lowest = std::numeric_limits<std::int32_t>::min();
    const Row rows[] = {{cg::baseWindowLevelKey, lowest},
                        {cg::minimumWindowLevelKey, lowest + 5},
                        {cg::desktopWindowLevelKey, lowest + 25},
                        {cg::desktopIconWindowLevelKey, lowest + 45},
                        {cg::popUpMenuWindowLevelKey, 101},
                        {cg::statusWindowLevelKey, 25},
                        {cg::normalWindowLevelKey, 0},
                        {cg::mainMenuWindowLevelKey, 24},
                        {cg::floatingWindowLevelKey, 3},
                        {cg::screenSaverWindowLevelKey, 1000},
                        {999, 0}};
    for (const auto& row : rows) EXPECT_EQ(cg::windowLevelForKey(row.key), row.level) << "key " << row.key;
    EXPECT_EQ(cg::windowLevelForKey(cg::popUpMenuWindowLevelKey), sim::WindowLevel::popUpMenu);
    EXPECT_EQ(cg::windowLevelForKey(cg::statusWindowLevelKey), sim::WindowLevel::statusItem);
    EXPECT_LT(cg::windowLevelForKey(cg::desktopWindowLevelKey), cg::windowLevelForKey(cg::desktopIconWindowLevelKey));
    EXPECT_EQ(cg::windowLevelForKey(cg::desktopIconWindowLevelKey), cg::desktopElementsTopLevel());
}

TEST_F(WindowListTest, ScreenCaptureAccessIsReadAndRequestsAreCounted) {
    EXPECT_TRUE(cg::preflightScreenCaptureAccess());
    world.permissions().screenRecording = false;
    EXPECT_FALSE(cg::preflightScreenCaptureAccess());
    EXPECT_FALSE(cg::requestScreenCaptureAccess()) << "asking grants nothing";
    EXPECT_FALSE(cg::requestScreenCaptureAccess());
    EXPECT_EQ(world.permissions().screenRecordingRequests, 2);
    world.captureService().pinnedPreflight = false;
    world.permissions().screenRecording = true;
    EXPECT_FALSE(cg::preflightScreenCaptureAccess()) << "a pinned answer stays as it was at launch";
}

TEST_F(WindowListTest, AWindowsImageIsItsColourAtTheBackingScale) {
    auto n = world.openWindow(10, window({100, 0, 22.5, 24}, 25, true, std::nullopt, 0x0A84FFFF));
    auto image = cg::windowListCreateImage(cg::Rect::null(), cg::windowListOptionIncludingWindow, n,
                                           cg::windowImageBoundsIgnoreFraming | cg::windowImageBestResolution);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 45u);
    EXPECT_EQ(image->height(), 48u);
    EXPECT_EQ(pixel(image, 0, 0), 0x0A84FFFFu);
    EXPECT_EQ(pixel(image, 44, 47), 0x0A84FFFFu);
    auto nominal = cg::windowListCreateImage(cg::Rect::null(), cg::windowListOptionIncludingWindow, n,
                                             cg::windowImageNominalResolution);
    ASSERT_NE(nominal, nullptr);
    EXPECT_EQ(nominal->width(), 23u);
    EXPECT_EQ(nominal->height(), 24u);
    EXPECT_EQ(cg::windowContentImage(n)->width(), 45u);
}

TEST_F(WindowListTest, AnOffScreenWindowKeepsItsContent) {
    auto n = world.openWindow(10, window({-100, 0, 20, 20}, 25, false, std::nullopt, 0x112233FF));
    auto image = cg::windowListCreateImage(cg::Rect::null(), cg::windowListOptionIncludingWindow, n, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixel(image, 5, 5), 0x112233FFu);
}

TEST_F(WindowListTest, AWindowImageFailsByFaultCaptureFlagAccessOrSize) {
    auto other = world.openWindow(10, window({0, 0, 20, 20}));
    auto own = world.openWindow(500, window({0, 0, 20, 20}));
    auto empty = world.openWindow(10, window({0, 0, 0, 20}));
    auto capture = [](cg::WindowID n) {
        return cg::windowListCreateImage(cg::Rect::null(), cg::windowListOptionIncludingWindow, n,
                                         cg::windowImageBestResolution);
    };
    EXPECT_NE(capture(other), nullptr);
    EXPECT_EQ(capture(empty), nullptr);
    EXPECT_EQ(capture(424242), nullptr);

    world.permissions().screenRecording = false;
    EXPECT_EQ(capture(other), nullptr) << "another process's window needs Screen Recording";
    EXPECT_NE(capture(own), nullptr) << "a process may always capture its own windows";
    world.permissions().screenRecording = true;

    world.windowServer().find(other)->captureFails = true;
    EXPECT_EQ(capture(other), nullptr);
    world.faults().windowImageFails = true;
    EXPECT_EQ(capture(own), nullptr);
    EXPECT_EQ(world.captureService().windowImageRequests, 7);
}

TEST_F(WindowListTest, ACompositeDrawsOnScreenWindowsBackToFrontAndLeavesOutWhatItMayNotShow) {
    world.openWindow(10, window({0, 0, 20, 10}, 0, true, std::nullopt, 0xFF0000FF));
    world.openWindow(11, window({10, 0, 20, 10}, 0, true, std::nullopt, 0x00FF00FF));  // in front
    world.openWindow(11, window({0, 0, 40, 10}, 0, false, std::nullopt, 0x0000FFFF));  // not on screen
    auto strip = [] {
        return cg::windowListCreateImage(cg::Rect(0, 0, 40, 10), cg::windowListOptionOnScreenOnly, cg::nullWindowID,
                                         cg::windowImageBestResolution);
    };
    auto image = strip();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 80u);
    EXPECT_EQ(image->height(), 20u);
    EXPECT_EQ(pixel(image, 5, 5), 0xFF0000FFu);
    EXPECT_EQ(pixel(image, 25, 5), 0x00FF00FFu) << "the newer window is in front";
    EXPECT_EQ(pixel(image, 70, 5), 0x00000000u) << "transparent where nothing is shown";
    auto opaque = cg::windowListCreateImage(cg::Rect(0, 0, 40, 10), cg::windowListOptionOnScreenOnly, cg::nullWindowID,
                                            cg::windowImageBestResolution | cg::windowImageShouldBeOpaque);
    ASSERT_NE(opaque, nullptr);
    EXPECT_EQ(pixel(opaque, 70, 5), 0xFFFFFFFFu) << "an opaque image is white where nothing is shown";
    EXPECT_EQ(pixel(opaque, 5, 5), 0xFF0000FFu);

    world.permissions().screenRecording = false;
    image = strip();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixel(image, 5, 5), 0u) << "other processes' windows are left out";
}

TEST_F(WindowListTest, ACompositeOfARectangleThatIsNotFiniteOrTooLargeFails) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& rect : {cg::Rect(0, 0, nan, 10), cg::Rect(nan, 0, 10, 10), cg::Rect(0, 0, 1e9, 10),
                             cg::Rect(0, 0, inf, 10), cg::Rect(0, 0, 0, 10)}) {
        EXPECT_EQ(cg::windowListCreateImage(rect, cg::windowListOptionOnScreenOnly, cg::nullWindowID, 0), nullptr)
            << cg::describe(rect);
    }
    EXPECT_NE(cg::windowListCreateImage(cg::Rect::infinite(), cg::windowListOptionOnScreenOnly, cg::nullWindowID,
                                        cg::windowImageNominalResolution),
              nullptr)
        << "the infinite rectangle is the whole desktop";
}

TEST_F(WindowListTest, TheImageFunctionIsFoundByNameAndAnswersFromTheWorld) {
    ASSERT_TRUE(cg::loadWindowImageLibrary());
    auto create = reinterpret_cast<CGWindowListCreateImageFunction>(dlsym(RTLD_DEFAULT, "CGWindowListCreateImage"));
    auto release = reinterpret_cast<CGImageReleaseFunction>(dlsym(RTLD_DEFAULT, "CGImageRelease"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(release, nullptr);
    auto n = world.openWindow(10, window({0, 0, 12, 12}, 25, true, std::nullopt, 0x336699FF));
    CGImageRef raw = create(cg::toWindowRect(cg::Rect::null()), cg::windowListOptionIncludingWindow, n,
                            cg::windowImageBestResolution);
    ASSERT_NE(raw, nullptr);
    release(raw);
    auto image = cg::adoptImage(create(cg::toWindowRect(cg::Rect::null()), cg::windowListOptionIncludingWindow, n,
                                       cg::windowImageBestResolution));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 24u);
    EXPECT_EQ(create(cg::toWindowRect(cg::Rect::null()), cg::windowListOptionIncludingWindow, 424242, 0), nullptr);
    EXPECT_EQ(cg::adoptImage(nullptr), nullptr);
}
