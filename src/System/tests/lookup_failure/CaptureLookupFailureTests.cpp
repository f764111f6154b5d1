// A process of its own: the capture shim looks its image function up once per process, and here
// that lookup must fail, so this process never loads the window-image library before it.

#include "System/CGWindowCapture.hpp"
#include "System/WindowListBridge.hpp"
#include "macos/CoreGraphics/WindowImage.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

using stashbay::WindowListBridge;

TEST(CaptureWithoutTheImageFunction, TheLookupStaysFailedAndEveryCaptureFallsBackToAScreenshot) {
    os::LogStore::shared().setEchoToStderr(false);
    cg::setWindowImageLibraryAllowed(false);
    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture capture;
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "CGWindowListCreateImage"), nullptr) << "nothing in this process exports it";

    const auto* item = world.statusItems().front();
    const auto window = item->window;
    const auto frame = item->frame;
    EXPECT_EQ(SBCaptureWindowImage(window), nullptr);
    EXPECT_EQ(SBCaptureMenuBarStrip(cg::Rect(0, 0, 1512, 37)), nullptr);

    auto image = loop.run(WindowListBridge::captureWindowImage(window, frame));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), static_cast<std::size_t>(frame.width() * 2));
    EXPECT_EQ(world.captureService().shareableContentRequests, 1);
    EXPECT_EQ(world.captureService().screenshotRequests, 1);

    // The library arriving later changes nothing: the lookup is not tried again.
    cg::setWindowImageLibraryAllowed(true);
    ASSERT_TRUE(cg::loadWindowImageLibrary());
    ASSERT_NE(dlsym(RTLD_DEFAULT, "CGWindowListCreateImage"), nullptr);
    EXPECT_EQ(SBCaptureWindowImage(window), nullptr);
    image = loop.run(WindowListBridge::captureWindowImage(window, frame));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(world.captureService().shareableContentRequests, 2);
    EXPECT_EQ(world.captureService().windowImageRequests, 0) << "the image function was never called";
    EXPECT_TRUE(capture.texts("scanning").empty()) << "a missing function is not logged";
}
