#include "System/CGWindowCapture.hpp"
#include "System/WindowListBridge.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include "SceneTest.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using stashbay::WindowListBridge;

namespace {

// A 2x screen; Stashbay (pid 500) and one other application.
constexpr const char* desk = R"({
  "version": 1,
  "screens": [{"frame": {"x": 0, "y": 0, "width": 1600, "height": 1000},
               "visibleFrame": {"x": 0, "y": 0, "width": 1600, "height": 976},
               "displayNumber": 1, "backingScaleFactor": 2}],
  "applications": [
    {"pid": 500, "bundleIdentifier": "app.stashbay.Stashbay", "name": "Stashbay"},
    {"pid": 10, "bundleIdentifier": "com.example.clock", "name": "Clock"}
  ]})";

class WindowCaptureTest : public SceneTest {
protected:
    WindowCaptureTest() : SceneTest(desk, "desk.json") {}

    sim::WindowNumber statusWindow(cg::Rect bounds, bool onScreen = true, std::uint32_t color = 0x0A84FFFF,
                                   sim::ProcessID owner = 10) {
        sim::WindowSpec spec;
        spec.bounds = bounds;
        spec.layer = 25;
        spec.onScreen = onScreen;
        spec.color = color;
        return world->openWindow(owner, spec);
    }

    cg::ImageRef captureImage(std::uint32_t windowID, cg::Rect bounds) {
        return loop.run(WindowListBridge::captureWindowImage(windowID, bounds));
    }

    int contentRequests() const { return world->captureService().shareableContentRequests; }
    int screenshotRequests() const { return world->captureService().screenshotRequests; }
    std::vector<std::string> scanning() const { return capture->texts("scanning"); }
};

std::uint32_t firstPixel(const cg::ImageRef& image) {
    const auto& p = image->pixels();
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

runtime::Task<bool> continuesOnItsOwnExecutor(runtime::Executor* own, std::uint32_t windowID) {
    cg::Rect bounds(1400, 0, 22, 24);
    auto capturing = WindowListBridge::captureWindowImage(windowID, bounds);
    auto image = co_await capturing;
    co_return image&&& runtime::currentExecutor() == own;
}

}  // namespace

TEST_F(WindowCaptureTest, TheShimsImageNeedsNoScreenshot) {
    auto n = statusWindow({1400, 0, 22.5, 24});
    auto image = captureImage(n, {1400, 0, 22.5, 24});
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 45u) << "the window's frame at the screen's scale";
    EXPECT_EQ(image->height(), 48u);
    EXPECT_EQ(world->captureService().windowImageRequests, 1);
    EXPECT_EQ(contentRequests(), 0);
    EXPECT_EQ(screenshotRequests(), 0);
    EXPECT_TRUE(scanning().empty());
}

TEST_F(WindowCaptureTest, TheShimCapturesAStripOfOnScreenWindows) {
    statusWindow({1500, 0, 100, 24}, true, 0xFF0000FF);
    statusWindow({1400, 0, 100, 24}, false, 0x00FF00FF);
    auto strip = SBCaptureMenuBarStrip(cg::Rect(1400, 0, 200, 24));
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->width(), 400u);
    EXPECT_EQ(strip->height(), 48u);
    EXPECT_EQ(firstPixel(strip), 0u) << "the off-screen window is not in the strip";
    EXPECT_EQ(SBCaptureMenuBarStrip(cg::Rect(0, 0, std::numeric_limits<double>::infinity(), 24)), nullptr);
}

TEST_F(WindowCaptureTest, WithoutTheShimsImageAScreenshotAtTwiceThePointsIsTaken) {
    world->faults().windowImageFails = true;
    struct Row {
        cg::Rect bounds;
        std::size_t width, height;
    };
    for (const auto& row :
         {Row{{1400, 0, 22, 24}, 44, 48}, Row{{1400, 0, 22.7, 24}, 45, 48}, Row{{1400, 0, 30, 37}, 60, 74}}) {
        // The size comes from the bounds passed in, whatever the window's own frame.
        auto n = statusWindow({1000, 0, 10, 10}, true, 0x0A84FF80);
        auto image = captureImage(n, row.bounds);
        ASSERT_NE(image, nullptr) << cg::describe(row.bounds);
        EXPECT_EQ(image->width(), row.width) << cg::describe(row.bounds);
        EXPECT_EQ(image->height(), row.height) << cg::describe(row.bounds);
        EXPECT_EQ(firstPixel(image) & 0xFF, 0x80u) << "a clear background keeps the icon's transparency";
    }
    EXPECT_EQ(contentRequests(), 3);
    EXPECT_EQ(screenshotRequests(), 3);
    EXPECT_TRUE(scanning().empty());
}

