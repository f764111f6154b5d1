// The simulated Mac on screen: boots the world from a scenario, launches Stashbay in it as a login
// would, and shows the desktop in a window, or follows a script headless on Qt's offscreen
// platform. This program stands in for the platform; the app itself has no options.
#include "DesktopView.hpp"
#include "HostPainting.hpp"
#include "ProcessFigures.hpp"
#include "Script.hpp"
#include "StashbayLaunch.hpp"

#include "Updates/LocalServer/LoopbackHttpsServer.hpp"
#include "Updates/ManifestFetch.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/HostRunLoop.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/Logger.hpp"
#include "macos/sim/InputFile.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Clock.hpp"
#include "stashbay/runtime/EventLoop.hpp"

#include <QApplication>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* program = "stashbay-desktop";

struct Options {
    bool headless = false;
    bool measure = false;
    std::optional<std::string> script;
    std::optional<std::string> scenario;
    std::optional<std::string> manifest;
    // None: the app's log stays off the terminal.
    std::optional<std::string> logLevel;
};

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: %s [--scenario FILE] [--headless --script FILE] [--manifest FILE] "
                 "[--log-level error|info|debug] [--measure]\n",
                 program);
}

// Text from a file or the command line as the terminal is shown it: control bytes and bytes that
// are not UTF-8 are written as \xNN, so that a stray escape sequence is never played, and a
// message longer than a few lines is cut in its middle.
std::string printable(std::string_view text) {
    std::string out;
    char escaped[8];
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80             ? 1
                             : (c & 0xE0) == 0xC0 ? 2
                             : (c & 0xF0) == 0xE0 ? 3
                             : (c & 0xF8) == 0xF0 ? 4
                                                  : 0;
        // Lead bytes that start no shortest, in-range sequence are refused with the rest.
        bool valid = length > 0 && c != 0xC0 && c != 0xC1 && c <= 0xF4 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        // C1 controls (U+0080 to U+009F) are controls too.
        if (valid && length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) valid = false;
        if (valid && length == 1 && (c < 0x20 || c == 0x7F)) valid = false;
        if (!valid) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    constexpr std::size_t longest = 400;
    if (out.size() > longest) {
        // Cut between characters, not inside one.
        const auto continues = [&](std::size_t at) { return (static_cast<unsigned char>(out[at]) & 0xC0) == 0x80; };
        std::size_t headEnd = longest / 2, tailStart = out.size() - longest / 2;
        while (continues(headEnd)) --headEnd;
        while (continues(tailStart)) ++tailStart;
        out = out.substr(0, headEnd) + " ... " + out.substr(tailStart);
    }
    return out;
}

void say(std::FILE* out, const std::string& message) {
    std::fprintf(out, "%s: %s\n", program, printable(message).c_str());
    std::fflush(out);
}

[[noreturn]] void badInput(const std::string& message) {
    say(stderr, message);
    std::exit(2);
}

// A command line that is not one: what is wrong, then how it is written.
[[noreturn]] void badUsage(const std::string& message) {
    say(stderr, message);
    usage(stderr);
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    // An option with a value is given once: of two files, the first would never be read.
    std::set<std::string> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) badUsage(a + ": expected a value");
            if (!given.insert(a).second) badUsage(a + ": given more than once");
            return args[++i];
        };
        auto file = [&]() -> std::string {
            auto path = value();
            if (path.empty()) badUsage(a + ": an empty path");
            return path;
        };
        if (a == "--headless") {
            o.headless = true;
        } else if (a == "--measure") {
            o.measure = true;
        } else if (a == "--script") {
            o.script = file();
        } else if (a == "--scenario") {
            o.scenario = file();
        } else if (a == "--manifest") {
            o.manifest = file();
        } else if (a == "--log-level") {
            o.logLevel = value();
            if (o.logLevel != "error" && o.logLevel != "info" && o.logLevel != "debug")
                badUsage("--log-level: expected error, info or debug, got '" + *o.logLevel + "'");
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            std::exit(0);
        } else {
            badUsage("unknown option '" + a + "'");
        }
    }
    // Headless, nothing would ever happen nor end.
    if (o.headless && !o.script) badUsage("--headless needs --script FILE");
    return o;
}

// The update manifest the person chose, served over HTTPS from 127.0.0.1 with a certificate made
// now, which the app's update checker is told to trust: every state of the settings page's
// Updates row can be seen without the internet.
struct ManifestServer {
    std::unique_ptr<testing_https::LoopbackHttpsServer> server;
    stashbay::UpdateCheckerConfiguration updates;
};

