#include "Script.hpp"

#include "DesktopView.hpp"

#include "Persistence/UserPreferences.hpp"
#include "macos/sim/InputFile.hpp"

#include <array>
#include <cmath>
#include <sstream>

namespace desktop {

namespace {

[[noreturn]] void fail(const std::string& file, int line, const std::string& field, const std::string& problem) {
    throw ScriptError(file + ":" + std::to_string(line) + ": " + field + ": " + problem);
}

// A word of the script as a message quotes it: a page of garbage is not repeated whole.
std::string inQuotes(const std::string& word) {
    constexpr std::size_t longest = 40;
    if (word.size() <= longest) return "'" + word + "'";
    std::size_t cut = longest;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) --cut;
    return "'" + word.substr(0, cut) + "...'";
}

// The user defaults a script may set, all of them switches.
constexpr std::array defaultsKeys = {stashbay::UserPreferences::Keys::hasCompletedOnboarding,
                                     stashbay::UserPreferences::Keys::globalHotkeyEnabled,
                                     stashbay::UserPreferences::Keys::launchAtLogin};

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) out.push_back(part);
    if (!s.empty() && s.back() == sep) out.emplace_back();
    return out;
}

double number(const std::string& word, const std::string& file, int line, const std::string& field) {
    try {
        std::size_t used = 0;
        double value = std::stod(word, &used);
        if (used == word.size() && std::isfinite(value)) return value;
    } catch (const std::exception&) {
    }
    fail(file, line, field, "expected a number, got " + inQuotes(word));
}

cg::EventFlags modifier(const std::string& word, const std::string& file, int line, const std::string& field) {
    if (word == "shift") return cg::eventFlagMaskShift;
    if (word == "ctrl" || word == "control") return cg::eventFlagMaskControl;
    if (word == "opt" || word == "option" || word == "alt") return cg::eventFlagMaskAlternate;
    if (word == "cmd" || word == "command") return cg::eventFlagMaskCommand;
    fail(file, line, field, "unknown modifier " + inQuotes(word));
}

cg::EventFlags modifiers(const std::string& word, const std::string& file, int line, const std::string& field) {
    cg::EventFlags flags = 0;
    for (const auto& part : split(word, '+')) flags |= modifier(part, file, line, field);
    return flags;
}

}  // namespace

std::vector<Step> parseScript(const std::string& text, const std::string& file, const std::filesystem::path& folder) {
    std::vector<Step> steps;
    std::istringstream lines(text);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(lines, raw)) {
        ++lineNumber;
        if (auto hash = raw.find('#'); hash != std::string::npos) raw.erase(hash);
        std::istringstream words(raw);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;
        Step step;
        step.line = lineNumber;
        const std::string& verb = w[0];
        auto arity = [&](std::size_t least, std::size_t most) {
            if (w.size() - 1 < least || w.size() - 1 > most)
                fail(file, lineNumber, verb,
                     "expected " + std::to_string(least) + (least == most ? "" : " to " + std::to_string(most)) +
                         " arguments, got " + std::to_string(w.size() - 1));
        };
        if (verb == "wait") {
            arity(1, 1);
            step.kind = Step::Kind::wait;
            step.seconds = number(w[1], file, lineNumber, "wait");
            if (step.seconds < 0 || step.seconds > 3600) fail(file, lineNumber, "wait", "expected 0 to 3600 seconds");
        } else if (verb == "click" || verb == "rightclick") {
            arity(2, 3);
            step.kind = verb == "click" ? Step::Kind::click : Step::Kind::rightClick;
            step.at = {number(w[1], file, lineNumber, verb), number(w[2], file, lineNumber, verb)};
            if (w.size() == 4) step.flags = modifiers(w[3], file, lineNumber, verb);
        } else if (verb == "drag") {
            arity(4, 5);
            step.kind = Step::Kind::drag;
            step.at = {number(w[1], file, lineNumber, "drag"), number(w[2], file, lineNumber, "drag")};
            step.to = {number(w[3], file, lineNumber, "drag"), number(w[4], file, lineNumber, "drag")};
            if (w.size() == 6) step.flags = modifiers(w[5], file, lineNumber, "drag");
        } else if (verb == "key") {
            arity(1, 1);
            step.kind = Step::Kind::key;
            auto parts = split(w[1], '+');
            auto code = virtualKeyCode(parts.back());
            if (!code) fail(file, lineNumber, "key", "unknown key " + inQuotes(parts.back()));
            step.keyCode = *code;
            for (std::size_t i = 0; i + 1 < parts.size(); ++i)
                step.flags |= modifier(parts[i], file, lineNumber, "key");
        } else if (verb == "screenshot") {
            arity(1, 1);
            step.kind = Step::Kind::screenshot;
            std::filesystem::path target(w[1]);
            if (target.extension() != ".png") fail(file, lineNumber, "screenshot", "expected a .png file name");
            step.file = (target.is_absolute() ? target : folder / target).string();
        } else if (verb == "settings") {
            arity(1, 1);
            step.kind = Step::Kind::settings;
            using Pane = SystemSettingsWindow::Pane;
            if (w[1] == "accessibility")
                step.pane = Pane::accessibility;
            else if (w[1] == "screen-recording")
                step.pane = Pane::screenRecording;
            else if (w[1] == "login-items")
                step.pane = Pane::loginItems;
            else
                fail(file, lineNumber, "settings",
                     "expected accessibility, screen-recording or login-items, got " + inQuotes(w[1]));
        } else if (verb == "defaults") {
            arity(2, 2);
            if (!steps.empty() && steps.back().kind != Step::Kind::defaults)
                fail(file, lineNumber, "defaults", "only before the first other step");
            step.kind = Step::Kind::defaults;
            step.file = w[1];
            if (std::find(defaultsKeys.begin(), defaultsKeys.end(), w[1]) == defaultsKeys.end()) {
                std::string known;
                for (const char* key : defaultsKeys) known += (known.empty() ? "" : ", ") + std::string(key);
                fail(file, lineNumber, "defaults", "unknown key " + inQuotes(w[1]) + "; known keys: " + known);
            }
            if (w[2] != "true" && w[2] != "false") fail(file, lineNumber, "defaults", "expected true or false");
            step.value = w[2] == "true";
        } else {
            fail(file, lineNumber, "step", "unknown step " + inQuotes(verb));
        }
        steps.push_back(step);
    }
    return steps;
}

std::vector<Step> loadScript(const std::filesystem::path& path) {
    std::string text;
    try {
        text = sim::readInputFile(path, maxScriptFileBytes);
    } catch (const sim::InputFileError& e) {
        throw ScriptError(path.string() + ": " + e.what());
    }
    return parseScript(text, path.filename().string(), path.parent_path());
}

}  // namespace desktop
