#include "macos/AppKit/Screen.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct MainOnlyCall {
    const char* name;
    std::function<void()> call;
};

void PrintTo(const MainOnlyCall& c, std::ostream* os) { *os << c.name; }

class MainThreadCheckDeathTest : public ::testing::TestWithParam<MainOnlyCall> {};

// Runs `call` on a serial executor, as a service that forgot to hop to the main thread would.
void callOffMain(const std::function<void()>& call) {
    runtime::ManualLoop loop;
    sim::World world;
    runtime::SerialExecutor scanner("scanner");
    scanner.enqueue(nullptr, call);
    loop.runUntilIdle();
}

void callOnMain(const std::function<void()>& call) {
    runtime::ManualLoop loop;
    sim::World world;
    runtime::mainExecutor().enqueue(nullptr, call);
    loop.runUntilIdle();
}

}  // namespace

TEST_P(MainThreadCheckDeathTest, AbortsOffTheMainExecutor) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is compiled into debug builds only";
#else
    callOnMain(GetParam().call);
    EXPECT_DEATH(callOffMain(GetParam().call), "main-thread check failed");
#endif
}

INSTANTIATE_TEST_SUITE_P(AppKit, MainThreadCheckDeathTest,
                         ::testing::Values(MainOnlyCall{"screens", [] { ns::Screen::screens(); }},
                                           MainOnlyCall{"mainScreen", [] { ns::Screen::main(); }},
                                           MainOnlyCall{"runningApplications",
                                                        [] { ns::Workspace::shared().runningApplications(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MainThreadCheck, ApplicationLookupsWorkOnAnyExecutor) {
    runtime::ManualLoop loop;
    sim::World world;
    runtime::SerialExecutor scanner("scanner");
    std::shared_ptr<ns::RunningApplication> found;
    scanner.enqueue(nullptr, [&] { found = ns::RunningApplication::withProcessIdentifier(304); });
    loop.runUntilIdle();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bundleIdentifier(), "com.apple.controlcenter");
}