ManifestServer serveManifest(const std::string& file) {
    std::string body;
    try {
        // The update checker refuses a larger one anyway.
        body = sim::readInputFile(file, stashbay::maximumManifestSize);
    } catch (const sim::InputFileError& e) {
        badInput(file + ": " + e.what());
    }
    if (!testing_https::opensslCommandAvailable()) badInput("--manifest: the openssl command is needed");
    char folderTemplate[] = "/tmp/stashbay-manifest-XXXXXX";
    if (!::mkdtemp(folderTemplate)) badInput("--manifest: cannot make a temporary folder");
    const std::filesystem::path folder(folderTemplate);
    auto certificate = testing_https::makeTestCertificate(folder, "manifest-server");
    if (!certificate) badInput("--manifest: openssl could not make a certificate");
    ManifestServer served;
    served.server = std::make_unique<testing_https::LoopbackHttpsServer>(*certificate);
    // The server holds its certificate and key now.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    const std::string path = "/stashbay/version.json";
    served.server->route(path, {200, std::move(body), {{"Content-Type", "application/json"}}});
    served.updates.manifestURL = ns::URL::fromString(served.server->url(path));
    served.updates.trustAnchorPEM = certificate->certificatePEM;
    return served;
}

// A new folder of this user's alone (0700) in the system's temporary folder, named PREFIX-XXXXXX.
std::optional<std::filesystem::path> makeTemporaryFolder(const std::string& prefix) {
    std::error_code error;
    std::string folderTemplate = (std::filesystem::temp_directory_path(error) / (prefix + "-XXXXXX")).string();
    if (error || !::mkdtemp(folderTemplate.data())) return std::nullopt;
    return std::filesystem::path(folderTemplate);
}

// A scripted run, headless or in the window, tries things out: its script's defaults lines, and
// whatever the app saves, go to folders of its own, removed at the end, unless the person chose
// them (XDG_CONFIG_HOME and XDG_DATA_HOME). Returns the folder made, if any.
std::optional<std::filesystem::path> useFoldersOfItsOwn() {
    const auto chosen = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value && std::filesystem::path(value).is_absolute();
    };
    const bool config = chosen("XDG_CONFIG_HOME"), data = chosen("XDG_DATA_HOME");
    if (config && data) return std::nullopt;
    const auto made = makeTemporaryFolder("stashbay-headless");
    if (!made) badInput("--script: cannot make a temporary folder");
    const std::filesystem::path& folder = *made;
    if (!config) ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    if (!data) ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    return folder;
}

// Qt keeps its runtime files in XDG_RUNTIME_DIR; without one it warns on every start and falls
// back to a folder in /tmp that others may share. So without a usable one (a folder of this user's,
// 0700, as Qt asks) the program makes one of its own, removed at the end. Returns the folder made.
std::optional<std::filesystem::path> useRuntimeFolderOfItsOwn() {
    const char* value = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (value && std::filesystem::path(value).is_absolute() && ::stat(value, &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700)
        return std::nullopt;
    // Should none be made, Qt says so itself and goes on.
    auto folder = makeTemporaryFolder("stashbay-runtime");
    if (folder) ::setenv("XDG_RUNTIME_DIR", folder->c_str(), 1);
    return folder;
}

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return platform && *platform;
}

// Follows the script's steps one after the other, then ends the program. `stepBegins` hears each
// step's line as it begins.
class ScriptRunner {
public:
    ScriptRunner(desktop::Script script, desktop::DesktopView& view, ns::HostRunLoop& host,
                 std::function<void(int line)> stepBegins)
        : script_(std::move(script)), view_(view), host_(host), stepBegins_(std::move(stepBegins)) {}

    void start() {
        QTimer::singleShot(0, [this] { next(); });
    }

private:
    void next() {
        // Whatever the last step set going has run before the next one looks.
        host_.drain();
        if (index_ >= script_.steps.size()) {
            ns::Application::shared().terminate();
            return;
        }
        const auto& step = script_.steps[index_++];
        if (stepBegins_) stepBegins_(step.line);
        using K = desktop::Step::Kind;
        int pause = 0;
        try {
            switch (step.kind) {
                case K::wait: pause = static_cast<int>(step.seconds * 1000); break;
                case K::click:
                case K::rightClick: view_.click(pointOf(step), step.flags, step.kind == K::rightClick); break;
                case K::drag: view_.drag(step.at, step.to, step.flags); break;
                case K::key: view_.key(step.keyCode, step.flags); break;
                case K::settings: view_.showSystemSettings(step.pane); break;
                case K::defaults: break;  // written before the launch
                case K::screenshot:
                    desktop::saveScreenshot(view_.grab().toImage(), step, script_.name);
                    say(stdout, "wrote " + step.file);
                    break;
            }
        } catch (const desktop::ScriptError& e) {
            // The steps after it would act on a world that is not the one the script expects.
            say(stderr, e.message());
            failed_ = true;
            ns::Application::shared().terminate();
            return;
        }
        QTimer::singleShot(pause, [this] { next(); });
    }