TEST_F(WindowCaptureTest, AWindowMissingFromTheShareableContentHasNoImage) {
    world->faults().windowImageFails = true;
    auto offBar = statusWindow({-30, 0, 22, 24}, false);
    EXPECT_EQ(captureImage(offBar, {-30, 0, 22, 24}), nullptr);
    auto record = "Window " + std::to_string(offBar) + " not found in shareable content.";
    EXPECT_EQ(scanning(), std::vector<std::string>{record});
    EXPECT_EQ(capture->records("scanning").front().level, os::LogLevel::debug);
    EXPECT_EQ(screenshotRequests(), 0);
    EXPECT_EQ(captureImage(424242, {0, 0, 22, 24}), nullptr);
    EXPECT_EQ(scanning().back(), "Window 424242 not found in shareable content.");
}

TEST_F(WindowCaptureTest, FailuresOfTheScreenCaptureFrameworkAreLoggedAndGiveNoImage) {
    struct Row {
        const char* what;
        bool access, contentFails, screenshotFails;
        const char* description;
        int screenshots;
    };
    const Row rows[] = {
        {"no Screen Recording", false, false, false, "The user declined Screen Recording access for this application.",
         0},
        {"no shareable content", true, true, false, "The window list could not be read.", 0},
        {"no screenshot", true, false, true, "The screenshot could not be taken.", 1},
    };
    for (const auto& row : rows) {
        SetUp();
        world->faults().windowImageFails = row.access;  // without access the shim has nothing already
        world->permissions().screenRecording = row.access;
        world->faults().shareableContentFails = row.contentFails;
        world->faults().screenshotFails = row.screenshotFails;
        auto n = statusWindow({1400, 0, 22, 24});
        EXPECT_EQ(captureImage(n, {1400, 0, 22, 24}), nullptr) << row.what;
        EXPECT_EQ(scanning(), std::vector<std::string>{"Failed to capture image for window " + std::to_string(n) +
                                                       ": " + row.description})
            << row.what;
        auto record = capture->first("scanning", "Failed");
        ASSERT_TRUE(record);
        EXPECT_EQ(record->format, "Failed to capture image for window %u: %{public}s");
        EXPECT_EQ(record->level, os::LogLevel::debug);
        EXPECT_EQ(contentRequests(), 1) << row.what;
        EXPECT_EQ(screenshotRequests(), row.screenshots) << row.what;
    }
}

TEST_F(WindowCaptureTest, AWindowOfThisProcessIsCapturedWithoutScreenRecording) {
    world->permissions().screenRecording = false;
    auto own = statusWindow({1400, 0, 22, 24}, true, 0x0A84FFFF, 500);
    EXPECT_NE(captureImage(own, {1400, 0, 22, 24}), nullptr);
    EXPECT_EQ(contentRequests(), 0);
}

TEST_F(WindowCaptureTest, BoundsThatAreNotFiniteOrTooLargeAreAFailedCapture) {
    world->faults().windowImageFails = true;
    auto n = statusWindow({1400, 0, 22, 24});
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& bounds : {cg::Rect(1400, 0, nan, 24), cg::Rect(1400, 0, 22, inf), cg::Rect(1400, 0, 2e9, 24),
                               cg::Rect(1400, 0, 22, 1e300)}) {
        capture->clear();
        EXPECT_EQ(captureImage(n, bounds), nullptr) << cg::describe(bounds);
        EXPECT_EQ(scanning(), std::vector<std::string>{"Failed to capture image for window " + std::to_string(n) +
                                                       ": The window's bounds are not a size that can be captured."})
            << cg::describe(bounds);
    }
    EXPECT_EQ(contentRequests(), 0) << "nothing is asked of the screen-capture framework";

    capture->clear();
    EXPECT_EQ(captureImage(n, cg::Rect(1400, 0, 20000, 24)), nullptr) << "fits an integer but no screenshot";
    EXPECT_EQ(scanning(), std::vector<std::string>{"Failed to capture image for window " + std::to_string(n) +
                                                   ": The capture's size is not supported."});
}

TEST_F(WindowCaptureTest, TheCallerContinuesOnItsOwnExecutorAfterTheScreenshot) {
    world->faults().windowImageFails = true;
    auto n = statusWindow({1400, 0, 22, 24});
    runtime::SerialExecutor scanner("scanner");
    auto handle = runtime::spawn(scanner, continuesOnItsOwnExecutor(&scanner, n));
    loop.advance(1s);
    ASSERT_TRUE(handle.isFinished());
    EXPECT_TRUE(handle.result());
    EXPECT_EQ(screenshotRequests(), 1);
}

TEST_F(WindowCaptureTest, TheScreenshotWaitsForTheFrameworksVirtualLatency) {
    world->faults().windowImageFails = true;
    world->captureService().shareableContentLatency = 100ms;
    world->captureService().screenshotLatency = 200ms;
    auto n = statusWindow({1400, 0, 22, 24});
    auto start = loop.now();
    EXPECT_NE(captureImage(n, {1400, 0, 22, 24}), nullptr);
    EXPECT_EQ(loop.now() - start, runtime::Duration(300ms));
}
