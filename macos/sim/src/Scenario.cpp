#include "macos/sim/Scenario.hpp"

#include "JsonNode.hpp"

#include <fmt/format.h>

#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <utility>

namespace sim {

using detail::Json;
using detail::JsonNode;

namespace {

std::string describeError(const std::string& path, const std::string& problem) {
    return path.empty() ? problem : path + ": " + problem;
}

// The fault switches by their scenario names. A new switch needs one line here.
constexpr std::pair<const char*, bool Faults::*> faultSwitches[] = {
    {"bitmapContextCreationFails", &Faults::bitmapContextCreationFails},
    {"bitmapContextImageFails", &Faults::bitmapContextImageFails},
};

std::optional<std::string> optionalText(const JsonNode& object, std::string_view key) {
    if (auto field = object.optionalField(key)) return field->text();
    return std::nullopt;
}

bool optionalBoolean(const JsonNode& object, std::string_view key, bool fallback) {
    if (auto field = object.optionalField(key)) return field->boolean();
    return fallback;
}

EdgeInsets readInsets(const JsonNode& node) {
    node.rejectUnknownFields({"top", "left", "bottom", "right"});
    EdgeInsets insets;
    if (auto f = node.optionalField("top")) insets.top = f->number();
    if (auto f = node.optionalField("left")) insets.left = f->number();
    if (auto f = node.optionalField("bottom")) insets.bottom = f->number();
    if (auto f = node.optionalField("right")) insets.right = f->number();
    return insets;
}

ScreenSpec readScreen(const JsonNode& node) {
    node.rejectUnknownFields({"name", "frame", "visibleFrame", "safeAreaInsets", "auxiliaryTopLeftArea",
                              "auxiliaryTopRightArea", "displayNumber", "deviceDescription", "builtIn",
                              "backingScaleFactor"});
    ScreenSpec spec;
    if (auto name = optionalText(node, "name")) spec.localizedName = *name;
    spec.frame = node.field("frame").rect();
    spec.visibleFrame = node.field("visibleFrame").rect();
    if (auto insets = node.optionalField("safeAreaInsets")) spec.safeAreaInsets = readInsets(*insets);
    if (auto area = node.optionalField("auxiliaryTopLeftArea")) spec.auxiliaryTopLeftArea = area->rect();
    if (auto area = node.optionalField("auxiliaryTopRightArea")) spec.auxiliaryTopRightArea = area->rect();
    // Required, so that a screen without a display number is always a deliberate choice.
    auto number = node.field("displayNumber");
    if (!number.isNull()) {
        spec.displayNumber = static_cast<std::uint32_t>(number.integer(1, std::numeric_limits<std::uint32_t>::max()));
    }
    if (auto description = node.optionalField("deviceDescription")) {
        description->expectObject();
        spec.deviceDescription = *description->plistValue().asDictionary();
    }
    spec.builtIn = optionalBoolean(node, "builtIn", false);
    if (auto scale = node.optionalField("backingScaleFactor")) spec.backingScaleFactor = scale->number();
    if (auto problem = findProblem(spec)) node.failAt(problem->field, problem->message);
    return spec;
}

ProcessSpec readApplication(const JsonNode& node) {
    node.rejectUnknownFields({"pid", "bundleIdentifier", "name", "finishedLaunching", "terminated", "hidden"});
    ProcessSpec spec;
    spec.pid = static_cast<ProcessID>(node.field("pid").integer(1, std::numeric_limits<ProcessID>::max()));
    spec.bundleIdentifier = optionalText(node, "bundleIdentifier");
    spec.localizedName = optionalText(node, "name");
    spec.finishedLaunching = optionalBoolean(node, "finishedLaunching", true);
    spec.terminated = optionalBoolean(node, "terminated", false);
    spec.hidden = optionalBoolean(node, "hidden", false);
    return spec;
}

Faults readFaults(const JsonNode& node) {
    std::vector<std::string_view> known;
    for (const auto& entry : faultSwitches) known.push_back(entry.first);
    node.rejectUnknownFields(known);
    Faults faults;
    for (const auto& [name, member] : faultSwitches) {
        if (auto f = node.optionalField(name)) faults.*member = f->boolean();
    }
    return faults;
}

Scenario readScenario(const Json& document, const std::string& file) {
    JsonNode root(document, file, "");
    if (!document.is_object()) root.fail("expected a JSON object at the top level");
    root.rejectUnknownFields({"version", "screens", "mainScreen", "applications", "faults"});

    auto version = root.field("version");
    auto v = version.integer(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    if (v > Scenario::currentVersion) {
        version.fail(fmt::format("version {} is newer than this build reads ({})", v, Scenario::currentVersion));
    }
    if (v < 1) version.fail(fmt::format("unsupported version {}", v));

    Scenario scenario;
    scenario.name = file;

    if (auto screens = root.optionalField("screens")) {
        std::map<std::uint32_t, std::string> displayNumbers;
        for (const auto& element : screens->elements()) {
            auto spec = readScreen(element);
            if (spec.displayNumber) {
                auto [it, inserted] = displayNumbers.emplace(*spec.displayNumber, element.path());
                if (!inserted) {
                    element.failAt("displayNumber", fmt::format("display number {} is also used by {}",
                                                                *spec.displayNumber, it->second));
                }
            }
            if (scenario.screens.empty() && (spec.frame.origin.x != 0 || spec.frame.origin.y != 0)) {
                element.failAt("frame", "the primary screen must sit at the origin (0, 0)");
            }
            scenario.screens.push_back(std::move(spec));
        }
    }

    if (!scenario.screens.empty()) scenario.mainScreen = 0;
    auto it = document.find("mainScreen");
    if (it != document.end()) {
        auto main = root.field("mainScreen");
        if (main.isNull()) {
            scenario.mainScreen.reset();
        } else {
            auto index = main.integer(0, std::numeric_limits<std::int64_t>::max());
            if (static_cast<std::uint64_t>(index) >= scenario.screens.size()) {
                main.fail(fmt::format("no screen at index {} ({} screens)", index, scenario.screens.size()));
            }
            scenario.mainScreen = static_cast<std::size_t>(index);
        }
    }

    if (auto applications = root.optionalField("applications")) {
        std::map<ProcessID, std::string> pids;
        for (const auto& element : applications->elements()) {
            auto spec = readApplication(element);
            auto [at, inserted] = pids.emplace(*spec.pid, element.path());
            if (!inserted) {
                element.failAt("pid", fmt::format("process id {} is also used by {}", *spec.pid, at->second));
            }
            scenario.applications.push_back(std::move(spec));
        }
    }

    if (auto faults = root.optionalField("faults")) scenario.faults = readFaults(*faults);
    return scenario;
}

// nlohmann's messages start with "[json.exception.parse_error.101] "; the rest is the useful part.
std::string withoutExceptionTag(const char* what) {
    std::string_view text(what);
    if (!text.empty() && text.front() == '[') {
        auto end = text.find("] ");
        if (end != std::string_view::npos) text.remove_prefix(end + 2);
    }
    return std::string(text);
}

}  // namespace

ScenarioError::ScenarioError(std::string file, std::string path, std::string problem)
    : std::runtime_error(file + ": " + describeError(path, problem)),
      file_(std::move(file)),
      path_(std::move(path)),
      problem_(std::move(problem)) {}

Scenario parseScenario(std::string_view text, std::string fileName) {
    Json document;
    try {
        document = Json::parse(text.begin(), text.end());
    } catch (const Json::exception& e) {
        throw ScenarioError(fileName, "", "malformed JSON: " + withoutExceptionTag(e.what()));
    }
    return readScenario(document, fileName);
}

Scenario loadScenarioFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ScenarioError(path.string(), "", "cannot be read");
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) throw ScenarioError(path.string(), "", "cannot be read");
    return parseScenario(contents.str(), path.string());
}

Scenario embeddedScenario(std::string_view fileName) {
    auto text = embeddedScenarioText(fileName);
    if (!text) throw ScenarioError(std::string(fileName), "", "no such embedded scenario");
    return parseScenario(*text, std::string(fileName));
}

Scenario defaultScenario() { return embeddedScenario("default.json"); }

}  // namespace sim
