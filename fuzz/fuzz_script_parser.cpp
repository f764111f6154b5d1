// Feeds arbitrary bytes to the desktop's script parser. It must never crash and never throw
// anything but its own error, which names the file and the line; whatever it accepts must be a
// step the desktop can follow: numbers within their bounds, status items named by names that are
// not empty, a screenshot into a folder that is there, defaults lines only at the top.
#include "Script.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool onAnyScreen(const QPointF& point) {
    return std::abs(point.x()) <= desktop::maxScriptCoordinate && std::abs(point.y()) <= desktop::maxScriptCoordinate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    static const auto folder = std::filesystem::temp_directory_path();
    std::vector<desktop::Step> steps;
    try {
        steps = desktop::parseScript(text, "fuzz.txt", folder);
    } catch (const desktop::ScriptError& e) {
        const std::string_view message = e.message();
        check(message.starts_with("fuzz.txt:"));
        const auto digits = message.find_first_not_of("0123456789", 9);
        check(digits > 9 && digits != std::string_view::npos && message[digits] == ':');
        return 0;
    }
    using Kind = desktop::Step::Kind;
    int line = 0;
    bool pastDefaults = false;
    for (const auto& step : steps) {
        check(step.line > line);
        line = step.line;
        pastDefaults = pastDefaults || step.kind != Kind::defaults;
        switch (step.kind) {
            case Kind::wait: check(step.seconds >= 0 && step.seconds <= desktop::maxWaitSeconds); break;
            case Kind::click:
            case Kind::rightClick:
                // A status item is named by a name that says something.
                if (step.item)
                    check(!step.item->application.empty() && (!step.item->title || !step.item->title->empty()));
                else
                    check(onAnyScreen(step.at));
                break;
            case Kind::drag: check(onAnyScreen(step.at) && onAnyScreen(step.to)); break;
            case Kind::screenshot: {
                const std::filesystem::path file(step.file);
                check(file.extension() == ".png" && std::filesystem::is_directory(file.parent_path()));
                break;
            }
            case Kind::defaults: check(!pastDefaults); break;
            case Kind::key:
            case Kind::settings: break;
        }
    }
    return 0;
}
