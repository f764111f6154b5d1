#include "Models/DisplayInfo.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

using stashbay::DisplayInfo;

namespace {

// A notched laptop panel, 1512 x 982 at `x`, that the platform calls something else than the
// app does.
std::string builtInPanel(int x, const std::string& number = "1", const std::string& description = "") {
    auto at = [x](int dx) { return std::to_string(x + dx); };
    return R"({"name": "Built-in Retina Display",
      "frame": {"x": )" +
           at(0) + R"(, "y": 0, "width": 1512, "height": 982},
      "visibleFrame": {"x": )" +
           at(0) + R"(, "y": 0, "width": 1512, "height": 945},
      "safeAreaInsets": {"top": 37},
      "auxiliaryTopLeftArea": {"x": )" +
           at(0) + R"(, "y": 945, "width": 662, "height": 37},
      "auxiliaryTopRightArea": {"x": )" +
           at(850) + R"(, "y": 945, "width": 662, "height": 37},
      "displayNumber": )" +
           number + description + R"(, "builtIn": true, "backingScaleFactor": 2})";
}

std::string externalScreen(int x, const std::string& description = "") {
    return R"({"name": "Studio 27", "frame": {"x": )" + std::to_string(x) +
           R"(, "y": 0, "width": 2560, "height": 1440},
      "visibleFrame": {"x": )" +
           std::to_string(x) + R"(, "y": 0, "width": 2560, "height": 1415}, "displayNumber": 2)" + description + "}";
}

std::string scenario(const std::vector<std::string>& screens) {
    std::string list;
    for (const auto& s : screens) list += (list.empty() ? "" : ", ") + s;
    return R"({"version": 1, "screens": [)" + list + "]}";
}

struct Expected {
    DisplayInfo::ID id;
    cg::Rect frame;
    bool isBuiltIn;
    bool isMain;
    std::string name;
    bool hasNotch;
};

struct DisplayCase {
    const char* what;
    std::string scenario;
    std::vector<Expected> displays;
    // The notch records one listing writes: one per screen with a display number.
    std::vector<std::string> records;
};

void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.what; }

constexpr const char* notchRecord = "Notch detected: x=662.000000, width=188.000000";
constexpr const char* notchRecordRightOfExternal = "Notch detected: x=3222.000000, width=188.000000";

const Expected builtInFirst{1, cg::Rect(0, 0, 1512, 982), true, true, "Built-in Display", true};
const Expected externalSecond{2, cg::Rect(1512, 0, 2560, 1440), false, false, "Studio 27", false};
const Expected externalFirst{2, cg::Rect(0, 0, 2560, 1440), false, true, "Studio 27", false};
const Expected builtInSecond{1, cg::Rect(2560, 0, 1512, 982), true, false, "Built-in Display", true};

const DisplayCase displayCases[] = {
    {"LaptopFirstThenExternal",
     scenario({builtInPanel(0), externalScreen(1512)}),
     {builtInFirst, externalSecond},
     {notchRecord, "No notch detected for screen at origin (1512.000000, 0.000000)."}},
    {"ExternalFirstThenLaptop",
     scenario({externalScreen(0), builtInPanel(2560)}),
     {externalFirst, builtInSecond},
     {"No notch detected for screen at origin (0.000000, 0.000000).", notchRecordRightOfExternal}},
    {"FirstScreenWithoutAScreenNumber",
     scenario({builtInPanel(0, "1", R"(, "deviceDescription": {"NSDeviceIsScreen": true})"), externalScreen(1512)}),
     {externalSecond},
     {"No notch detected for screen at origin (1512.000000, 0.000000)."}},
    {"FirstScreenWithoutAnyDisplayNumber",
     scenario({builtInPanel(0, "null"), externalScreen(1512)}),
     {externalSecond},
     {"No notch detected for screen at origin (1512.000000, 0.000000)."}},
    {"ScreenNumbersThatAreNotWholeUnsigned32BitNumbers",
     scenario({externalScreen(0, R"(, "deviceDescription": {"NSScreenNumber": "2"})"),
               builtInPanel(2560, "1", R"(, "deviceDescription": {"NSScreenNumber": 1.5})"),
               R"({"frame": {"x": 4072, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 4072, "y": 0, "width": 800, "height": 576}, "displayNumber": 3,
                   "deviceDescription": {"NSScreenNumber": -3}})",
               R"({"frame": {"x": 4872, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 4872, "y": 0, "width": 800, "height": 576}, "displayNumber": 4,
                   "deviceDescription": {"NSScreenNumber": 4294967300}})"}),
     {},
     {}},
    {"SecondScreenWithoutAScreenNumber",
     scenario({builtInPanel(0), externalScreen(1512, R"(, "deviceDescription": {})")}),
     {builtInFirst},
     {notchRecord}},
    {"NoScreens", scenario({}), {}, {}},
};

