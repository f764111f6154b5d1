// What --measure prints and how measure.sh follows it: the whole process's figures count threads
// that have ended, the program prints a line as each step of its script begins, and measure.sh
// takes its figures from those lines, or ends with one line when a run stops short of a span.
#include "TemporaryFolder.hpp"

#include "ProcessFigures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::chrono::nanoseconds threadCpu() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

TEST(ProcessFigures, CountTheCpuAndWakeUpsOfAThreadThatHasEnded) {
    const auto before = desktop::ProcessFigures::now();
    std::thread worker([] {
        // 50 ms of its own CPU, then 20 sleeps: each sleep gives the processor up once.
        while (threadCpu() < 50ms) {
        }
        for (int i = 0; i < 20; ++i) std::this_thread::sleep_for(1ms);
    });
    worker.join();
    const auto after = desktop::ProcessFigures::now();
    EXPECT_GE(after.cpu - before.cpu, 45ms);
    // A sleep whose time had passed before it gave the processor up counts no switch.
    EXPECT_GE(after.voluntarySwitches - before.voluntarySwitches, 10u);
    EXPECT_GT(after.residentKiB, 0u);
    EXPECT_GE(after.peakResidentKiB, after.residentKiB);
}

struct Output {
    int status = -1;
    std::string text;
};

// Runs a shell command and reads its standard output.
Output runCommand(const std::string& command) {
    Output out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.text.append(buffer, got);
    const int status = ::pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return out;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using desktop::testing::TemporaryFolder;

TEST(MeasuredRun, PrintsALineWithTheProcesssFiguresAsEachStepBegins) {
    TemporaryFolder folder;
    const auto script = folder.write(
        "steps.txt", "defaults hasCompletedOnboarding true\nwait 0.2\n# the wallpaper\nclick 5 900\nwait 0.3\n");
    const auto run = runCommand(std::string("'") + STASHBAY_DESKTOP_PROGRAM + "' --headless --measure --script '" +
                                script.string() + "' 2>&1 >/dev/null");
    EXPECT_EQ(run.status, 0) << run.text;
    const std::regex marker(
        R"(measure: line (\d+) begins after ([0-9.]+) s: CPU ([0-9.]+) s, (\d+) voluntary context switches, )"
        R"(loop woke (\d+) times, (\d+) kB resident \(peak (\d+) kB\))");
    std::vector<int> lines;
    std::vector<double> previous(7, 0.0);
    for (const auto& line : linesOf(run.text)) {
        std::smatch m;
        if (!line.starts_with("measure: line ")) continue;
        ASSERT_TRUE(std::regex_match(line, m, marker)) << line;
        lines.push_back(std::stoi(m[1]));
        // Time, CPU, switches and wake-ups only grow.
        for (int field = 2; field <= 5; ++field) {
            EXPECT_GE(std::stod(m[field]), previous[field]) << line;
            previous[field] = std::stod(m[field]);
        }
        EXPECT_GT(std::stod(m[6]), 0.0);
        EXPECT_LE(std::stod(m[6]), std::stod(m[7])) << line;
    }
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 4, 5}));
    EXPECT_GE(previous[2], 0.2) << "the last step began after the wait";
}

// measure.txt's steps, as measure.sh finds them.
struct MeasureSteps {
    struct Step {
        int line;
        std::string kind;
        double seconds = 0;
        std::string tag;
    };
    std::vector<Step> steps;
    int tagged(const std::string& tag) const {
        for (const auto& s : steps)
            if (s.tag == tag) return s.line;
        return 0;
    }
    int after(int line) const {
        for (const auto& s : steps)
            if (s.line > line) return s.line;
        return 0;
    }

    static MeasureSteps read(const std::string& path) {
        MeasureSteps out;
        std::istringstream in(readFile(path));
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            std::string tag;
            if (const auto hash = line.find('#'); hash != std::string::npos) {
                if (const auto at = line.find("measure.sh: ", hash); at != std::string::npos)
                    tag = line.substr(at + 12);
                line.erase(hash);
            }
            std::istringstream words(line);
            Step step{number, "", 0, tag};
            if (!(words >> step.kind)) continue;
            if (step.kind == "wait") words >> step.seconds;
            out.steps.push_back(step);
        }
        return out;
    }
};

// The error output of a program that measure.sh could be given: the lines a run of `steps` prints
// until the step of line `stopAt` (0: all of them). It uses the CPU, switches and loop wake-ups of
// `openRates` each second of the span marked open, of `closedRates` elsewhere; its resident memory
// at a line is 30000 kB and 100 kB a line, its peak 5000 kB more; each second key-down, from the
// first, paints the panel after the next of `paints` ms.
struct Rates {
    double cpu, switches, loop;
};
constexpr Rates closedRates{0.01, 5, 2};
constexpr Rates openRates{0.03, 9, 4};

std::string measuredOutput(const MeasureSteps& script, int stopAt, const std::vector<double>& paints) {
    std::string out = "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'\n";
    double at = 0, cpu = 0.02, switches = 3, loop = 3;
    std::size_t keys = 0;
    const int open = script.tagged("open");
    for (const auto& step : script.steps) {
        if (step.line == stopAt) return out;
        desktop::ProcessFigures figures;
        figures.cpu = std::chrono::microseconds(static_cast<long long>(cpu * 1e6 + 0.5));
        figures.voluntarySwitches = static_cast<std::uint64_t>(switches + 0.5);
        figures.residentKiB = 30000 + 100 * static_cast<std::uint64_t>(step.line);
        figures.peakResidentKiB = figures.residentKiB + 5000;
        out += desktop::stepBeginsLine(step.line, std::chrono::duration<double>(at), figures,
                                       static_cast<std::uint64_t>(loop + 0.5));
        if (step.kind == "key" && keys++ % 2 == 0 && keys / 2 < paints.size()) {
            char paint[80];
            std::snprintf(paint, sizeof paint, "measure: panel first painted %.2f ms after the key-down\n",
                          paints[keys / 2]);
            out += paint;
        }
        const Rates& rates = step.line == open ? openRates : closedRates;
        at += step.seconds;
        cpu += rates.cpu * step.seconds;
        switches += rates.switches * step.seconds;
        loop += rates.loop * step.seconds;
    }
    return out + "measure: ran 168.2 s, loop woke 999 times\n";
}

