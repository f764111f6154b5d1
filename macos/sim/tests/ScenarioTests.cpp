#include "macos/sim/Scenario.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

std::string errorOf(const std::string& text) {
    try {
        sim::parseScenario(text, "bad.json");
    } catch (const sim::ScenarioError& e) {
        return e.what();
    }
    return "(no error)";
}

constexpr const char* plainFrame = R"({"x": 0, "y": 0, "width": 800, "height": 600})";

// A valid scenario with one screen, whose fields a case can change.
std::string oneScreen(const std::string& frame, const std::string& displayNumber, const std::string& moreFields = "",
                      const std::string& moreSections = "") {
    return R"({"version": 1, "screens": [{"frame": )" + frame +
           R"(, "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": )" + displayNumber +
           moreFields + "}]" + moreSections + "}";
}

std::string withScreen(const std::string& moreFields) { return oneScreen(plainFrame, "7", moreFields); }

std::string withApplication(const std::string& application) {
    return R"({"version": 1, "applications": [)" + application + "]}";
}

// One application, pid 5, with one status item, and the given script.
std::string withScript(const std::string& action) {
    return R"({"version": 1, "applications": [{"pid": 5, "statusItems": [{"title": "x"}]}], "script": [)" + action +
           "]}";
}

}  // namespace

TEST(DefaultScenario, HasTheNotchedBuiltInDisplay) {
    auto scenario = sim::defaultScenario();
    EXPECT_EQ(scenario.name, "default.json");
    ASSERT_EQ(scenario.screens.size(), 1u);
    const auto& s = scenario.screens[0];
    EXPECT_EQ(s.frame, cg::Rect(0, 0, 1512, 982));
    EXPECT_EQ(s.visibleFrame, cg::Rect(0, 0, 1512, 945));
    EXPECT_EQ(s.safeAreaInsets, (sim::EdgeInsets{37, 0, 0, 0}));
    EXPECT_EQ(s.auxiliaryTopLeftArea, cg::Rect(0, 945, 662, 37));
    EXPECT_EQ(s.auxiliaryTopRightArea, cg::Rect(850, 945, 662, 37));
    EXPECT_EQ(s.displayNumber, 1u);
    EXPECT_EQ(s.effectiveDeviceDescription(), (cf::Value::Dictionary{{"NSScreenNumber", cf::Value(1)}}));
    EXPECT_TRUE(s.builtIn);
    EXPECT_EQ(s.backingScaleFactor, 2.0);
    EXPECT_EQ(scenario.mainScreen, 0u);
}

TEST(DefaultScenario, HasADozenApplicationsSomeWithoutIdentifierOrName) {
    auto scenario = sim::defaultScenario();
    EXPECT_GE(scenario.applications.size(), 12u);
    int withoutBundle = 0, withoutName = 0;
    bool stashbay = false, controlCenter = false;
    for (const auto& app : scenario.applications) {
        withoutBundle += !app.bundleIdentifier;
        withoutName += !app.localizedName;
        stashbay = stashbay || app.bundleIdentifier == "app.stashbay.Stashbay";
        controlCenter = controlCenter || app.bundleIdentifier == "com.apple.controlcenter";
    }
    EXPECT_GE(withoutBundle, 2);
    EXPECT_GE(withoutName, 2);
    EXPECT_TRUE(stashbay);
    EXPECT_TRUE(controlCenter);
}

TEST(DefaultScenario, EmbeddedTextIsTheFileInTheSourceTree) {
    std::ifstream in(std::filesystem::path(STASHBAY_SCENARIO_DIR) / "default.json");
    std::string onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(sim::embeddedScenarioText("default.json"));
    EXPECT_EQ(*sim::embeddedScenarioText("default.json"), onDisk);
    EXPECT_FALSE(sim::embeddedScenarioText("missing.json"));
    EXPECT_THROW(sim::embeddedScenario("missing.json"), sim::ScenarioError);
}

