#include "macos/sim/Scenario.hpp"

#include "JsonNode.hpp"
#include "macos/sim/InputFile.hpp"
#include "macos/sim/StatusItemDrawing.hpp"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <map>
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
    {"windowListUnavailable", &Faults::windowListUnavailable},
    {"windowImageFails", &Faults::windowImageFails},
    {"shareableContentFails", &Faults::shareableContentFails},
    {"screenshotFails", &Faults::screenshotFails},
    {"eventTapCreationFails", &Faults::eventTapCreationFails},
    {"runLoopSourceCreationFails", &Faults::runLoopSourceCreationFails},
    {"eventCreationFails", &Faults::eventCreationFails},
    {"eventSourceCreationFails", &Faults::eventSourceCreationFails},
    {"eventCopyFails", &Faults::eventCopyFails},
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

// A screen far larger than any display, or placed far from the others, could not be drawn nor
// captured: the program would fail at its first picture rather than here, where the field is named.
// (The limits of sides and corners are in the header: a desktop script's points share them.)
constexpr double maxBackingScale = 4;

std::optional<FieldProblem> sizeProblem(const ScreenSpec& spec) {
    const auto side = [](std::string field, double value) -> std::optional<FieldProblem> {
        if (value <= maxScreenSide) return std::nullopt;
        return FieldProblem{std::move(field), fmt::format("must be at most {} points", maxScreenSide)};
    };
    const auto offset = [](std::string field, double value) -> std::optional<FieldProblem> {
        if (std::abs(value) <= maxScreenOffset) return std::nullopt;
        return FieldProblem{std::move(field), fmt::format("must be between -{0} and {0}", maxScreenOffset)};
    };
    const std::pair<const char*, const std::optional<cg::Rect>> rects[] = {
        {"frame", spec.frame},
        {"visibleFrame", spec.visibleFrame},
        {"auxiliaryTopLeftArea", spec.auxiliaryTopLeftArea},
        {"auxiliaryTopRightArea", spec.auxiliaryTopRightArea}};
    for (const auto& [name, rect] : rects) {
        if (!rect) continue;
        const std::string field(name);
        if (auto p = side(field + ".width", rect->size.width)) return p;
        if (auto p = side(field + ".height", rect->size.height)) return p;
        if (auto p = offset(field + ".x", rect->origin.x)) return p;
        if (auto p = offset(field + ".y", rect->origin.y)) return p;
    }
    const std::pair<const char*, double> insets[] = {{"top", spec.safeAreaInsets.top},
                                                     {"left", spec.safeAreaInsets.left},
                                                     {"bottom", spec.safeAreaInsets.bottom},
                                                     {"right", spec.safeAreaInsets.right}};
    for (const auto& [edge, value] : insets)
        if (auto p = side(std::string("safeAreaInsets.") + edge, value)) return p;
    if (spec.backingScaleFactor > maxBackingScale)
        return FieldProblem{"backingScaleFactor", fmt::format("must be at most {}", maxBackingScale)};
    return std::nullopt;
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
    if (auto problem = sizeProblem(spec)) node.failAt(problem->field, problem->message);
    return spec;
}

runtime::Duration readMilliseconds(const JsonNode& node) {
    auto ms = node.number();
    if (!(ms >= 0) || ms > 86400000.0) node.fail("expected a number of milliseconds from 0 to 86400000");
    return std::chrono::duration_cast<runtime::Duration>(std::chrono::duration<double, std::milli>(ms));
}

std::uint32_t readColor(const JsonNode& node) {
    auto text = node.text();
    bool valid = text.size() == 9 && text[0] == '#';
    std::uint32_t rgba = 0;
    for (std::size_t i = 1; valid && i < text.size(); ++i) {
        char c = text[i];
        int digit = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
        if (digit < 0) valid = false;
        rgba = (rgba << 4) | static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
    }
    if (!valid) node.fail("expected a colour written as #RRGGBBAA");
    return rgba;
}