class DisplayTable : public ::testing::TestWithParam<DisplayCase> {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }
    runtime::ManualLoop loop;
};

}  // namespace

TEST_P(DisplayTable, ListsTheNumberedScreensInThePlatformsOrder) {
    const auto& c = GetParam();
    sim::World world(sim::parseScenario(c.scenario, "t.json"));
    os::LogCapture capture;

    auto displays = DisplayInfo::allDisplays();

    ASSERT_EQ(displays.size(), c.displays.size());
    for (std::size_t i = 0; i < displays.size(); ++i) {
        const auto& got = displays[i];
        const auto& want = c.displays[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(got.id(), want.id);
        EXPECT_EQ(got.frame(), want.frame);
        EXPECT_EQ(got.screenGeometry().screenFrame(), want.frame);
        EXPECT_EQ(got.isBuiltIn(), want.isBuiltIn);
        EXPECT_EQ(got.isMain(), want.isMain);
        EXPECT_EQ(got.displayName(), want.name);
        EXPECT_EQ(got.hasNotch(), want.hasNotch);
        EXPECT_EQ(got.screenGeometry().notchRect().has_value(), want.hasNotch);
    }
    EXPECT_EQ(capture.texts("display"), c.records);
}

TEST_P(DisplayTable, TheMenuBarDisplayIsTheFirstScreensRecord) {
    const auto& c = GetParam();
    sim::World world(sim::parseScenario(c.scenario, "t.json"));

    auto display = DisplayInfo::menuBarDisplay();

    bool firstIsMain = !c.displays.empty() && c.displays.front().isMain;
    ASSERT_EQ(display.has_value(), firstIsMain);
    if (display) {
        EXPECT_EQ(display->id(), c.displays.front().id);
        EXPECT_EQ(display->displayName(), c.displays.front().name);
    }
}

INSTANTIATE_TEST_SUITE_P(DisplayInfo, DisplayTable, ::testing::ValuesIn(displayCases),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(DisplayInfoListing, WritesTheNotchRecordsAgainOnEveryCall) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    sim::World world(sim::parseScenario(scenario({builtInPanel(0), externalScreen(1512)}), "t.json"));
    os::LogCapture capture;

    DisplayInfo::allDisplays();
    DisplayInfo::allDisplays();
    DisplayInfo::menuBarDisplay();

    EXPECT_EQ(capture.count("display", notchRecord), 3u);
    EXPECT_EQ(capture.records("display").size(), 6u);
}

TEST(DisplayInfoListing, FollowsAChangeOfTheScreens) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    sim::World world(sim::parseScenario(scenario({builtInPanel(0), externalScreen(1512)}), "t.json"));
    world.removeScreen(0);

    auto displays = DisplayInfo::allDisplays();

    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0].id(), 2u);
    EXPECT_TRUE(displays[0].isMain());
    EXPECT_EQ(displays[0].frame(), cg::Rect(0, 0, 2560, 1440));
}

namespace {

struct MainOnlyQuery {
    const char* name;
    std::function<void()> call;
};

void PrintTo(const MainOnlyQuery& q, std::ostream* os) { *os << q.name; }

class DisplayInfoDeathTest : public ::testing::TestWithParam<MainOnlyQuery> {};

void runOn(bool main, const std::function<void()>& call) {
    runtime::ManualLoop loop;
    sim::World world;
    runtime::SerialExecutor manager("DisplayManager");
    runtime::Executor& executor = main ? runtime::mainExecutor() : manager;
    executor.enqueue(nullptr, call);
    loop.runUntilIdle();
}

}  // namespace

TEST_P(DisplayInfoDeathTest, AbortsOffTheMainExecutor) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is compiled into debug builds only";
#else
    os::LogStore::shared().setEchoToStderr(false);
    runOn(true, GetParam().call);
    EXPECT_DEATH(runOn(false, GetParam().call), "main-thread check failed: DisplayInfo");
#endif
}

INSTANTIATE_TEST_SUITE_P(DisplayInfo, DisplayInfoDeathTest,
                         ::testing::Values(MainOnlyQuery{"allDisplays", [] { DisplayInfo::allDisplays(); }},
                                           MainOnlyQuery{"menuBarDisplay", [] { DisplayInfo::menuBarDisplay(); }}),
                         [](const auto& info) { return std::string(info.param.name); });