// The first-run world differs from the default one in its permissions only, so that what the
// onboarding shows is the world a person otherwise sees.
TEST(FirstRunScenario, IsTheDefaultWorldWithBothPermissionsOff) {
    auto firstRun = sim::embeddedScenario("first-run.json");
    EXPECT_FALSE(firstRun.permissions.accessibility);
    EXPECT_FALSE(firstRun.permissions.screenRecording);
    EXPECT_TRUE(sim::defaultScenario().permissions.accessibility);

    auto document = [](const char* name) { return nlohmann::json::parse(*sim::embeddedScenarioText(name)); };
    auto firstRunText = document("first-run.json"), defaultText = document("default.json");
    firstRunText.erase("permissions");
    defaultText.erase("permissions");
    EXPECT_EQ(firstRunText, defaultText);
}

TEST(ScenarioFile, LoadsFromDiskAndNamesTheFileInErrors) {
    auto dir = std::filesystem::temp_directory_path() / ("stashbay-scenario-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto good = dir / "two.json";
    std::ofstream(good) << withScreen("");
    EXPECT_EQ(sim::loadScenarioFile(good).screens.size(), 1u);

    auto bad = dir / "broken.json";
    std::ofstream(bad) << R"({"version": 1, "screens": [{"frame": 3}]})";
    try {
        sim::loadScenarioFile(bad);
        ADD_FAILURE() << "no error";
    } catch (const sim::ScenarioError& e) {
        EXPECT_EQ(e.file(), bad.string());
        EXPECT_EQ(e.path(), "screens[0].frame");
        EXPECT_EQ(e.problem(), "expected an object, found an integer");
        EXPECT_EQ(std::string(e.what()), bad.string() + ": screens[0].frame: expected an object, found an integer");
    }
    EXPECT_THAT([&] { sim::loadScenarioFile(dir / "absent.json"); },
                ::testing::ThrowsMessage<sim::ScenarioError>(HasSubstr("absent.json: cannot be read")));
    std::filesystem::remove_all(dir);
}

// What is not a scenario file at all is refused before it is read: a folder does not read as an
// empty file, a device neither as an endless one.
TEST(ScenarioFile, RefusesWhatIsNotARegularFileOfASensibleSize) {
    auto dir = std::filesystem::temp_directory_path() / ("stashbay-scenario-kinds-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto large = dir / "large.json";
    std::ofstream(large) << std::string(sim::maxScenarioFileBytes + 1, ' ');
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {dir, dir.string() + ": is a directory"},
        {"/dev/zero", "/dev/zero: is not a regular file"},
        {large, large.string() + ": is larger than 4 MiB"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT([&] { sim::loadScenarioFile(c.first); },
                    ::testing::ThrowsMessage<sim::ScenarioError>(::testing::StrEq(c.second)))
            << c.first;
    }
    std::filesystem::remove_all(dir);
}

TEST(ScenarioFields, OptionalScreenFieldsTakeTheirDefaults) {
    auto scenario = sim::parseScenario(
        R"({"version": 1, "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
            "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 600}, "displayNumber": null}]})",
        "t.json");
    const auto& s = scenario.screens.at(0);
    EXPECT_EQ(s.localizedName, "Display");
    EXPECT_EQ(s.safeAreaInsets, sim::EdgeInsets{});
    EXPECT_FALSE(s.auxiliaryTopLeftArea);
    EXPECT_FALSE(s.auxiliaryTopRightArea);
    EXPECT_FALSE(s.displayNumber);
    EXPECT_TRUE(s.effectiveDeviceDescription().empty());
    EXPECT_FALSE(s.builtIn);
    EXPECT_EQ(s.backingScaleFactor, 1.0);
    EXPECT_EQ(scenario.mainScreen, 0u);
    EXPECT_TRUE(scenario.applications.empty());
}

TEST(ScenarioFields, DeviceDescriptionReplacesTheScreenNumber) {
    auto scenario =
        sim::parseScenario(withScreen(R"(, "deviceDescription": {"NSScreenNumber": "seven", "NSDeviceIsScreen": true,
                         "sizes": [1, 2.5, 18446744073709551615]})"),
                           "t.json");
    const auto& s = scenario.screens.at(0);
    EXPECT_EQ(s.displayNumber, 7u);
    auto description = s.effectiveDeviceDescription();
    EXPECT_EQ(description.at("NSScreenNumber"), cf::Value("seven"));
    EXPECT_EQ(description.at("NSDeviceIsScreen"), cf::Value(true));
    EXPECT_EQ(description.at("sizes"),
              cf::Value::array({cf::Value(1), cf::Value(2.5), cf::Value(18446744073709551615.0)}));
}

TEST(ScenarioFields, MainScreenCanBeAnotherScreenOrNone) {
    auto two = [](const std::string& main) {
        return R"({"version": 1, "screens": [
            {"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
             "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 600}, "displayNumber": 1},
            {"frame": {"x": 800, "y": 0, "width": 800, "height": 600},
             "visibleFrame": {"x": 800, "y": 0, "width": 800, "height": 600}, "displayNumber": 2}],
            "mainScreen": )" +
               main + "}";
    };
    EXPECT_EQ(sim::parseScenario(two("1"), "t.json").mainScreen, 1u);
    EXPECT_EQ(sim::parseScenario(two("null"), "t.json").mainScreen, std::nullopt);
    EXPECT_EQ(sim::parseScenario(R"({"version": 1})", "t.json").mainScreen, std::nullopt);
}