MenuEntrySpec readMenuEntry(const JsonNode& node, int depthLeft) {
    node.rejectUnknownFields({"title", "enabled", "mark", "separator", "submenu"});
    MenuEntrySpec entry;
    entry.title = optionalText(node, "title");
    entry.enabled = optionalBoolean(node, "enabled", true);
    entry.markChar = optionalText(node, "mark");
    entry.separator = optionalBoolean(node, "separator", false);
    if (auto submenu = node.optionalField("submenu")) {
        if (depthLeft <= 0) submenu->fail("menus nest too deeply");
        for (const auto& e : submenu->elements()) entry.submenu.push_back(readMenuEntry(e, depthLeft - 1));
    }
    return entry;
}

StatusItemBehaviour readItemBehaviour(const JsonNode& node) {
    node.rejectUnknownFields({"ignoresPress", "ignoresShowMenu", "move", "moveLatencyMs", "springBackMs",
                              "menuClosesAfterMs", "opens", "windowLayer", "showMenuError", "blocksWhileMenuOpen"});
    StatusItemBehaviour b;
    b.ignoresPress = optionalBoolean(node, "ignoresPress", false);
    b.ignoresShowMenu = optionalBoolean(node, "ignoresShowMenu", false);
    if (auto move = node.optionalField("move")) {
        auto text = move->text();
        using Move = StatusItemBehaviour::Move;
        if (text == "normal")
            b.move = Move::normal;
        else if (text == "ignoresUntilClick")
            b.move = Move::ignoresUntilClick;
        else if (text == "springsBack")
            b.move = Move::springsBack;
        else if (text == "never")
            b.move = Move::never;
        else
            move->fail("expected one of normal, ignoresUntilClick, springsBack, never");
    }
    if (auto f = node.optionalField("moveLatencyMs")) b.moveLatency = readMilliseconds(*f);
    if (auto f = node.optionalField("springBackMs")) b.springBackAfter = readMilliseconds(*f);
    if (auto f = node.optionalField("menuClosesAfterMs")) b.menuClosesAfter = readMilliseconds(*f);
    if (auto opens = node.optionalField("opens")) {
        auto text = opens->text();
        if (text == "menu")
            b.opens = StatusItemBehaviour::Opens::menu;
        else if (text == "window")
            b.opens = StatusItemBehaviour::Opens::window;
        else
            opens->fail("expected one of menu, window");
    }
    if (auto f = node.optionalField("windowLayer")) b.windowLayer = f->integer(-10000, 10000);
    // An error code of the accessibility interface: negative, never success.
    if (auto f = node.optionalField("showMenuError"))
        b.showMenuError = static_cast<std::int32_t>(f->integer(-30000, -1));
    b.blocksWhileMenuOpen = optionalBoolean(node, "blocksWhileMenuOpen", false);
    return b;
}

StatusItemSpec readStatusItem(const JsonNode& node) {
    node.rejectUnknownFields({"title", "width", "icon", "text", "showsTime", "symbol", "enabled", "subrole", "menu",
                              "behaviour", "positionUnreadable", "sizeUnreadable", "captureFails", "statusWindow"});
    StatusItemSpec item;
    item.title = optionalText(node, "title");
    if (auto width = node.optionalField("width")) {
        item.width = width->number();
        if (!(item.width > 0) || item.width > 1000) width->fail("expected a width above 0 and at most 1000");
    }
    if (auto icon = node.optionalField("icon")) item.iconColor = readColor(*icon);
    item.text = optionalText(node, "text");
    item.showsTime = optionalBoolean(node, "showsTime", false);
    if (auto symbol = node.optionalField("symbol")) {
        item.symbol = symbol->text();
        if (!isStatusItemSymbol(item.symbol)) {
            std::string known;
            for (auto name : statusItemSymbols()) known += (known.empty() ? "" : ", ") + std::string(name);
            symbol->fail("expected one of " + known);
        }
    }
    item.enabled = optionalBoolean(node, "enabled", true);
    // Absent keeps the usual subrole; null means the element has none.
    if (node.has("subrole")) item.subrole = optionalText(node, "subrole");
    if (auto menu = node.optionalField("menu")) {
        for (const auto& e : menu->elements()) item.menu.push_back(readMenuEntry(e, 8));
    }
    if (auto behaviour = node.optionalField("behaviour")) item.behaviour = readItemBehaviour(*behaviour);
    item.positionUnreadable = optionalBoolean(node, "positionUnreadable", false);
    item.sizeUnreadable = optionalBoolean(node, "sizeUnreadable", false);
    item.captureFails = optionalBoolean(node, "captureFails", false);
    item.statusWindow = optionalBoolean(node, "statusWindow", true);
    return item;
}

