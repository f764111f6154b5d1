// The desktop program as a person runs it: bad input ends in one line naming the file and what is
// wrong, and a non-zero exit; a headless run keeps out of the person's own preferences and says
// which pictures it wrote.
#include "TemporaryFolder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::string_literals;

namespace {

struct Run {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Runs the program with the arguments, in a copy of this environment without the XDG folders and
// with `environment` added (an entry of an empty value removes one); fails the test if it has not
// ended within a minute.
Run runProgram(std::vector<std::string> argv, const std::map<std::string, std::string>& environment) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        const auto name = entry.substr(0, entry.find('='));
        if (name == "XDG_CONFIG_HOME" || name == "XDG_DATA_HOME" || name == "XDG_RUNTIME_DIR" || name == "HOME" ||
            environment.contains(name))
            continue;
        env.push_back(entry);
    }
    for (const auto& [name, value] : environment)
        if (!value.empty()) env.push_back(name + "=" + value);
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> p;
        for (auto& s : strings) p.push_back(s.data());
        p.push_back(nullptr);
        return p;
    };
    auto argvPointers = pointers(argv), envPointers = pointers(env);

    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::execve(argvPointers[0], argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    Run run;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (::poll(fds, 2, 1000) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const auto got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (open > 0) {
        ::kill(pid, SIGKILL);
        ADD_FAILURE() << "the program did not end within a minute";
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (auto& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    return run;
}

Run runDesktop(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment = {}) {
    std::vector<std::string> argv{STASHBAY_DESKTOP_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(std::move(argv), environment);
}

using desktop::testing::TemporaryFolder;

struct BadInput {
    const char* what;
    // Arguments; "@NAME" stands for the file NAME of the case's folder.
    std::vector<std::string> arguments;
    std::map<std::string, std::string> files;
    // The first line of the error output; "@" stands for the case's folder.
    std::string message;
    // The usage line follows the message on the command line's own mistakes.
    bool usage = false;
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.what; }

const std::string scenarioStart = R"({"version": 1, "screens": [{"frame": {"x": 0, "y": 0, "width": )";
const std::string scenarioEnd =
    R"(, "height": 982}, "visibleFrame": {"x": 0, "y": 0, "width": 1512, "height": 945}, "displayNumber": 1}]})";

class BadInputs : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, EndInOneLineNamingTheFileAndANonZeroExit) {
    const auto& c = GetParam();
    TemporaryFolder folder;
    for (const auto& [name, text] : c.files) {
        if (name == "fifo") {
            ASSERT_EQ(::mkfifo((folder.path() / name).c_str(), 0600), 0);
        } else if (name.ends_with("/")) {
            fs::create_directory(folder.path() / name);
        } else {
            folder.write(name, text);
        }
    }
    auto substitute = [&](std::string text) {
        for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1)) {
            const auto replacement = (folder.path() / "").string();
            text.replace(at, 1, replacement);
            at += replacement.size() - 1;
        }
        return text;
    };
    std::vector<std::string> arguments;
    for (const auto& a : c.arguments) arguments.push_back(substitute(a));

    const auto run = runDesktop(arguments, {{"HOME", folder.path().string()}});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    const auto lines = linesOf(run.err);
    ASSERT_EQ(lines.size(), c.usage ? 2u : 1u) << run.err;
    EXPECT_EQ(lines[0], "stashbay-desktop: " + substitute(c.message));
    if (c.usage) {
        EXPECT_THAT(lines[1], StartsWith("usage: stashbay-desktop "));
    }
    for (char ch : run.err) {
        const auto byte = static_cast<unsigned char>(ch);
        EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte != 0x7F)) << "a raw control byte " << int(byte);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, BadInputs,
    ::testing::Values(
        BadInput{"headless without a script", {"--headless"}, {}, "--headless needs --script FILE", true},
        BadInput{"unknown option", {"--scenery", "x"}, {}, "unknown option '--scenery'", true},
        BadInput{"option without its value", {"--script"}, {}, "--script: expected a value", true},
        BadInput{
            "script that is a device", {"--headless", "--script", "/dev/zero"}, {}, "/dev/zero: is not a regular file"},
        BadInput{"script that is a fifo",
                 {"--headless", "--script", "@fifo"},
                 {{"fifo", ""}},
                 "@fifo: is not a regular file"},
        BadInput{"script that is a folder", {"--headless", "--script", "@d/"}, {{"d/", ""}}, "@d/: is a directory"},
        BadInput{"script that is not there",
                 {"--headless", "--script", "@none.txt"},
                 {},
                 "@none.txt: cannot be read: No such file or directory"},
        BadInput{"script too large",
                 {"--headless", "--script", "@big.txt"},
                 {{"big.txt", std::string(1024 * 1024 + 1, '#')}},
                 "@big.txt: is larger than 1 MiB"},
        BadInput{"script of random bytes",
                 {"--headless", "--script", "@noise.txt"},
                 {{"noise.txt", "\x1b]0;owned\x07\x1b[2J\x9b\xc2\x85zz\x01"}},
                 "noise.txt:1: step: unknown step '\\x1B]0;owned\\x07\\x1B[2J\\x9B\\xC2\\x85zz\\x01'"},
        BadInput{"script of one endless word",
                 {"--headless", "--script", "@long.txt"},
                 {{"long.txt", std::string(5000, 'w')}},
                 "long.txt:1: step: unknown step '" + std::string(40, 'w') + "...'"},
        BadInput{"misspelt defaults key",
                 {"--headless", "--script", "@typo.txt"},
                 {{"typo.txt", "defaults hasCompletedOnbording true\n"}},
                 "typo.txt:1: defaults: unknown key 'hasCompletedOnbording'; known keys: hasCompletedOnboarding, "
                 "globalHotkeyEnabled, launchAtLogin"},
        BadInput{"scenario that is a folder",
                 {"--headless", "--script", "@s.txt", "--scenario", "@d/"},
                 {{"d/", ""}, {"s.txt", "wait 0\n"}},
                 "@d/: is a directory"},
        BadInput{"scenario screen 1e8 points wide",
                 {"--headless", "--script", "@s.txt", "--scenario", "@wide.json"},
                 {{"s.txt", "wait 0\n"}, {"wide.json", scenarioStart + "1e8" + scenarioEnd}},
                 "@wide.json: screens[0].frame.width: must be at most 8192 points"},
        BadInput{"scenario screen 1e300 points wide",
                 {"--headless", "--script", "@s.txt", "--scenario", "@wide.json"},
                 {{"s.txt", "wait 0\n"}, {"wide.json", scenarioStart + "1e300" + scenarioEnd}},
                 "@wide.json: screens[0].frame.width: must be at most 8192 points"},
        BadInput{"manifest that is a folder",
                 {"--headless", "--script", "@s.txt", "--manifest", "@d/"},
                 {{"d/", ""}, {"s.txt", "wait 0\n"}},
                 "@d/: is a directory"},
        BadInput{"manifest above the update checker's limit",
                 {"--headless", "--script", "@s.txt", "--manifest", "@m.json"},
                 {{"s.txt", "wait 0\n"}, {"m.json", std::string(64 * 1024 + 1, ' ')}},
                 "@m.json: is larger than 64 KiB"},
        // The line's first word is the step, not the byte-order mark before it.
        BadInput{"script after a byte-order mark",
                 {"--headless", "--script", "@bom.txt"},
                 {{"bom.txt", "\xEF\xBB\xBFwait 0x2\n"}},
                 "bom.txt:1: wait: expected a decimal number, as 12, 0.5 or -40, got '0x2'"},
        BadInput{"script with a NUL byte",
                 {"--headless", "--script", "@nul.txt"},
                 {{"nul.txt", "wa\0it 1\n"s}},
                 "nul.txt:1: step: unknown step 'wa\\x00it'"},
        // Of two files for one option, the first would never be read.
        BadInput{"scenario given twice",
                 {"--headless", "--script", "@s.txt", "--scenario", "@empty.json", "--scenario", "@good.json"},
                 {{"s.txt", "wait 0\n"}, {"empty.json", ""}, {"good.json", "{}"}},
                 "--scenario: given more than once",
                 true},
        BadInput{"script given twice",
                 {"--headless", "--script", "@bad.txt", "--script", "@s.txt"},
                 {{"s.txt", "wait 0\n"}, {"bad.txt", "fly\n"}},
                 "--script: given more than once",
                 true},
        BadInput{"manifest given twice",
                 {"--headless", "--script", "@s.txt", "--manifest", "@m.json", "--manifest", "@m.json"},
                 {{"s.txt", "wait 0\n"}, {"m.json", "{}"}},
                 "--manifest: given more than once",
                 true},
        BadInput{"log level given twice",
                 {"--log-level", "info", "--headless", "--script", "@s.txt", "--log-level", "debug"},
                 {{"s.txt", "wait 0\n"}},
                 "--log-level: given more than once",
                 true},
        BadInput{"script of an empty path", {"--headless", "--script", ""}, {}, "--script: an empty path", true},
        BadInput{"scenario of an empty path",
                 {"--headless", "--script", "@s.txt", "--scenario", ""},
                 {{"s.txt", "wait 0\n"}},
                 "--scenario: an empty path",
                 true},
        BadInput{"screenshot into a folder that is not there, before any step runs",
                 {"--headless", "--script", "@s.txt"},
                 {{"s.txt", "screenshot first.png\nwait 1\nscreenshot none/second.png\n"}},
                 "s.txt:3: screenshot: no such folder '@none'"}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// A script's numbers: one decimal form, and coordinates no farther out than any screen can be.
struct BadNumber {
    std::string line;
    // After "n.txt:1: ".
    std::string message;
};

void PrintTo(const BadNumber& c, std::ostream* os) { *os << c.line; }

class BadNumbers : public ::testing::TestWithParam<BadNumber> {};

TEST_P(BadNumbers, EndInOneLineNamingTheScriptAndTheWord) {
    TemporaryFolder folder;
    const auto script = folder.write("n.txt", GetParam().line + "\n");
    const auto run = runDesktop({"--headless", "--script", script.string()}, {{"HOME", folder.path().string()}});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "stashbay-desktop: n.txt:1: " + GetParam().message + "\n");
}

const std::string notDecimal = "expected a decimal number, as 12, 0.5 or -40, got ";
const std::string offScreens = "expected a coordinate from -108192 to 108192, got ";

INSTANTIATE_TEST_SUITE_P(Script, BadNumbers,
                         ::testing::Values(BadNumber{"click 1e300 1e300", "click: " + notDecimal + "'1e300'"},
                                           BadNumber{"drag 1e308 1 -1e308 1 cmd", "drag: " + notDecimal + "'1e308'"},
                                           BadNumber{"wait 0x2", "wait: " + notDecimal + "'0x2'"},
                                           BadNumber{"wait 1e-320", "wait: " + notDecimal + "'1e-320'"},
                                           BadNumber{"wait inf", "wait: " + notDecimal + "'inf'"},
                                           BadNumber{"click 5 nan", "click: " + notDecimal + "'nan'"},
                                           BadNumber{"rightclick +5 5", "rightclick: " + notDecimal + "'+5'"},
                                           BadNumber{"wait .5", "wait: " + notDecimal + "'.5'"},
                                           BadNumber{"wait 5.", "wait: " + notDecimal + "'5.'"},
                                           BadNumber{"wait -", "wait: " + notDecimal + "'-'"},
                                           BadNumber{"wait 3600.001", "wait: expected 0 to 3600 seconds"},
                                           BadNumber{"wait -0.5", "wait: expected 0 to 3600 seconds"},
                                           BadNumber{"click 108192.5 1", "click: " + offScreens + "'108192.5'"},
                                           BadNumber{"click 1 -108193", "click: " + offScreens + "'-108193'"},
                                           BadNumber{"drag 0 0 200000 0", "drag: " + offScreens + "'200000'"},
                                           BadNumber{"click 1" + std::string(400, '0') + " 1",
                                                     "click: " + offScreens + "'1" + std::string(39, '0') + "...'"}),
                         [](const auto& info) { return "line_" + std::to_string(info.index); });

const std::string shortScript = "defaults hasCompletedOnboarding true\nscreenshot first.png\nscreenshot second.png\n";

TEST(HeadlessRun, SaysWhichPicturesItWroteAndKeepsOutOfThePersonsPreferences) {
    TemporaryFolder home;
    const auto script = home.write("short.txt", shortScript);
    const auto run = runDesktop({"--headless", "--script", script.string()}, {{"HOME", home.path().string()}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "stashbay-desktop: wrote " + (home.path() / "first.png").string() + "\n" +
                           "stashbay-desktop: wrote " + (home.path() / "second.png").string() + "\n");
    EXPECT_TRUE(fs::exists(home.path() / "first.png"));
    EXPECT_TRUE(fs::exists(home.path() / "second.png"));
    // Neither the defaults line nor anything the app saves lands in the person's folders.
    EXPECT_FALSE(fs::exists(home.path() / ".config"));
    EXPECT_FALSE(fs::exists(home.path() / ".local"));
}

// In the window too (here Qt's offscreen platform stands in for a display, without --headless),
// a script's defaults lines try things out and go to folders of the run's own.
TEST(ScriptInTheWindow, KeepsOutOfThePersonsPreferences) {
    TemporaryFolder home;
    const auto script = home.write("short.txt", shortScript);
    const auto run =
        runDesktop({"--script", script.string()}, {{"HOME", home.path().string()}, {"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(home.path() / "second.png"));
    EXPECT_FALSE(fs::exists(home.path() / ".config"));
    EXPECT_FALSE(fs::exists(home.path() / ".local"));
}

TEST(HeadlessRun, WritesIntoTheFoldersThePersonChose) {
    TemporaryFolder home;
    const auto script = home.write("short.txt", shortScript);
    const auto config = home.path() / "chosen-config";
    const auto run = runDesktop({"--headless", "--script", script.string()},
                                {{"HOME", home.path().string()},
                                 {"XDG_CONFIG_HOME", config.string()},
                                 {"XDG_DATA_HOME", (home.path() / "chosen-data").string()}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::ifstream defaults(config / "app.stashbay.Stashbay" / "defaults.json");
    std::string text((std::istreambuf_iterator<char>(defaults)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, HasSubstr("hasCompletedOnboarding"));
}

// What the script's form allows at its edges is followed: a byte-order mark, coordinates as far out
// as a screen can be, a wait too short to tell from none, written out in digits.
TEST(HeadlessRun, FollowsAScriptAtTheEdgesOfItsForm) {
    TemporaryFolder home;
    const auto script = home.write("edges.txt",
                                   "\xEF\xBB\xBF"
                                   "defaults hasCompletedOnboarding true\n"
                                   "click -108192 108192\ndrag 108192 -0.5 12.25 -108192 cmd\n"
                                   "wait 0." +
                                       std::string(400, '0') + "1\nwait 0\nscreenshot edge.png\n");
    const auto run = runDesktop({"--headless", "--script", script.string()}, {{"HOME", home.path().string()}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "stashbay-desktop: wrote " + (home.path() / "edge.png").string() + "\n");
}

// A screenshot that cannot be written, as on a full disk, ends the run at its step with the
// script, the line and the system's reason, and leaves no partial file.
TEST(HeadlessRun, AScreenshotThatCannotBeWrittenEndsTheRunSayingWhy) {
    TemporaryFolder home;
    fs::create_symlink("/dev/full", home.path() / "full.png");
    const auto script = home.write("shots.txt", "screenshot first.png\nscreenshot full.png\nscreenshot never.png\n");
    const auto run = runDesktop({"--headless", "--script", script.string()}, {{"HOME", home.path().string()}});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "stashbay-desktop: wrote " + (home.path() / "first.png").string() + "\n");
    // Qt may have its own say about the environment first.
    const auto lines = linesOf(run.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "stashbay-desktop: shots.txt:2: screenshot: cannot write '" +
                                (home.path() / "full.png").string() + "': No space left on device");
    EXPECT_FALSE(fs::exists(fs::symlink_status(home.path() / "full.png")));
    EXPECT_FALSE(fs::exists(home.path() / "never.png"));
}

// The panel's "Quit Stashbay" ends the program there and then, not when the script's steps run out.
// Points are on the default world: Stashbay's item, then the panel's last control.
TEST(HeadlessRun, QuitStashbayEndsTheProgramAtOnce) {
    TemporaryFolder home;
    const auto script = home.write("quit.txt",
                                   "defaults hasCompletedOnboarding true\nwait 1.5\nclick 1228 18\nwait 1\n"
                                   "screenshot panel.png\nclick 1220 58\nwait 600\nscreenshot never.png\n");
    const auto started = std::chrono::steady_clock::now();
    const auto run = runDesktop({"--headless", "--script", script.string()}, {{"HOME", home.path().string()}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(home.path() / "panel.png"));
    EXPECT_FALSE(fs::exists(home.path() / "never.png"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

// A click on a status item named by its application is found on the bar as the step runs. A step
// written wrongly ends the run before it starts (exit 2); an item that cannot be clicked ends it at
// its step (exit 1), and the steps after it do not run. Each in one line naming the script, the
// line and why.
struct BadItemStep {
    const char* what;
    std::string script;
    int exitCode;
    // After "stashbay-desktop: ".
    std::string message;
    // A scenario for the run, when the default world does not show the case.
    std::string scenario = "";
};

void PrintTo(const BadItemStep& c, std::ostream* os) { *os << c.what; }

class BadItemSteps : public ::testing::TestWithParam<BadItemStep> {};

TEST_P(BadItemSteps, EndTheRunInOneLineSayingWhy) {
    const auto& c = GetParam();
    TemporaryFolder folder;
    const auto script = folder.write("items.txt", c.script + "\nscreenshot never.png\n");
    std::vector<std::string> arguments{"--headless", "--script", script.string()};
    if (!c.scenario.empty()) {
        arguments.push_back("--scenario");
        arguments.push_back(folder.write("world.json", c.scenario).string());
    }
    const auto run = runDesktop(arguments, {{"HOME", folder.path().string()}});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "stashbay-desktop: " + c.message + "\n");
    EXPECT_FALSE(fs::exists(folder.path() / "never.png"));
}

// Tally's item first, Stashbay's right of it at the bar's end; the bar ends at x 1440.
const std::string twoItemWorld =
    R"({"version": 1, "screens": [{"frame": {"x": 0, "y": 0, "width": 1512, "height": 982},
    "visibleFrame": {"x": 0, "y": 0, "width": 1512, "height": 945}, "displayNumber": 1}],
    "menuBar": {"leftLimit": 1440},
    "applications": [
      {"pid": 500, "bundleIdentifier": "app.stashbay.Stashbay", "agent": true, "name": "Stashbay",
       "statusItems": [{"title": "Stashbay", "width": 28}]},
      {"pid": 600, "bundleIdentifier": "org.threadbare.Tally", "agent": true, "name": "Tally",
       "statusItems": [{"title": "Tally", "width": 30}, {"title": "Tally Two", "width": 30}]}],
    "permissions": {"accessibility": true, "screenRecording": true}})";

INSTANTIATE_TEST_SUITE_P(
    Script, BadItemSteps,
    ::testing::Values(
        BadItemStep{"no name", "click item", 2,
                    "items.txt:1: click: expected an application's name, then optionally an item's title and "
                    "modifiers, got 0 words after 'item'"},
        BadItemStep{"four words", "rightclick item Tally Tally cmd shift", 2,
                    "items.txt:1: rightclick: expected an application's name, then optionally an item's title and "
                    "modifiers, got 4 words after 'item'"},
        BadItemStep{"unknown modifier after a title", "click item Tally Tally hyper", 2,
                    "items.txt:1: click: unknown modifier 'hyper'"},
        BadItemStep{"unclosed quote", "click item \"Control Center", 2,
                    "items.txt:1: click: a name's closing '\"' is missing"},
        BadItemStep{"empty quotes", "click item \"\"", 2, "items.txt:1: click: an empty name"},
        BadItemStep{"quote inside a word", "click item Control\"Center\"", 2,
                    "items.txt:1: click: expected a name, or one in double quotes, got 'Control\"Center\"'"},
        BadItemStep{"word glued to a closing quote", "click item \"Control Center\"Clock", 2,
                    "items.txt:1: click: expected a space after the closing '\"'"},
        BadItemStep{"application that quit", "wait 0\nclick item Vanish", 1,
                    "items.txt:2: click: no running application is named 'Vanish'"},
        BadItemStep{"application without an item", "rightclick item Dawdle", 1,
                    "items.txt:1: rightclick: 'Dawdle' has no status item"},
        BadItemStep{"title that is not there", "click item \"Control Center\" Bluetooth", 1,
                    "items.txt:1: click: 'Control Center' has no status item titled 'Bluetooth'"},
        BadItemStep{"several items without a title", "click item \"Control Center\"", 1,
                    "items.txt:1: click: 'Control Center' has 4 status items; name one by its title: 'Clock', "
                    "'Control Center', 'Wi-Fi', 'Battery'"},
        BadItemStep{"item under the camera housing", "click item Stopwatch", 1,
                    "items.txt:1: click: the item of 'Stopwatch' is under the camera housing"},
        BadItemStep{"item off the bar", "click item Tally \"Tally Two\"", 1,
                    "items.txt:1: click: the item 'Tally Two' of 'Tally' is off the bar", twoItemWorld}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// On a Mac the app's log goes to the system log, not to the terminal: the terminal shows it only
// from the level asked for. The README's tour right-clicks Tally's tile, whose menu the
// accessibility action cannot show, which the app logs as an error.
TEST(HeadlessRun, TheAppsLogReachesTheTerminalOnlyFromTheLevelAskedFor) {
    TemporaryFolder home;
    const auto script = home.write("tally.txt",
                                   "defaults hasCompletedOnboarding true\nwait 1.5\nclick item Stashbay\nwait 3\n"
                                   "rightclick 1056 58\nwait 2\nscreenshot tally.png\n");
    const std::string record = " error app.stashbay.Stashbay:";
    const std::string showMenuFailed = "AXShowMenu failed with error: -25206";
    const struct {
        std::vector<std::string> level;
        bool errors, infos;
    } cases[] = {{{}, false, false}, {{"--log-level", "error"}, true, false}, {{"--log-level", "info"}, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level.empty() ? "by default" : c.level[1]);
        std::vector<std::string> arguments{"--headless", "--script", script.string()};
        arguments.insert(arguments.end(), c.level.begin(), c.level.end());
        const auto run = runDesktop(arguments, {{"HOME", home.path().string()}});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "stashbay-desktop: wrote " + (home.path() / "tally.png").string() + "\n");
        if (!c.errors) {
            EXPECT_EQ(run.err, "");
            continue;
        }
        bool showMenuLogged = false, infoLogged = false;
        for (const auto& line : linesOf(run.err)) {
            showMenuLogged |= line.find(record) != std::string::npos && line.ends_with(showMenuFailed);
            infoLogged |= line.find(" info ") != std::string::npos;
        }
        EXPECT_TRUE(showMenuLogged) << run.err;
        EXPECT_EQ(infoLogged, c.infos) << run.err;
    }
}

// Qt keeps files in XDG_RUNTIME_DIR, and warns without a usable one: the program gives it one of
// its own then, made in the temporary folder and gone at the end; a usable one is left to Qt.
TEST(HeadlessRun, GivesQtARuntimeFolderOfItsOwnWhenThereIsNoUsableOne) {
    TemporaryFolder home;
    const auto script = home.write("s.txt", "wait 0\n");
    const auto temporary = home.path() / "tmp";
    const auto open = home.path() / "open", usable = home.path() / "usable";
    fs::create_directories(temporary);
    fs::create_directory(open);
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::create_directory(usable);
    fs::permissions(usable, fs::perms::owner_all);
    const auto file = home.write("file", "");
    for (const auto& runtime : {std::string(), open.string(), file.string(), usable.string()}) {
        SCOPED_TRACE(runtime.empty() ? "unset" : runtime);
        const auto run =
            runDesktop({"--headless", "--script", script.string()},
                       {{"HOME", home.path().string()}, {"TMPDIR", temporary.string()}, {"XDG_RUNTIME_DIR", runtime}});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(fs::is_empty(temporary));
    }
    // The person's folder keeps its permissions.
    EXPECT_EQ(fs::status(open).permissions() & fs::perms::all, fs::perms(0755));
}

// run.sh starts quicker for bootstrap.sh remembering a check that found every package: it asks
// dpkg again only once the package list or dpkg's database changed since.
TEST(Bootstrap, AsksDpkgAgainOnlyWhenThePackageListOrItsDatabaseChanged) {
    const fs::path database = "/var/lib/dpkg/status";
    if (!fs::exists(database)) GTEST_SKIP() << "no dpkg database here";
    TemporaryFolder folder;
    const auto asked = folder.path() / "asked";
    fs::create_directory(folder.path() / "bin");
    // Says every package is installed, so that nothing is ever installed.
    const auto query = folder.write(
        "bin/dpkg-query", "#!/bin/sh\necho \"$@\" >>'" + asked.string() + "'\nprintf 'install ok installed'\n");
    fs::permissions(query, fs::perms::owner_all);
    const auto stamp = folder.path() / "build" / "bootstrap-check";
    const auto bootstrap = [&] {
        const auto run = runProgram({"/bin/bash", STASHBAY_BOOTSTRAP_SCRIPT, "--quiet", "--stamp", stamp.string()},
                                    {{"PATH", (folder.path() / "bin").string() + ":/usr/bin:/bin"}});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out + run.err, "");
        std::ifstream in(asked);
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line);) ++lines;
        fs::remove(asked);
        return lines;
    };
    const auto everyPackage = bootstrap();
    EXPECT_GT(everyPackage, 10u);
    EXPECT_EQ(bootstrap(), 0u);
    // Another list.
    const std::string remembered = [&] {
        std::ifstream in(stamp);
        std::string line;
        std::getline(in, line);
        return line;
    }();
    std::ofstream(stamp) << remembered << " libnew-dev\n";
    EXPECT_EQ(bootstrap(), everyPackage);
    EXPECT_EQ(bootstrap(), 0u);
    // A database changed after the check: as if the stamp was written before it.
    fs::last_write_time(stamp, fs::last_write_time(database) - std::chrono::seconds(1));
    EXPECT_EQ(bootstrap(), everyPackage);
    EXPECT_EQ(bootstrap(), 0u);
}

}  // namespace