TEST(ScenarioFields, ApplicationFlagsAndOptionalTexts) {
    auto scenario = sim::parseScenario(withApplication(R"({"pid": 10}, {"pid": 11, "bundleIdentifier": null, "name": "",
                            "finishedLaunching": false, "terminated": true, "hidden": true})"),
                                       "t.json");
    ASSERT_EQ(scenario.applications.size(), 2u);
    const auto& plain = scenario.applications[0];
    EXPECT_EQ(plain.pid, 10);
    EXPECT_FALSE(plain.bundleIdentifier);
    EXPECT_FALSE(plain.localizedName);
    EXPECT_TRUE(plain.finishedLaunching);
    EXPECT_FALSE(plain.terminated);
    EXPECT_FALSE(plain.hidden);
    const auto& flagged = scenario.applications[1];
    EXPECT_FALSE(flagged.bundleIdentifier);
    EXPECT_EQ(flagged.localizedName, "");
    EXPECT_FALSE(flagged.finishedLaunching);
    EXPECT_TRUE(flagged.terminated);
    EXPECT_TRUE(flagged.hidden);
}

TEST(ScenarioFields, FaultSwitchesAreRead) {
    auto scenario = sim::parseScenario(R"({"version": 1, "faults": {"bitmapContextImageFails": true}})", "t.json");
    EXPECT_TRUE(scenario.faults.bitmapContextImageFails);
    EXPECT_FALSE(scenario.faults.bitmapContextCreationFails);
}

TEST(ScenarioFields, ScriptedActionsAndTheStatusWindowOwnerAreRead) {
    auto scenario = sim::parseScenario(R"({"version": 1, "statusWindowsOwnedByControlCenter": true,
        "applications": [{"pid": 5, "statusItems": [{"title": "x"}, {"title": "y"}]}, {"pid": 6}],
        "script": [{"action": "removeStatusItem", "pid": 5, "statusItem": 1, "atMs": 250},
                   {"action": "hang", "pid": 5, "atAccessibilityCall": 3, "callsTo": 6},
                   {"action": "quit", "pid": 6, "atAccessibilityCall": 2}]})",
                                       "t.json");
    EXPECT_TRUE(scenario.statusWindowsOwnedByControlCenter);
    ASSERT_EQ(scenario.script.size(), 3u);
    using K = sim::ScriptedAction::Kind;
    EXPECT_EQ(scenario.script[0].kind, K::removeStatusItem);
    EXPECT_EQ(scenario.script[0].statusItem, 1u);
    EXPECT_EQ(scenario.script[0].at, std::chrono::milliseconds(250));
    EXPECT_EQ(scenario.script[1].kind, K::hang);
    EXPECT_EQ(scenario.script[1].atAccessibilityCall, 3u);
    EXPECT_EQ(scenario.script[1].callsTo, 6);
    EXPECT_EQ(scenario.script[2].callsTo, 6) << "its own calls by default";
    EXPECT_FALSE(sim::parseScenario(R"({"version": 1})", "t.json").statusWindowsOwnedByControlCenter);
}

