#include "macos/AppKit/HostRunLoop.hpp"

#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

using namespace std::chrono_literals;

namespace {

void ensureQtApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "macos_appkit_tests";
    static char* argv[] = {name, nullptr};
    // Kept for the life of the process: destroying it among the static destructors crashes Qt.
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    (void)application;
}

// Qt's loop runs, as it does in the program, until a timer of its own `ms` from now: Qt fires its
// timers in deadline order, so the host's timer armed for an earlier instant has fired by then.
void runQtFor(int ms) {
    QEventLoop qt;
    QTimer::singleShot(ms, Qt::PreciseTimer, &qt, &QEventLoop::quit);
    qt.exec();
}

// The runtime's loop in virtual time driven by Qt's loop through the host, as in the program; the
// virtual clock moves only where a test moves it.
class HostRunLoopTest : public ::testing::Test {
protected:
    void SetUp() override { ensureQtApplication(); }

    // Asks for a paint at the clock's current instant: from a job in a drain, or between drains,
    // after the host's first drain has armed its timer for the next deadline.
    static void request(ns::HostRunLoop& host, bool betweenDrains) {
        if (!betweenDrains) runtime::mainExecutor().enqueue(nullptr, [&host] { host.paintRequested(); });
        runQtFor(1);
        if (betweenDrains) host.paintRequested();
    }

    runtime::ManualLoop loop;
};

}  // namespace

// Where the request comes from: a job of the loop (a view asking inside a drain), or Qt's own
// handlers between drains (the panel's update request reaching the window's display handler).
class HostRunLoopPaintTest : public HostRunLoopTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HostRunLoopPaintTest, TimersDueWithinTheFrameWaitForTheAskedPaintAndRunOnceItIsPainted) {
    const bool betweenDrains = GetParam();
    ns::HostRunLoop host(loop.loop());
    bool fired = false;
    const auto start = loop.now();
    loop.loop().scheduleTimer(start + 4ms, [&fired] { fired = true; });
    request(host, betweenDrains);
    // The deadline passes while Qt has not painted yet.
    loop.clock().moveTo(start + 4ms);
    runQtFor(40);
    EXPECT_FALSE(fired) << "the timer waits for the paint";

    host.painted();
    runQtFor(5);
    EXPECT_TRUE(fired) << "painted, the timer runs at once";
}

TEST_P(HostRunLoopPaintTest, APaintThatDoesNotComeHoldsTimersForAboutAFrameOnly) {
    const bool betweenDrains = GetParam();
    ns::HostRunLoop host(loop.loop());
    bool fired = false;
    const auto start = loop.now();
    loop.loop().scheduleTimer(start + 1ms, [&fired] { fired = true; });
    request(host, betweenDrains);
    loop.clock().moveTo(start + 10ms);
    runQtFor(30);
    EXPECT_FALSE(fired) << "within the frame";
    // A frame after the request, on the loop's clock, the hold is over without a paint.
    loop.clock().moveTo(start + 17ms);
    runQtFor(40);
    EXPECT_TRUE(fired);
}

INSTANTIATE_TEST_SUITE_P(Requests, HostRunLoopPaintTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "BetweenDrains" : "InADrain"); });