    QPointF pointOf(const desktop::Step& step) const {
        return step.item ? desktop::itemCentre(sim::World::current(), step, script_.name) : step.at;
    }

public:
    bool failed() const { return failed_; }

private:
    desktop::Script script_;
    desktop::DesktopView& view_;
    ns::HostRunLoop& host_;
    std::function<void(int)> stepBegins_;
    std::size_t index_ = 0;
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);

    // Bad input is found before anything starts.
    sim::Scenario scenario;
    try {
        scenario = options.scenario ? sim::loadScenarioFile(*options.scenario) : sim::defaultScenario();
    } catch (const sim::ScenarioError& e) {
        badInput(e.what());
    }
    std::optional<desktop::Script> script;
    if (options.script) {
        try {
            script = desktop::loadScript(*options.script);
        } catch (const desktop::ScriptError& e) {
            badInput(e.message());
        }
    }

    ManifestServer manifest;
    if (options.manifest) manifest = serveManifest(*options.manifest);

    // Folders the program made for itself, removed at the end.
    std::vector<std::filesystem::path> ownFolders;
    if (options.headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!hasDisplay()) {
        std::fprintf(stderr, "%s: no display to open the desktop on; run it headless: %s --headless --script FILE\n",
                     program, program);
        return 1;
    }
    if (options.script)
        if (auto folder = useFoldersOfItsOwn()) ownFolders.push_back(std::move(*folder));

    desktop::configureLog(options.logLevel);
    if (auto folder = useRuntimeFolderOfItsOwn()) ownFolders.push_back(std::move(*folder));
    QApplication qtApp(argc, argv);
    // Qt's painter spreads large fills over its global pool, whose threads end after 30 s idle and
    // are made again at the next fill; they stay, asleep, for the process's life instead.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    {
        int status = 0;
        runtime::EventLoop loop(std::make_shared<runtime::SystemClock>());
        sim::World world(scenario);
        world.seedRandom(static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
        // As after a login: the app's preferences live in their file, and Finder is frontmost.
        ns::UserDefaults::resetStandard(ns::UserDefaults::defaultPersistFile());
        desktop::bringFinderToFront(world);

        // The system alert sound is heard.
        world.alertSounds().setListener([] { QApplication::beep(); });
        ns::HostRunLoop host(loop);
        desktop::DesktopView view;
        desktop::paintOnDemand(view, host);
        ns::Application::shared().setStopHandler([] { QCoreApplication::quit(); });

        if (script)
            for (const auto& step : script->steps)
                if (step.kind == desktop::Step::Kind::defaults) ns::UserDefaults::standard().set(step.value, step.file);
        auto stashbay = desktop::launchStashbay(manifest.updates);

        const auto started = std::chrono::steady_clock::now();
        if (options.measure) {
            view.setPanelShown([](std::chrono::nanoseconds sinceKey) {
                std::fprintf(stderr, "measure: panel first painted %.2f ms after the key-down\n",
                             std::chrono::duration<double, std::milli>(sinceKey).count());
            });
        }
        view.resize(view.sizeHint());
        view.show();

        std::unique_ptr<ScriptRunner> runner;
        if (script) {
            // Where the run is, with the whole process's figures, for measure.sh to follow.
            std::function<void(int)> stepBegins;
            if (options.measure)
                stepBegins = [&host, started](int line) {
                    const auto text = desktop::stepBeginsLine(line, std::chrono::steady_clock::now() - started,
                                                              desktop::ProcessFigures::now(), host.wakeCount());
                    std::fputs(text.c_str(), stderr);
                    std::fflush(stderr);
                };
            runner = std::make_unique<ScriptRunner>(std::move(*script), view, host, std::move(stepBegins));
            runner->start();
        }
        status = qtApp.exec();
        ns::Application::shared().terminate();
        if (runner && runner->failed()) status = 1;
        if (options.measure) {
            std::fprintf(stderr, "measure: ran %.1f s, loop woke %llu times\n",
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                         static_cast<unsigned long long>(host.wakeCount()));
        }
        for (const auto& folder : ownFolders) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
        // As a process ends after termination: the app's tasks and objects are not torn down one by
        // one, the process just goes.
        std::fflush(nullptr);
        std::_Exit(status);
    }
}