struct MeasureCase {
    const char* what;
    // Where the long run stops: a tag of measure.txt, or "" for a run to the end; "silent" for a
    // program that prints no step lines.
    std::string stopsAt;
    // The one error line, as a pattern: "@" stands for the program. It names the run it found
    // first, of either label.
    std::string error;
};

void PrintTo(const MeasureCase& c, std::ostream* os) { *os << c.what; }

class MeasureScript : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(MeasureScript, TakesItsFiguresFromTheLinesTheProgramPrintsOrSaysWhereARunStoppedShort) {
    const auto& c = GetParam();
    const auto script = MeasureSteps::read(STASHBAY_MEASURE_STEPS);
    const auto firstOpen = MeasureSteps::read(STASHBAY_MEASURE_FIRST_OPEN);
    ASSERT_NE(script.tagged("closed"), 0);
    ASSERT_NE(script.tagged("open"), 0);
    TemporaryFolder folder;
    if (c.stopsAt == "silent") {
        folder.write("long.err", "measure: panel first painted 9.00 ms after the key-down\nmeasure: ran 168.0 s\n");
    } else {
        const int stop = c.stopsAt.empty() ? 0 : script.after(script.tagged(c.stopsAt));
        folder.write("long.err", measuredOutput(script, stop, {100, 30, 20, 40, 50, 10, 70}));
    }
    folder.write("first.err", measuredOutput(firstOpen, 0, {12}));
    // The program: its last argument is the script; it prints its lines at once and ends.
    const auto program = folder.write("program",
                                      "#!/bin/sh\nfor last; do :; done\ncase \"$last\" in\n"
                                      "*first-open*) cat '" +
                                          (folder.path() / "first.err").string() + "' >&2 ;;\n*) cat '" +
                                          (folder.path() / "long.err").string() + "' >&2 ;;\nesac\n");
    fs::permissions(program, fs::perms::owner_all);
    const auto errors = folder.path() / "errors";
    const auto run = runCommand("timeout 120 bash '" STASHBAY_MEASURE_SCRIPT "' a='" + program.string() + "' b='" +
                                program.string() + "' 2>'" + errors.string() + "'");
    const auto errorLines = linesOf(readFile(errors));
    // No figure divided by a span of nothing.
    EXPECT_THAT(run.text, Not(HasSubstr("inf"))) << run.text;
    EXPECT_THAT(run.text, Not(HasSubstr("nan"))) << run.text;
    if (!c.error.empty()) {
        EXPECT_EQ(run.status, 1);
        ASSERT_EQ(errorLines.size(), 1u) << readFile(errors);
        std::string pattern = c.error;
        pattern.replace(pattern.find('@'), 1, program.string());
        EXPECT_TRUE(std::regex_match(errorLines[0], std::regex(pattern))) << errorLines[0];
        EXPECT_THAT(run.text, Not(HasSubstr("panel closed, over"))) << "no figures of a run cut short";
        return;
    }
    EXPECT_EQ(run.status, 0) << readFile(errors);
    EXPECT_TRUE(errorLines.empty()) << readFile(errors);
    char memory[160];
    std::snprintf(memory, sizeof memory,
                  "  resident memory after launch: %d kB; with the services running: %d kB (peak %d kB)",
                  30000 + 100 * script.tagged("launched"), 30000 + 100 * script.after(script.tagged("closed")),
                  35000 + 100 * script.after(script.tagged("closed")));
    const std::vector<std::string> expected = {
        memory,
        "  panel closed, over 60.0 s: 0.60 s of CPU = 1.000 % of a core; 5.0 wake-ups/s; the loop woke 2.0 times/s",
        "  panel open and still, over 60.0 s: 1.80 s of CPU = 3.000 % of a core; 9.0 wake-ups/s; the loop woke 4.0 "
        "times/s",
        "  open minus closed, per 60 s: 1.20 s of CPU",
        "  hotkey key-down to first paint: first opening 12.00 ms (median of 5 processes), later openings 30.00 ms "
        "(median of 5)",
        "  measure: ran 168.2 s, loop woke 999 times",
    };
    // Both programs, measured side by side, have their figures.
    const auto lines = linesOf(run.text);
    for (const char* label : {"a:", "b:"}) {
        SCOPED_TRACE(label);
        const auto start = std::find(lines.begin(), lines.end(), label);
        ASSERT_NE(start, lines.end()) << run.text;
        for (const auto& line : expected) EXPECT_NE(std::find(start, lines.end(), line), lines.end()) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, MeasureScript,
    ::testing::Values(
        MeasureCase{"a run to the end", "", ""},
        MeasureCase{
            "a run that ends inside the closed span", "closed",
            R"(measure\.sh: the closed span of [ab] \(@\) was cut short: the program exited after \d+ s \(status 0\))"},
        MeasureCase{
            "a run that ends inside the open span", "open",
            R"(measure\.sh: the open span of [ab] \(@\) was cut short: the program exited after \d+ s \(status 0\))"},
        MeasureCase{"an older program without step lines", "silent",
                    R"(measure\.sh: [ab] \(@\) printed no step lines: its --measure is older than this script)"}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

}  // namespace
