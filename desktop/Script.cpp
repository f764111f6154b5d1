#include "Script.hpp"

#include "DesktopView.hpp"

#include "Persistence/UserPreferences.hpp"
#include "macos/sim/InputFile.hpp"
#include "macos/sim/World.hpp"

#include <QBuffer>
#include <QByteArray>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

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

// One decimal form, the one people write: an optional '-', digits, and optionally a point and more
// digits. Exponents, hex, inf and nan are refused with the rest rather than read in some surprising
// way.
double number(const std::string& word, const std::string& file, int line, const std::string& field) {
    const auto digits = [&](std::size_t from) {
        std::size_t to = from;
        while (to < word.size() && word[to] >= '0' && word[to] <= '9') ++to;
        return to;
    };
    const std::size_t integerStart = word.starts_with('-') ? 1 : 0;
    const std::size_t integerEnd = digits(integerStart);
    std::size_t end = integerEnd;
    bool fractionDigits = true;
    if (end < word.size() && word[end] == '.') {
        end = digits(integerEnd + 1);
        fractionDigits = end > integerEnd + 1;
    }
    if (integerEnd == integerStart || !fractionDigits || end != word.size())
        fail(file, line, field, "expected a decimal number, as 12, 0.5 or -40, got " + inQuotes(word));
    double value = 0;
    if (std::from_chars(word.data(), word.data() + word.size(), value, std::chars_format::fixed).ec ==
        std::errc::result_out_of_range) {
        // Too many digits for a double: a whole part of zeros is a value too small to tell from 0,
        // any other beyond every bound.
        const bool zero =
            std::all_of(word.begin() + integerStart, word.begin() + integerEnd, [](char c) { return c == '0'; });
        value = zero ? 0.0 : std::numeric_limits<double>::infinity();
        if (integerStart == 1) value = -value;
    }
    return value;
}

double coordinate(const std::string& word, const std::string& file, int line, const std::string& field) {
    const double value = number(word, file, line, field);
    if (!(std::abs(value) <= maxScriptCoordinate))
        fail(file, line, field,
             fmt::format("expected a coordinate from -{0} to {0}, got {1}", maxScriptCoordinate, inQuotes(word)));
    return value;
}

std::optional<cg::EventFlags> knownModifier(const std::string& word) {
    if (word == "shift") return cg::eventFlagMaskShift;
    if (word == "ctrl" || word == "control") return cg::eventFlagMaskControl;
    if (word == "opt" || word == "option" || word == "alt") return cg::eventFlagMaskAlternate;
    if (word == "cmd" || word == "command") return cg::eventFlagMaskCommand;
    return std::nullopt;
}

cg::EventFlags modifier(const std::string& word, const std::string& file, int line, const std::string& field) {
    if (auto flag = knownModifier(word)) return *flag;
    fail(file, line, field, "unknown modifier " + inQuotes(word));
}

cg::EventFlags modifiers(const std::string& word, const std::string& file, int line, const std::string& field) {
    cg::EventFlags flags = 0;
    for (const auto& part : split(word, '+')) flags |= modifier(part, file, line, field);
    return flags;
}

bool readsAsModifiers(const std::string& word) {
    const auto parts = split(word, '+');
    return std::all_of(parts.begin(), parts.end(),
                       [](const std::string& part) { return knownModifier(part).has_value(); });
}

// A word of an item step: a name with spaces is written in double quotes, which then make no
// modifiers of it.
struct NameWord {
    std::string text;
    bool quoted = false;
};

std::vector<NameWord> nameWords(const std::string& rest, const std::string& file, int line, const std::string& field) {
    std::vector<NameWord> out;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    for (std::size_t i = 0; i < rest.size();) {
        if (space(rest[i])) {
            ++i;
            continue;
        }
        NameWord word;
        if (rest[i] == '"') {
            const auto close = rest.find('"', i + 1);
            if (close == std::string::npos) fail(file, line, field, "a name's closing '\"' is missing");
            word = {rest.substr(i + 1, close - i - 1), true};
            if (word.text.empty()) fail(file, line, field, "an empty name");
            i = close + 1;
            if (i < rest.size() && !space(rest[i])) fail(file, line, field, "expected a space after the closing '\"'");
        } else {
            std::size_t end = i;
            while (end < rest.size() && !space(rest[end])) ++end;
            word.text = rest.substr(i, end - i);
            if (word.text.find('"') != std::string::npos)
                fail(file, line, field, "expected a name, or one in double quotes, got " + inQuotes(word.text));
            i = end;
        }
        out.push_back(std::move(word));
    }
    return out;
}

// "item APP [TITLE] [MODIFIERS]" after click or rightclick; `rest` is what follows "item".
void parseItemClick(Step& step, const std::string& rest, const std::string& file, int line, const std::string& verb) {
    auto words = nameWords(rest, file, line, verb);
    if (words.empty() || words.size() > 3)
        fail(file, line, verb,
             "expected an application's name, then optionally an item's title and modifiers, got " +
                 std::to_string(words.size()) + " words after 'item'");
    const bool endsInModifiers =
        words.size() == 3 || (words.size() == 2 && !words[1].quoted && readsAsModifiers(words[1].text));
    if (endsInModifiers) {
        step.flags = modifiers(words.back().text, file, line, verb);
        words.pop_back();
    }
    step.item = ItemName{words[0].text, std::nullopt};
    if (words.size() == 2) step.item->title = words[1].text;
}

}  // namespace

