#include "System/ScreenGeometry.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using stashbay::MenuBarZones;
using stashbay::ScreenGeometry;

namespace {

sim::ScreenSpec screen(cg::Rect frame, cg::Rect visibleFrame, double topInset = 0,
                       std::optional<cg::Rect> left = std::nullopt, std::optional<cg::Rect> right = std::nullopt,
                       std::optional<std::uint32_t> number = 1) {
    sim::ScreenSpec layout;
    layout.frame = frame;
    layout.visibleFrame = visibleFrame;
    layout.safeAreaInsets.top = topInset;
    layout.auxiliaryTopLeftArea = left;
    layout.auxiliaryTopRightArea = right;
    layout.displayNumber = number;
    return layout;
}

sim::Scenario scenarioOf(std::vector<sim::ScreenSpec> screens, std::optional<std::size_t> main = 0) {
    sim::Scenario scenario;
    scenario.name = "test";
    scenario.mainScreen = screens.empty() ? std::nullopt : main;
    scenario.screens = std::move(screens);
    return scenario;
}

const cg::Rect laptop(0, 0, 1512, 982);
const cg::Rect leftArea(0, 945, 662, 37);
const cg::Rect rightArea(850, 945, 662, 37);

// The notched laptop panel, measured.
ScreenGeometry notched() { return ScreenGeometry(cg::Rect(662, 945, 188, 37), cg::Rect(0, 945, 1512, 37), laptop, 37); }
ScreenGeometry unnotched() { return ScreenGeometry(std::nullopt, cg::Rect(0, 958, 1512, 24), laptop, 24); }

struct Measurement {
    const char* what;
    sim::ScreenSpec layout;
    std::optional<cg::Rect> notch;
    cg::Rect menuBar;
    double height;
    os::LogLevel level;
    std::string record;
};

void PrintTo(const Measurement& m, std::ostream* os) { *os << m.what; }

class MeasuringAScreen : public ::testing::TestWithParam<Measurement> {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }
    runtime::ManualLoop loop;
};

constexpr const char* noNotchAtOrigin = "No notch detected for screen at origin (0.000000, 0.000000).";
constexpr const char* estimated =
    "Notch detected via safeAreaInsets but auxiliaryTopAreas unavailable. Using estimate.";

}  // namespace

TEST_P(MeasuringAScreen, GivesTheMenuBarTheNotchAndOneRecord) {
    const auto& c = GetParam();
    sim::World world(scenarioOf({c.layout}));
    os::LogCapture capture;

    auto geometry = ScreenGeometry::forScreen(ns::Screen::screens().at(0));

    EXPECT_EQ(geometry.notchRect(), c.notch);
    EXPECT_EQ(geometry.hasNotch(), c.notch.has_value());
    EXPECT_EQ(geometry.menuBarRect(), c.menuBar);
    EXPECT_EQ(geometry.menuBarHeight(), c.height);
    EXPECT_EQ(geometry.screenFrame(), c.layout.frame);
    auto records = capture.records("display");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, c.level);
    EXPECT_EQ(records[0].text, c.record);
    EXPECT_EQ(records[0].subsystem, "app.stashbay.Stashbay");
}

