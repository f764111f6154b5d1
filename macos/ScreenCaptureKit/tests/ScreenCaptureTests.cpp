#include "macos/CoreGraphics/WindowImage.hpp"
#include "macos/ScreenCaptureKit/ContentFilter.hpp"
#include "macos/ScreenCaptureKit/Error.hpp"
#include "macos/ScreenCaptureKit/ScreenshotManager.hpp"
#include "macos/ScreenCaptureKit/ShareableContent.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {

sim::Scenario desk() {
    return sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576},
                   "displayNumber": 3, "backingScaleFactor": 2}],
      "applications": [
        {"pid": 10, "bundleIdentifier": "com.example.editor", "name": "Editor",
         "windows": [{"name": "Draft", "bounds": {"x": 10, "y": 40, "width": 300, "height": 200}}]}
      ]})",
                              "desk.json");
}

sim::WindowSpec window(cg::Rect bounds, bool onScreen = true, std::uint32_t color = 0x336699FF) {
    sim::WindowSpec spec;
    spec.bounds = bounds;
    spec.onScreen = onScreen;
    spec.color = color;
    return spec;
}

struct ContentAnswer {
    bool called = false;
    std::shared_ptr<const sc::ShareableContent> content;
    std::optional<ns::Error> error;
};

struct ImageAnswer {
    bool called = false;
    cg::ImageRef image;
    std::optional<ns::Error> error;
};

class ScreenCaptureTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world{desk()};

    std::shared_ptr<ContentAnswer> getContent(bool excludeDesktop, bool onScreenOnly) {
        auto answer = std::make_shared<ContentAnswer>();
        sc::ShareableContent::getExcludingDesktopWindows(
            excludeDesktop, onScreenOnly,
            [answer](std::shared_ptr<const sc::ShareableContent> c, std::optional<ns::Error> e) {
                answer->called = true;
                answer->content = std::move(c);
                answer->error = std::move(e);
            });
        return answer;
    }
    std::shared_ptr<ImageAnswer> screenshot(const sc::Window& w, sc::StreamConfiguration configuration) {
        auto answer = std::make_shared<ImageAnswer>();
        sc::ScreenshotManager::captureImage(sc::ContentFilter(w), configuration,
                                            [answer](cg::ImageRef image, std::optional<ns::Error> e) {
                                                answer->called = true;
                                                answer->image = std::move(image);
                                                answer->error = std::move(e);
                                            });
        return answer;
    }
    sc::Window windowNamed(sim::WindowNumber n) {
        auto answer = getContent(false, false);
        loop.advance(1s);
        const auto& windows = answer->content->windows();
        return *std::find_if(windows.begin(), windows.end(), [n](const sc::Window& w) { return w.windowID == n; });
    }
};

std::vector<sim::WindowNumber> ids(const sc::ShareableContent& content) {
    std::vector<sim::WindowNumber> out;
    for (const auto& w : content.windows()) out.push_back(w.windowID);
    return out;
}

}  // namespace

TEST_F(ScreenCaptureTest, ContentArrivesAfterItsLatencyAsAQueuedJob) {
    world.captureService().shareableContentLatency = 40ms;
    auto answer = getContent(false, true);
    EXPECT_EQ(world.captureService().shareableContentRequests, 1);
    loop.runUntilIdle();
    loop.advance(39ms);
    EXPECT_FALSE(answer->called);
    loop.advance(1ms);
    ASSERT_TRUE(answer->called);
    ASSERT_NE(answer->content, nullptr);
    EXPECT_FALSE(answer->error);
}

TEST_F(ScreenCaptureTest, ContentListsWindowsFrontToBackWithTheirOwners) {
    auto off = world.openWindow(10, window({-50, 0, 20, 20}, false));
    auto desktop = world.openWindow(10, window({0, 0, 800, 600}));
    world.windowServer().find(desktop)->layer = cg::desktopElementsTopLevel();
    auto front = world.openWindow(500, window({0, 0, 20, 20}));

    auto all = getContent(false, false);
    auto onScreen = getContent(true, true);
    loop.advance(1s);
    const auto& content = *all->content;
    auto draft = off - 1;  // the scenario's window, opened first
    EXPECT_EQ(ids(content), (std::vector<sim::WindowNumber>{front, off, draft, desktop})) << "the desktop at the back";
    EXPECT_EQ(ids(*onScreen->content), (std::vector<sim::WindowNumber>{front, draft}));

    const auto& w = content.windows()[2];
    EXPECT_EQ(w.title, "Draft");
    EXPECT_EQ(w.frame, cg::Rect(10, 40, 300, 200));
    ASSERT_TRUE(w.owningApplication);
    EXPECT_EQ(w.owningApplication->processID, 10);
    EXPECT_EQ(w.owningApplication->bundleIdentifier, "com.example.editor");
    EXPECT_EQ(w.owningApplication->applicationName, "Editor");
    ASSERT_EQ(content.displays().size(), 1u);
    EXPECT_EQ(content.displays()[0].displayID, 3u);
    EXPECT_EQ(content.displays()[0].frame, cg::Rect(0, 0, 800, 600));
}