WindowSpec readWindow(const JsonNode& node) {
    node.rejectUnknownFields({"name", "bounds", "layer", "onScreen", "color"});
    WindowSpec w;
    w.name = optionalText(node, "name");
    w.bounds = node.field("bounds").rect();
    if (!(w.bounds.size.width >= 0) || !(w.bounds.size.height >= 0))
        node.failAt("bounds", "expected a size of 0 or more");
    if (auto layer = node.optionalField("layer")) w.layer = layer->integer(-10000, 10000);
    w.onScreen = optionalBoolean(node, "onScreen", true);
    if (auto color = node.optionalField("color")) w.color = readColor(*color);
    return w;
}

ApplicationBehaviour readApplicationBehaviour(const JsonNode& node) {
    node.rejectUnknownFields({"hung", "accessibilityCallCostMs", "attributeErrors", "allAttributesError"});
    ApplicationBehaviour b;
    b.hung = optionalBoolean(node, "hung", false);
    if (auto f = node.optionalField("accessibilityCallCostMs")) b.accessibilityCallCost = readMilliseconds(*f);
    if (auto errors = node.optionalField("attributeErrors")) {
        errors->expectObject();
        for (const auto& [name, code] : errors->members()) {
            b.attributeErrors[name] = static_cast<std::int32_t>(code.integer(-30000, 0));
        }
    }
    if (auto f = node.optionalField("allAttributesError"))
        b.allAttributesError = static_cast<std::int32_t>(f->integer(-30000, 0));
    return b;
}

ProcessSpec readApplication(const JsonNode& node) {
    node.rejectUnknownFields({"pid", "bundleIdentifier", "name", "finishedLaunching", "terminated", "hidden", "agent",
                              "statusItems", "windows", "behaviour"});
    ProcessSpec spec;
    spec.pid = static_cast<ProcessID>(node.field("pid").integer(1, std::numeric_limits<ProcessID>::max()));
    spec.bundleIdentifier = optionalText(node, "bundleIdentifier");
    spec.localizedName = optionalText(node, "name");
    spec.finishedLaunching = optionalBoolean(node, "finishedLaunching", true);
    spec.terminated = optionalBoolean(node, "terminated", false);
    spec.hidden = optionalBoolean(node, "hidden", false);
    spec.agent = optionalBoolean(node, "agent", false);
    if (auto items = node.optionalField("statusItems")) {
        for (const auto& e : items->elements()) spec.statusItems.push_back(readStatusItem(e));
    }
    if (auto windows = node.optionalField("windows")) {
        for (const auto& e : windows->elements()) spec.windows.push_back(readWindow(e));
    }
    if (auto behaviour = node.optionalField("behaviour")) spec.behaviour = readApplicationBehaviour(*behaviour);
    return spec;
}

MenuBarSpec readMenuBar(const JsonNode& node) {
    node.rejectUnknownFields({"leftLimit", "rightInset", "spacing"});
    MenuBarSpec spec;
    if (auto f = node.optionalField("leftLimit")) spec.leftLimit = f->number();
    if (auto f = node.optionalField("rightInset")) spec.rightInset = f->number();
    if (auto f = node.optionalField("spacing")) spec.spacing = f->number();
    for (const char* name : {"leftLimit", "rightInset", "spacing"}) {
        if (auto f = node.optionalField(name); f && !(std::abs(f->number()) <= 100000.0))
            f->fail("expected a number between -100000 and 100000");
    }
    return spec;
}