INSTANTIATE_TEST_SUITE_P(
    ScreenGeometry, MeasuringAScreen,
    ::testing::Values(
        Measurement{"NotchedPanel", screen(laptop, cg::Rect(0, 0, 1512, 945), 37, leftArea, rightArea),
                    cg::Rect(662, 945, 188, 37), cg::Rect(0, 945, 1512, 37), 37, os::LogLevel::debug,
                    "Notch detected: x=662.000000, width=188.000000"},
        Measurement{"NoAuxiliaryAreasGivesTheCentredEstimate", screen(laptop, cg::Rect(0, 0, 1512, 945), 37),
                    cg::Rect(646, 945, 220, 37), cg::Rect(0, 945, 1512, 37), 37, os::LogLevel::error, estimated},
        Measurement{"OneAuxiliaryAreaGivesTheEstimate",
                    screen(laptop, cg::Rect(0, 0, 1512, 945), 37, leftArea, std::nullopt), cg::Rect(646, 945, 220, 37),
                    cg::Rect(0, 945, 1512, 37), 37, os::LogLevel::error, estimated},
        Measurement{"ZeroTopInsetHasNoNotchDespiteAuxiliaryAreas",
                    screen(laptop, cg::Rect(0, 0, 1512, 945), 0, leftArea, rightArea), std::nullopt,
                    cg::Rect(0, 945, 1512, 37), 37, os::LogLevel::debug, noNotchAtOrigin},
        Measurement{"ShallowMenuBarIsRaisedTo24", screen(laptop, cg::Rect(0, 0, 1512, 972)), std::nullopt,
                    cg::Rect(0, 958, 1512, 24), 24, os::LogLevel::debug, noNotchAtOrigin},
        Measurement{"VisibleFrameReachingTheTopGives24", screen(laptop, laptop), std::nullopt,
                    cg::Rect(0, 958, 1512, 24), 24, os::LogLevel::debug, noNotchAtOrigin},
        // Taller than a notch's menu bar, and the notch's height follows the menu bar's.
        Measurement{
            "NotchIsAsTallAsTheMenuBar",
            screen(laptop, cg::Rect(0, 0, 1512, 932), 37, cg::Rect(0, 945, 662, 37), cg::Rect(850, 945, 662, 37)),
            cg::Rect(662, 932, 188, 50), cg::Rect(0, 932, 1512, 50), 50, os::LogLevel::debug,
            "Notch detected: x=662.000000, width=188.000000"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ScreenGeometryRecords, NameTheOriginOfAScreenAwayFromThePrimary) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    sim::World world(scenarioOf({screen(laptop, cg::Rect(0, 0, 1512, 945), 37, leftArea, rightArea),
                                 screen(cg::Rect(-1920, 120.5, 1920, 1080), cg::Rect(-1920, 120.5, 1920, 1055), 0,
                                        std::nullopt, std::nullopt, 2)}));
    os::LogCapture capture;

    auto geometry = ScreenGeometry::forScreen(ns::Screen::screens().at(1));

    EXPECT_EQ(geometry.menuBarRect(), cg::Rect(-1920, 1175.5, 1920, 25));
    EXPECT_EQ(capture.texts("display"),
              std::vector<std::string>{"No notch detected for screen at origin (-1920.000000, 120.500000)."});
}

TEST(ScreenGeometryValue, EqualityLooksAtEveryField) {
    EXPECT_EQ(notched(), notched());
    EXPECT_NE(notched(), ScreenGeometry(std::nullopt, cg::Rect(0, 945, 1512, 37), laptop, 37));
    EXPECT_NE(notched(), ScreenGeometry(cg::Rect(662, 945, 188, 37), cg::Rect(0, 945, 1512, 37), laptop, 36));
    EXPECT_EQ(unnotched(), ScreenGeometry(std::nullopt, cg::Rect(0, 958, 1512, 24), laptop, 24));
}

TEST(NotchQuestions, PointsUseThePlatformsContainment) {
    const std::pair<cg::Point, bool> cases[] = {
        {{662, 945}, true},    // min edges are inside
        {{700, 960}, true},    //
        {{850, 960}, false},   // right edge is outside
        {{700, 982}, false},   // top edge is outside
        {{661.9, 960}, false}  //
    };
    for (auto [point, behind] : cases)
        EXPECT_EQ(notched().isPointBehindNotch(point), behind) << point.x << "," << point.y;
    EXPECT_FALSE(unnotched().isPointBehindNotch({700, 960}));
}

TEST(NotchQuestions, AnItemIsHiddenWhenItsCentreIsLeftOfTheNotchsRightEdgePlus20) {
    const std::pair<double, bool> cases[] = {{869.9, true}, {870, false}, {100, true}, {760, true}, {1400, false}};
    for (auto [centre, hidden] : cases) {
        cg::Rect item(centre - 11, 955, 22, 24);
        EXPECT_EQ(notched().isMenuExtraHiddenByNotch(item), hidden) << centre;
        // Only the horizontal centre counts.
        EXPECT_EQ(notched().isMenuExtraHiddenByNotch(item.offsetBy(0, -900)), hidden) << centre;
        EXPECT_FALSE(unnotched().isMenuExtraHiddenByNotch(item)) << centre;
    }
}

TEST(NotchQuestions, RectanglesBehindTheNotch) {
    struct Case {
        const char* what;
        cg::Rect rect;
        bool behind;
    };
    const Case cases[] = {
        {"overlapping the notch", cg::Rect(640, 950, 40, 20), true},
        {"centred within 50 points left of it", cg::Rect(630, 950, 20, 20), true},
        {"centred far left of it", cg::Rect(490, 950, 20, 20), false},
        {"touching its left edge only", cg::Rect(642, 950, 20, 20), true},
        {"right of its right edge", cg::Rect(851, 950, 20, 20), false},
        {"below it, inside its width", cg::Rect(700, 100, 20, 20), true},
    };
    for (const auto& c : cases) EXPECT_EQ(notched().isRectBehindNotch(c.rect), c.behind) << c.what;
    EXPECT_FALSE(unnotched().isRectBehindNotch(cg::Rect(700, 960, 20, 20)));
}

TEST(NotchQuestions, AnOffCentreNotchCountsRectanglesRightOfTheScreensCentre) {
    // Screen centre 500; the notch spans 800 ... 900, so its 50-point margin starts at 750.
    ScreenGeometry geometry(cg::Rect(800, 776, 100, 24), cg::Rect(0, 776, 1000, 24), cg::Rect(0, 0, 1000, 800), 24);
    const std::pair<double, bool> cases[] = {{600, true}, {500, false}, {400, false}, {760, true}, {899, true}};
    for (auto [centre, behind] : cases) {
        EXPECT_EQ(geometry.isRectBehindNotch(cg::Rect(centre - 5, 100, 10, 10)), behind) << centre;
    }
}

TEST(NotchQuestions, TheMenuBarSplitsAtTheNotch) {
    EXPECT_EQ(notched().menuBarZones(), (MenuBarZones{cg::Rect(0, 945, 662, 37), cg::Rect(850, 945, 662, 37)}));
    EXPECT_EQ(unnotched().menuBarZones(), std::nullopt);
}

namespace {

class Conversions : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }
    runtime::ManualLoop loop;
};

}  // namespace

