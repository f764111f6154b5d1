#include "macos/AppKit/RunningApplication.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class WorkspaceTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

std::vector<std::int32_t> pids(const std::vector<std::shared_ptr<ns::RunningApplication>>& apps) {
    std::vector<std::int32_t> out;
    for (const auto& a : apps) out.push_back(a->processIdentifier());
    return out;
}

}  // namespace

TEST_F(WorkspaceTest, RunningApplicationsComeInLaunchOrderEveryTime) {
    auto first = ns::Workspace::shared().runningApplications();
    EXPECT_EQ(pids(first),
              (std::vector<std::int32_t>{301, 302, 304, 305, 306, 303, 500, 410, 411, 412, 413, 420, 421, 422, 440,
                                         441, 442, 443, 444, 445, 446, 447, 448, 430, 431, 450, 451, 452, 453, 454}));
    EXPECT_EQ(pids(ns::Workspace::shared().runningApplications()), pids(first));
    auto launched = world.launchApplication({});
    auto again = pids(ns::Workspace::shared().runningApplications());
    EXPECT_EQ(again.back(), launched->pid());
}

TEST_F(WorkspaceTest, ApplicationsCarryTheirOptionalTextsAndFlags) {
    struct Row {
        std::int32_t pid;
        std::optional<std::string> bundleIdentifier;
        std::optional<std::string> name;
        bool finishedLaunching;
        bool terminated;
    };
    const Row rows[] = {
        {304, "com.apple.controlcenter", "Control Center", true, false},
        {420, std::nullopt, "battery-monitor", true, false},
        {421, "dev.nightjar.sync-agent", std::nullopt, true, false},
        {422, std::nullopt, std::nullopt, true, false},
        {430, "com.sleepyhead.Dawdle", "Dawdle", false, false},
        {431, "com.ghostware.Vanish", "Vanish", true, true},
    };
    auto apps = ns::Workspace::shared().runningApplications();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pid);
        auto it =
            std::find_if(apps.begin(), apps.end(), [&](const auto& a) { return a->processIdentifier() == row.pid; });
        ASSERT_NE(it, apps.end());
        EXPECT_EQ((*it)->bundleIdentifier(), row.bundleIdentifier);
        EXPECT_EQ((*it)->localizedName(), row.name);
        EXPECT_EQ((*it)->isFinishedLaunching(), row.finishedLaunching);
        EXPECT_EQ((*it)->isTerminated(), row.terminated);
    }
}

TEST_F(WorkspaceTest, LookupByProcessIdFindsOnlyRunningApplications) {
    ASSERT_TRUE(ns::RunningApplication::withProcessIdentifier(301));
    EXPECT_EQ(ns::RunningApplication::withProcessIdentifier(301)->localizedName(), "Finder");
    EXPECT_FALSE(ns::RunningApplication::withProcessIdentifier(4242));
    EXPECT_FALSE(ns::RunningApplication::withProcessIdentifier(431));  // listed, but already gone
    EXPECT_FALSE(ns::RunningApplication::withProcessIdentifier(0));
    EXPECT_FALSE(ns::RunningApplication::withProcessIdentifier(-1));
}

TEST_F(WorkspaceTest, ThisProcessIsStashbay) {
    auto self = ns::RunningApplication::current();
    EXPECT_EQ(self->processIdentifier(), ns::currentProcessIdentifier());
    EXPECT_EQ(ns::currentProcessIdentifier(), 500);
    EXPECT_EQ(self->bundleIdentifier(), "app.stashbay.Stashbay");
}

TEST_F(WorkspaceTest, AHandleSeesItsApplicationQuit) {
    auto muffle = ns::RunningApplication::withProcessIdentifier(411);
    ASSERT_TRUE(muffle);
    world.quitApplication(411);
    EXPECT_TRUE(muffle->isTerminated());
    EXPECT_FALSE(ns::RunningApplication::withProcessIdentifier(411));
    EXPECT_EQ(pids(ns::Workspace::shared().runningApplications()).size(), 29u);
    EXPECT_FALSE(muffle->activate());
}

TEST_F(WorkspaceTest, ActivateAndUnhideAreRecorded) {
    auto barometer = ns::RunningApplication::withProcessIdentifier(410);
    world.setHidden(410, true);
    EXPECT_TRUE(barometer->isHidden());
    EXPECT_TRUE(barometer->unhide());
    EXPECT_TRUE(barometer->activate());
    EXPECT_TRUE(barometer->activate(ns::ApplicationActivationOptions::activateAllWindows |
                                    ns::ApplicationActivationOptions::activateIgnoringOtherApps));
    using Kind = sim::ApplicationRequest::Kind;
    EXPECT_EQ(world.processes().requests(), (std::vector<sim::ApplicationRequest>{
                                                {Kind::unhide, 410, 0, true},
                                                {Kind::activate, 410, 0, true},
                                                {Kind::activate, 410, 3, true},
                                            }));
    EXPECT_FALSE(barometer->isHidden());
    ASSERT_TRUE(ns::Workspace::shared().frontmostApplication());
    EXPECT_EQ(ns::Workspace::shared().frontmostApplication()->processIdentifier(), 410);
}

TEST_F(WorkspaceTest, LaunchAndTerminateArriveOnTheWorkspaceCentreWithTheApplication) {
    std::vector<std::string> seen;
    auto& centre = ns::Workspace::shared().notificationCenter();
    EXPECT_NE(&centre, &ns::NotificationCenter::defaultCenter());
    auto record = [&](const ns::Notification& n) {
        auto app = ns::RunningApplication::fromNotification(n);
        seen.push_back(n.name + " " + (app ? std::to_string(app->processIdentifier()) : "?"));
    };
    auto launches =
        centre.addObserver(ns::workspaceDidLaunchApplicationNotification, &ns::OperationQueue::main(), record);
    auto quits =
        centre.addObserver(ns::workspaceDidTerminateApplicationNotification, &ns::OperationQueue::main(), record);
    int onDefault = 0;
    auto other =
        ns::NotificationCenter::defaultCenter().addObserver("", nullptr, [&](const ns::Notification&) { ++onDefault; });

    auto app = world.launchApplication(sim::ProcessSpec{std::nullopt, "com.example.late", "Late", true, false, false});
    world.quitApplication(app->pid());
    loop.runUntilIdle();
    std::string pid = std::to_string(app->pid());
    EXPECT_EQ(seen, (std::vector<std::string>{"NSWorkspaceDidLaunchApplicationNotification " + pid,
                                              "NSWorkspaceDidTerminateApplicationNotification " + pid}));
    EXPECT_EQ(onDefault, 0);
    EXPECT_FALSE(ns::RunningApplication::fromNotification(ns::Notification{"x", 0, {}}));
}