struct BadScenario {
    const char* what;
    std::string text;
    std::string error;
};

void PrintTo(const BadScenario& c, std::ostream* os) { *os << c.what; }

class BadScenarios : public ::testing::TestWithParam<BadScenario> {};

TEST_P(BadScenarios, NameTheFileAndTheField) { EXPECT_EQ(errorOf(GetParam().text), GetParam().error); }

INSTANTIATE_TEST_SUITE_P(
    Errors, BadScenarios,
    ::testing::Values(
        BadScenario{"top level is a list", "[]", "bad.json: expected a JSON object at the top level"},
        BadScenario{"no version", "{}", "bad.json: version: missing field"},
        BadScenario{"newer version", R"({"version": 2})",
                    "bad.json: version: version 2 is newer than this build reads (1)"},
        BadScenario{"version zero", R"({"version": 0})", "bad.json: version: unsupported version 0"},
        BadScenario{"version as text", R"({"version": "1"})", "bad.json: version: expected an integer, found text"},
        BadScenario{"misspelt section", R"({"version": 1, "screen": []})", "bad.json: screen: unknown field"},
        BadScenario{"odd field name", "{\"version\": 1, \"a\\nb\": 1}", "bad.json: [\"a\\u000ab\"]: unknown field"},
        BadScenario{"screens not a list", R"({"version": 1, "screens": {}})",
                    "bad.json: screens: expected a list, found an object"},
        BadScenario{"missing frame",
                    R"({"version": 1, "screens": [{"visibleFrame": {"x": 0, "y": 0, "width": 1, "height": 1},
                        "displayNumber": 1}]})",
                    "bad.json: screens[0].frame: missing field"},
        BadScenario{"missing height", R"({"version": 1, "screens": [{"frame": {"x": 0, "y": 0, "width": 1}}]})",
                    "bad.json: screens[0].frame.height: missing field"},
        BadScenario{"width as text", oneScreen(R"({"x": 0, "y": 0, "width": "wide", "height": 600})", "7"),
                    "bad.json: screens[0].frame.width: expected a number, found text"},
        BadScenario{"missing display number",
                    R"({"version": 1, "screens": [{"frame": {"x": 0, "y": 0, "width": 1, "height": 1},
                        "visibleFrame": {"x": 0, "y": 0, "width": 1, "height": 1}}]})",
                    "bad.json: screens[0].displayNumber: missing field"},
        BadScenario{"negative visible width",
                    R"({"version": 1, "screens": [{"frame": {"x": 0, "y": 0, "width": 1, "height": 1},
                        "visibleFrame": {"x": 0, "y": 0, "width": -1, "height": 1}, "displayNumber": 1}]})",
                    "bad.json: screens[0].visibleFrame.width: must not be negative"},
        BadScenario{"zero frame height", oneScreen(R"({"x": 0, "y": 0, "width": 800, "height": 0})", "7"),
                    "bad.json: screens[0].frame.height: must be positive"},
        BadScenario{"negative safe area", withScreen(R"(, "safeAreaInsets": {"top": -3})"),
                    "bad.json: screens[0].safeAreaInsets.top: must not be negative"},
        BadScenario{"negative auxiliary area",
                    withScreen(R"(, "auxiliaryTopLeftArea": {"x": 0, "y": 0, "width": 5, "height": -1})"),
                    "bad.json: screens[0].auxiliaryTopLeftArea.height: must not be negative"},
        BadScenario{"zero backing scale", withScreen(R"(, "backingScaleFactor": 0)"),
                    "bad.json: screens[0].backingScaleFactor: must be a positive number"},
        BadScenario{"screen wider than any display", oneScreen(R"({"x": 0, "y": 0, "width": 1e8, "height": 600})", "7"),
                    "bad.json: screens[0].frame.width: must be at most 8192 points"},
        BadScenario{"screen of astronomic width", oneScreen(R"({"x": 0, "y": 0, "width": 1e300, "height": 600})", "7"),
                    "bad.json: screens[0].frame.width: must be at most 8192 points"},
        BadScenario{"screen too tall", oneScreen(R"({"x": 0, "y": 0, "width": 800, "height": 8193})", "7"),
                    "bad.json: screens[0].frame.height: must be at most 8192 points"},
        BadScenario{"visible frame too wide",
                    R"({"version": 1, "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                        "visibleFrame": {"x": 0, "y": 0, "width": 9000, "height": 1}, "displayNumber": 1}]})",
                    "bad.json: screens[0].visibleFrame.width: must be at most 8192 points"},
        BadScenario{"second screen far away",
                    R"({"version": 1, "screens": [
                        {"frame": {"x": 0, "y": 0, "width": 1, "height": 1},
                         "visibleFrame": {"x": 0, "y": 0, "width": 1, "height": 1}, "displayNumber": 3},
                        {"frame": {"x": 1e9, "y": 0, "width": 1, "height": 1},
                         "visibleFrame": {"x": 1, "y": 0, "width": 1, "height": 1}, "displayNumber": 4}]})",
                    "bad.json: screens[1].frame.x: must be between -100000 and 100000"},
        BadScenario{"huge safe area", withScreen(R"(, "safeAreaInsets": {"top": 1e12})"),
                    "bad.json: screens[0].safeAreaInsets.top: must be at most 8192 points"},
        BadScenario{"huge backing scale", withScreen(R"(, "backingScaleFactor": 1000)"),
                    "bad.json: screens[0].backingScaleFactor: must be at most 4"},
        BadScenario{"unknown screen field", withScreen(R"(, "notch": true)"),
                    "bad.json: screens[0].notch: unknown field"},
        BadScenario{"built-in as number", withScreen(R"(, "builtIn": 1)"),
                    "bad.json: screens[0].builtIn: expected true or false, found an integer"},
        BadScenario{"display number zero", oneScreen(plainFrame, "0"),
                    "bad.json: screens[0].displayNumber: must be an integer from 1 to 4294967295"},
        BadScenario{"display number too big", oneScreen(plainFrame, "4294967296"),
                    "bad.json: screens[0].displayNumber: must be an integer from 1 to 4294967295"},
        BadScenario{"display number fractional", oneScreen(plainFrame, "7.5"),
                    "bad.json: screens[0].displayNumber: expected an integer, found a number"},
        BadScenario{"null in device description", withScreen(R"(, "deviceDescription": {"NSScreenNumber": null})"),
                    "bad.json: screens[0].deviceDescription.NSScreenNumber: null is not a property-list value"},
        BadScenario{"deep device description",
                    withScreen(R"(, "deviceDescription": {"a": )" + std::string(40, '[') + std::string(40, ']') + "}"),
                    "bad.json: screens[0].deviceDescription.a" +
                        [] {
                            std::string path;
                            for (int i = 0; i < 31; ++i) path += "[0]";
                            return path;
                        }() +
                        ": nested too deeply"},
        BadScenario{"primary away from the origin", oneScreen(R"({"x": 5, "y": 0, "width": 800, "height": 600})", "7"),
                    "bad.json: screens[0].frame: the primary screen must sit at the origin (0, 0)"},
        BadScenario{"duplicate display number",
                    R"({"version": 1, "screens": [
                        {"frame": {"x": 0, "y": 0, "width": 1, "height": 1},
                         "visibleFrame": {"x": 0, "y": 0, "width": 1, "height": 1}, "displayNumber": 3},
                        {"frame": {"x": 1, "y": 0, "width": 1, "height": 1},
                         "visibleFrame": {"x": 1, "y": 0, "width": 1, "height": 1}, "displayNumber": 3}]})",
                    "bad.json: screens[1].displayNumber: display number 3 is also used by screens[0]"},
        BadScenario{"main screen out of range", oneScreen(plainFrame, "7", "", R"(, "mainScreen": 1)"),
                    "bad.json: mainScreen: no screen at index 1 (1 screens)"},
        BadScenario{"main screen negative", R"({"version": 1, "mainScreen": -1})",
                    "bad.json: mainScreen: must be an integer from 0 to 9223372036854775807"},
        BadScenario{"missing pid", withApplication(R"({"name": "x"})"), "bad.json: applications[0].pid: missing field"},
        BadScenario{"pid zero", withApplication(R"({"pid": 0})"),
                    "bad.json: applications[0].pid: must be an integer from 1 to 2147483647"},
        BadScenario{"pid as text", withApplication(R"({"pid": "501"})"),
                    "bad.json: applications[0].pid: expected an integer, found text"},
        BadScenario{"duplicate pid", withApplication(R"({"pid": 5}, {"pid": 6}, {"pid": 5})"),
                    "bad.json: applications[2].pid: process id 5 is also used by applications[0]"},
        BadScenario{"bundle identifier as number", withApplication(R"({"pid": 5, "bundleIdentifier": 12})"),
                    "bad.json: applications[0].bundleIdentifier: expected text, found an integer"},
        BadScenario{"flag as text", withApplication(R"({"pid": 5, "terminated": "yes"})"),
                    "bad.json: applications[0].terminated: expected true or false, found text"},
        BadScenario{"unknown fault", R"({"version": 1, "faults": {"diskFull": true}})",
                    "bad.json: faults.diskFull: unknown field"},
        BadScenario{"fault as number", R"({"version": 1, "faults": {"bitmapContextImageFails": 1}})",
                    "bad.json: faults.bitmapContextImageFails: expected true or false, found an integer"},
        BadScenario{"unknown scripted action", withScript(R"({"action": "crash", "pid": 5, "atMs": 1})"),
                    "bad.json: script[0].action: expected one of quit, hang, removeStatusItem"},
        BadScenario{"script for an unknown application", withScript(R"({"action": "quit", "pid": 6, "atMs": 1})"),
                    "bad.json: script[0].pid: no application with process id 6"},
        BadScenario{"script without a moment", withScript(R"({"action": "hang", "pid": 5})"),
                    "bad.json: script[0]: expected exactly one of atMs, atAccessibilityCall"},
        BadScenario{"script with two moments",
                    withScript(R"({"action": "hang", "pid": 5, "atMs": 1, "atAccessibilityCall": 2})"),
                    "bad.json: script[0]: expected exactly one of atMs, atAccessibilityCall"},
        BadScenario{"script at call zero", withScript(R"({"action": "quit", "pid": 5, "atAccessibilityCall": 0})"),
                    "bad.json: script[0].atAccessibilityCall: must be an integer from 1 to 1000000000"},
        BadScenario{"calls counted at a time", withScript(R"({"action": "quit", "pid": 5, "atMs": 1, "callsTo": 5})"),
                    "bad.json: script[0].callsTo: only atAccessibilityCall counts calls"},
        BadScenario{"removing an item that is not there",
                    withScript(R"({"action": "removeStatusItem", "pid": 5, "statusItem": 1, "atMs": 1})"),
                    "bad.json: script[0].statusItem: no status item at index 1 (1 items)"},
        BadScenario{"removing no item", withScript(R"({"action": "removeStatusItem", "pid": 5, "atMs": 1})"),
                    "bad.json: script[0].statusItem: missing field"}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(BadScenarioText, MalformedJsonNamesTheFileAndThePlace) {
    EXPECT_THAT(errorOf(R"({"version": 1,)"), StartsWith("bad.json: malformed JSON: parse error at line 1, column 15"));
    EXPECT_THAT(errorOf(""), StartsWith("bad.json: malformed JSON: "));
    EXPECT_THAT(errorOf(R"({"version": 1e999})"), StartsWith("bad.json: malformed JSON: number overflow"));
    EXPECT_THAT(errorOf("{\"version\": 1, \"screens\": [\"\xff\"]}"), StartsWith("bad.json: malformed JSON: "));
}