TEST_F(ScreenCaptureTest, ContentFailsWithoutAccessAndByFault) {
    struct Row {
        bool access;
        bool fault;
        long code;
    };
    for (const auto& row :
         {Row{false, false, sc::StreamError::userDeclined}, Row{true, true, sc::StreamError::noWindowList}}) {
        world.permissions().screenRecording = row.access;
        world.faults().shareableContentFails = row.fault;
        auto answer = getContent(false, true);
        loop.advance(1s);
        ASSERT_TRUE(answer->called);
        EXPECT_EQ(answer->content, nullptr);
        ASSERT_TRUE(answer->error);
        EXPECT_EQ(answer->error->domain(), sc::streamErrorDomain);
        EXPECT_EQ(answer->error->code(), row.code);
        EXPECT_FALSE(answer->error->localizedDescription().empty());
    }
}

TEST_F(ScreenCaptureTest, AScreenshotHasTheConfiguredSizeAndTheWindowsColour) {
    auto n = world.openWindow(10, window({100, 0, 22, 24}, true, 0x0A84FFFF));
    auto w = windowNamed(n);
    sc::StreamConfiguration configuration;
    configuration.width = 44;
    configuration.height = 48;
    configuration.showsCursor = false;
    configuration.backgroundColor = cg::Color::clear();
    world.captureService().screenshotLatency = 25ms;
    auto answer = screenshot(w, configuration);
    loop.advance(24ms);
    EXPECT_FALSE(answer->called);
    loop.advance(1ms);
    ASSERT_TRUE(answer->called);
    ASSERT_NE(answer->image, nullptr);
    EXPECT_EQ(answer->image->width(), 44u);
    EXPECT_EQ(answer->image->height(), 48u);
    const auto& p = answer->image->pixels();
    EXPECT_EQ((std::vector<std::uint8_t>{p[0], p[1], p[2], p[3]}), (std::vector<std::uint8_t>{0x0A, 0x84, 0xFF, 0xFF}));

    auto unset = screenshot(w, sc::StreamConfiguration{});
    loop.advance(1s);
    ASSERT_NE(unset->image, nullptr);
    EXPECT_EQ(unset->image->width(), 1920u) << "no size configured: the platform's default";
    EXPECT_EQ(unset->image->height(), 1080u);
    sc::StreamConfiguration zero;
    zero.width = 0;
    zero.height = 0;
    auto own = screenshot(w, zero);
    loop.advance(1s);
    ASSERT_NE(own->image, nullptr);
    EXPECT_EQ(own->image->width(), 44u) << "a size of 0: the window's own pixels";
    EXPECT_EQ(world.captureService().screenshotRequests, 3);
}

TEST_F(ScreenCaptureTest, AScreenshotFails) {
    auto n = world.openWindow(10, window({100, 0, 22, 24}));
    auto gone = world.openWindow(10, window({100, 0, 22, 24}));
    auto w = windowNamed(n);
    auto g = windowNamed(gone);
    world.closeWindow(gone);
    sc::StreamConfiguration fine;
    fine.width = 10;
    fine.height = 10;
    sc::StreamConfiguration huge = fine;
    huge.width = cg::maximumWindowImageSide + 1;

    struct Row {
        const char* what;
        sc::Window window;
        sc::StreamConfiguration configuration;
        bool access, fault, captureFails;
        long code;
    };
    const Row rows[] = {
        {"no access", w, fine, false, false, false, sc::StreamError::userDeclined},
        {"fault", w, fine, true, true, false, sc::StreamError::failedToStart},
        {"window cannot be captured", w, fine, true, false, true, sc::StreamError::failedToStart},
        {"window gone", g, fine, true, false, false, sc::StreamError::noCaptureSource},
        {"too large", w, huge, true, false, false, sc::StreamError::invalidParameter},
    };
    for (const auto& row : rows) {
        world.permissions().screenRecording = row.access;
        world.faults().screenshotFails = row.fault;
        world.windowServer().find(n)->captureFails = row.captureFails;
        auto answer = screenshot(row.window, row.configuration);
        loop.advance(1s);
        ASSERT_TRUE(answer->called) << row.what;
        EXPECT_EQ(answer->image, nullptr) << row.what;
        ASSERT_TRUE(answer->error) << row.what;
        EXPECT_EQ(answer->error->code(), row.code) << row.what;
    }
}

TEST(ScreenCapture, NothingIsCalledWhenTheWorldGoesFirst) {
    runtime::ManualLoop loop;
    auto world = std::make_unique<sim::World>(desk());
    bool called = false;
    sc::ShareableContent::getExcludingDesktopWindows(
        false, true,
        [&called](std::shared_ptr<const sc::ShareableContent>, std::optional<ns::Error>) { called = true; });
    world.reset();
    loop.advance(1s);
    EXPECT_FALSE(called);
}