Permissions readPermissions(const JsonNode& node) {
    node.rejectUnknownFields({"accessibility", "screenRecording"});
    Permissions p;
    p.accessibility = optionalBoolean(node, "accessibility", true);
    p.screenRecording = optionalBoolean(node, "screenRecording", true);
    return p;
}

ScriptedAction readScriptedAction(const JsonNode& node, const std::map<ProcessID, const ProcessSpec*>& applications) {
    node.rejectUnknownFields({"action", "pid", "statusItem", "atMs", "atAccessibilityCall", "callsTo"});
    ScriptedAction a;
    auto action = node.field("action");
    auto text = action.text();
    if (text == "quit")
        a.kind = ScriptedAction::Kind::quit;
    else if (text == "hang")
        a.kind = ScriptedAction::Kind::hang;
    else if (text == "removeStatusItem")
        a.kind = ScriptedAction::Kind::removeStatusItem;
    else
        action.fail("expected one of quit, hang, removeStatusItem");
    auto application = [&](const char* key) {
        auto f = node.field(key);
        auto pid = static_cast<ProcessID>(f.integer(1, std::numeric_limits<ProcessID>::max()));
        if (!applications.contains(pid)) f.fail(fmt::format("no application with process id {}", pid));
        return pid;
    };
    a.pid = application("pid");
    if (auto f = node.optionalField("statusItem")) {
        if (a.kind != ScriptedAction::Kind::removeStatusItem) f->fail("only removeStatusItem names a status item");
        a.statusItem = static_cast<std::size_t>(f->integer(0, 1000));
        auto count = applications.at(a.pid)->statusItems.size();
        if (a.statusItem >= count) f->fail(fmt::format("no status item at index {} ({} items)", a.statusItem, count));
    } else if (a.kind == ScriptedAction::Kind::removeStatusItem) {
        node.failAt("statusItem", "missing field");
    }
    auto atMs = node.optionalField("atMs");
    auto atCall = node.optionalField("atAccessibilityCall");
    if (atMs.has_value() == atCall.has_value()) node.fail("expected exactly one of atMs, atAccessibilityCall");
    if (atMs) a.at = readMilliseconds(*atMs);
    a.callsTo = a.pid;
    if (atCall) {
        a.atAccessibilityCall = static_cast<std::uint64_t>(atCall->integer(1, 1000000000));
        if (node.optionalField("callsTo")) a.callsTo = application("callsTo");
    } else if (auto f = node.optionalField("callsTo")) {
        f->fail("only atAccessibilityCall counts calls");
    }
    return a;
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
    root.rejectUnknownFields({"version", "screens", "mainScreen", "applications", "faults", "menuBar", "permissions",
                              "statusWindowsOwnedByControlCenter", "script"});

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
    if (auto menuBar = root.optionalField("menuBar")) scenario.menuBar = readMenuBar(*menuBar);
    if (auto permissions = root.optionalField("permissions")) scenario.permissions = readPermissions(*permissions);
    scenario.statusWindowsOwnedByControlCenter = optionalBoolean(root, "statusWindowsOwnedByControlCenter", false);
    if (auto script = root.optionalField("script")) {
        std::map<ProcessID, const ProcessSpec*> applications;
        for (const auto& spec : scenario.applications) applications.emplace(*spec.pid, &spec);
        for (const auto& element : script->elements())
            scenario.script.push_back(readScriptedAction(element, applications));
    }
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
    std::string contents;
    try {
        contents = readInputFile(path, maxScenarioFileBytes);
    } catch (const InputFileError& e) {
        throw ScenarioError(path.string(), "", e.what());
    }
    return parseScenario(contents, path.string());
}

Scenario embeddedScenario(std::string_view fileName) {
    auto text = embeddedScenarioText(fileName);
    if (!text) throw ScenarioError(std::string(fileName), "", "no such embedded scenario");
    return parseScenario(*text, std::string(fileName));
}

Scenario defaultScenario() { return embeddedScenario("default.json"); }

}  // namespace sim