std::vector<Step> parseScript(const std::string& text, const std::string& file, const std::filesystem::path& folder) {
    std::vector<Step> steps;
    std::istringstream lines(text);
    std::string raw;
    int lineNumber = 0;
    // As an editor may save it; scenarios are read past one too.
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(byteOrderMark)) lines.seekg(byteOrderMark.size());
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
            if (!(step.seconds >= 0 && step.seconds <= maxWaitSeconds))
                fail(file, lineNumber, "wait", fmt::format("expected 0 to {} seconds", maxWaitSeconds));
        } else if ((verb == "click" || verb == "rightclick") && w.size() > 1 && w[1] == "item") {
            step.kind = verb == "click" ? Step::Kind::click : Step::Kind::rightClick;
            // What follows "item", read again with its quotes.
            std::istringstream after(raw);
            std::string skipped;
            after >> skipped >> skipped;
            const auto at = after.tellg();
            const std::string rest = at < 0 ? std::string() : raw.substr(static_cast<std::size_t>(at));
            parseItemClick(step, rest, file, lineNumber, verb);
        } else if (verb == "click" || verb == "rightclick") {
            arity(2, 3);
            step.kind = verb == "click" ? Step::Kind::click : Step::Kind::rightClick;
            step.at = {coordinate(w[1], file, lineNumber, verb), coordinate(w[2], file, lineNumber, verb)};
            if (w.size() == 4) step.flags = modifiers(w[3], file, lineNumber, verb);
        } else if (verb == "drag") {
            arity(4, 5);
            step.kind = Step::Kind::drag;
            step.at = {coordinate(w[1], file, lineNumber, "drag"), coordinate(w[2], file, lineNumber, "drag")};
            step.to = {coordinate(w[3], file, lineNumber, "drag"), coordinate(w[4], file, lineNumber, "drag")};
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
            const auto path = target.is_absolute() ? target : folder / target;
            // Found now, not after the steps before it have run.
            std::error_code error;
            if (!std::filesystem::is_directory(path.parent_path().empty() ? "." : path.parent_path(), error))
                fail(file, lineNumber, "screenshot", "no such folder '" + path.parent_path().string() + "'");
            step.file = path.string();
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

Script loadScript(const std::filesystem::path& path) {
    std::string text;
    try {
        text = sim::readInputFile(path, maxScriptFileBytes);
    } catch (const sim::InputFileError& e) {
        throw ScriptError(path.string() + ": " + e.what());
    }
    Script script{path.filename().string(), {}};
    script.steps = parseScript(text, script.name, path.parent_path());
    return script;
}

QPointF itemCentre(const sim::World& world, const Step& step, const std::string& scriptName) {
    const auto& name = *step.item;
    const std::string field = step.kind == Step::Kind::rightClick ? "rightclick" : "click";
    const auto failed = [&](const std::string& why) { fail(scriptName, step.line, field, why); };
    std::vector<const sim::StatusItem*> items;
    bool running = false;
    for (const auto& process : world.processes().listed()) {
        if (process->isTerminated() || process->localizedName() != name.application) continue;
        running = true;
        for (const auto* item : world.statusItemsOf(process->pid())) items.push_back(item);
    }
    const std::string application = inQuotes(name.application);
    if (!running) failed("no running application is named " + application);
    if (items.empty()) failed(application + " has no status item");
    const sim::StatusItem* chosen = nullptr;
    if (name.title) {
        for (const auto* item : items)
            if (item->spec.title == name.title) {
                chosen = item;
                break;
            }
        if (!chosen) failed(application + " has no status item titled " + inQuotes(*name.title));
    } else if (items.size() == 1) {
        chosen = items.front();
    } else {
        std::string titles;
        for (const auto* item : items)
            if (item->spec.title) titles += (titles.empty() ? "" : ", ") + inQuotes(*item->spec.title);
        failed(application + " has " + std::to_string(items.size()) +
               " status items; name one by its title: " + titles);
    }
    const std::string which =
        name.title ? "the item " + inQuotes(*name.title) + " of " + application : "the item of " + application;
    if (!chosen->onBar) failed(which + " is off the bar");
    if (!chosen->shown) failed(which + " is under the camera housing");
    return {chosen->frame.midX(), chosen->frame.midY()};
}

void saveScreenshot(const QImage& picture, const Step& step, const std::string& scriptName) {
    const auto failed = [&](const std::string& reason) {
        fail(scriptName, step.line, "screenshot", "cannot write '" + step.file + "': " + reason);
    };
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // Encoded here and written below, so that the system's reason for a failed write is known.
    if (!picture.save(&buffer, "PNG")) failed("the picture cannot be encoded as PNG");
    const int fd = ::open(step.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) failed(std::generic_category().message(errno));
    int error = 0;
    for (qsizetype written = 0; written < png.size() && error == 0;) {
        const auto wrote = ::write(fd, png.constData() + written, static_cast<std::size_t>(png.size() - written));
        if (wrote > 0)
            written += wrote;
        else if (wrote == 0)
            error = ENOSPC;
        else if (errno != EINTR)
            error = errno;
    }
    // The close's own error is where a full disk may first show.
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        // No half-written picture is left behind.
        ::unlink(step.file.c_str());
        failed(std::generic_category().message(error));
    }
}

}  // namespace desktop