TEST_F(Conversions, FlipYAboutThePrimaryScreensHeight) {
    sim::World world(scenarioOf({screen(laptop, cg::Rect(0, 0, 1512, 945))}));
    struct Case {
        cg::Rect windowServer;
        cg::Rect screen;
    };
    const Case cases[] = {
        {cg::Rect(10, 0, 20, 24), cg::Rect(10, 958, 20, 24)},
        {cg::Rect(0, 0, 1512, 37), cg::Rect(0, 945, 1512, 37)},
        {cg::Rect(-1920, -98, 1920, 1080), cg::Rect(-1920, 0, 1920, 1080)},
        {cg::Rect(100.25, 500.5, 0, 0), cg::Rect(100.25, 481.5, 0, 0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScreenGeometry::cgRectToCocoa(c.windowServer), c.screen) << cg::describe(c.windowServer);
        EXPECT_EQ(ScreenGeometry::cocoaRectToCG(c.screen), c.windowServer) << cg::describe(c.screen);
        EXPECT_EQ(ScreenGeometry::cocoaRectToCG(ScreenGeometry::cgRectToCocoa(c.windowServer)), c.windowServer);
        EXPECT_EQ(ScreenGeometry::cocoaToCGScreenY(c.screen.origin.y, c.screen.size.height), c.windowServer.origin.y);
    }
}

TEST_F(Conversions, ARectangleWithANegativeSizeCoversTheSameArea) {
    sim::World world(scenarioOf({screen(laptop, cg::Rect(0, 0, 1512, 945))}));
    cg::Rect flipped(30, 24, -20, -24);  // the area of (10, 0, 20, 24)
    EXPECT_EQ(ScreenGeometry::cgRectToCocoa(flipped).standardized(), cg::Rect(10, 958, 20, 24));
    EXPECT_EQ(ScreenGeometry::cocoaRectToCG(ScreenGeometry::cgRectToCocoa(flipped)), flipped);
}

TEST_F(Conversions, UseThePrimaryScreenNotTheFocusedOne) {
    sim::World world(scenarioOf(
        {screen(cg::Rect(0, 0, 1920, 1080), cg::Rect(0, 0, 1920, 1055), 0, std::nullopt, std::nullopt, 2),
         screen(cg::Rect(1920, 0, 1512, 982), cg::Rect(1920, 0, 1512, 945), 0, std::nullopt, std::nullopt, 1)},
        1));
    EXPECT_EQ(ScreenGeometry::cgRectToCocoa(cg::Rect(10, 0, 20, 24)), cg::Rect(10, 1056, 20, 24));
    EXPECT_EQ(ScreenGeometry::cocoaToCGScreenY(1056, 24), 0);
}

TEST_F(Conversions, ReadTheScreensAtEveryCall) {
    sim::World world(scenarioOf({screen(laptop, cg::Rect(0, 0, 1512, 945))}));
    EXPECT_EQ(ScreenGeometry::cgRectToCocoa(cg::Rect(10, 0, 20, 24)).origin.y, 958);
    world.replaceScreen(0, screen(cg::Rect(0, 0, 1920, 1200), cg::Rect(0, 0, 1920, 1175)));
    EXPECT_EQ(ScreenGeometry::cgRectToCocoa(cg::Rect(10, 0, 20, 24)).origin.y, 1176);
    EXPECT_EQ(ScreenGeometry::cocoaRectToCG(cg::Rect(10, 1176, 20, 24)).origin.y, 0);
}

TEST_F(Conversions, StillKnowThePrimaryScreenWhoseDeviceDescriptionLacksItsNumber) {
    auto layout = screen(laptop, cg::Rect(0, 0, 1512, 945));
    layout.deviceDescription = cf::Value::Dictionary{{"NSDeviceIsScreen", cf::Value(true)}};
    sim::World world(scenarioOf({layout}));
    EXPECT_EQ(ScreenGeometry::cgRectToCocoa(cg::Rect(10, 0, 20, 24)), cg::Rect(10, 958, 20, 24));
    EXPECT_EQ(ScreenGeometry::cocoaRectToCG(cg::Rect(10, 958, 20, 24)), cg::Rect(10, 0, 20, 24));
    EXPECT_EQ(ScreenGeometry::cocoaToCGScreenY(958, 24), 0);
}

TEST_F(Conversions, ReturnTheirInputWithoutAScreen) {
    const cg::Rect rect(10, 0, 20, 24);
    sim::World world(scenarioOf({}));
    EXPECT_EQ(ScreenGeometry::cgRectToCocoa(rect), rect);
    EXPECT_EQ(ScreenGeometry::cocoaRectToCG(rect), rect);
    EXPECT_EQ(ScreenGeometry::cocoaToCGScreenY(123, 24), 123);
}

TEST_F(Conversions, FlipAboutAPrimaryScreenThatTheDisplayQueriesDoNotKnow) {
    // No display number: the display queries know no main display, but the screen list's first
    // entry still gives the height, also on a service's executor.
    sim::World world(
        scenarioOf({screen(laptop, cg::Rect(0, 0, 1512, 945), 0, std::nullopt, std::nullopt, std::nullopt)}));
    runtime::SerialExecutor scanner("scanner");
    std::optional<cg::Rect> screenSpace;
    std::optional<cg::Rect> windowServerSpace;
    std::optional<double> y;
    scanner.enqueue(nullptr, [&] {
        screenSpace = ScreenGeometry::cgRectToCocoa(cg::Rect(10, 0, 20, 24));
        windowServerSpace = ScreenGeometry::cocoaRectToCG(cg::Rect(10, 958, 20, 24));
        y = ScreenGeometry::cocoaToCGScreenY(958, 24);
    });
    loop.runUntilIdle();
    EXPECT_EQ(screenSpace, cg::Rect(10, 958, 20, 24));
    EXPECT_EQ(windowServerSpace, cg::Rect(10, 0, 20, 24));
    EXPECT_EQ(y, 0);
}

TEST_F(Conversions, WorkOnAServicesOwnExecutor) {
    sim::World world(scenarioOf({screen(laptop, cg::Rect(0, 0, 1512, 945))}));
    runtime::SerialExecutor scanner("scanner");
    std::optional<cg::Rect> screenSpace;
    std::optional<cg::Rect> windowServerSpace;
    scanner.enqueue(nullptr, [&] {
        screenSpace = ScreenGeometry::cgRectToCocoa(cg::Rect(10, 0, 20, 24));
        windowServerSpace = ScreenGeometry::cocoaRectToCG(*screenSpace);
    });
    loop.runUntilIdle();
    EXPECT_EQ(screenSpace, cg::Rect(10, 958, 20, 24));
    EXPECT_EQ(windowServerSpace, cg::Rect(10, 0, 20, 24));
}

TEST(ScreenGeometryDeathTest, MeasuringAScreenOffTheMainExecutorAborts) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is compiled into debug builds only";
#else
    auto measureOn = [](bool main) {
        runtime::ManualLoop loop;
        sim::World world;
        auto screen = ns::Screen::screens().at(0);
        runtime::SerialExecutor scanner("scanner");
        runtime::Executor& executor = main ? runtime::mainExecutor() : scanner;
        executor.enqueue(nullptr, [screen] { (void)ScreenGeometry::forScreen(screen); });
        loop.runUntilIdle();
    };
    os::LogStore::shared().setEchoToStderr(false);
    measureOn(true);
    EXPECT_DEATH(measureOn(false), "main-thread check failed: ScreenGeometry.forScreen");
#endif
}
