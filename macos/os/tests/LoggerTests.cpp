#include "macos/os/LogCapture.hpp"
#include "macos/os/Logger.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

using namespace std::chrono_literals;

namespace {
const os::Logger logger{"app.stashbay.Stashbay", "scanning"};
}

TEST(Logger, RendersThePlatformsSpecifiers) {
    os::LogStore::shared().setEchoToStderr(false);
    os::LogCapture capture;
    logger.debug("Scan completed: %ld items in %lldms", std::size_t{3}, std::int64_t{1250});
    logger.info("Found %ld menu bar items for PID %d (%{public}s)", 2L, std::int32_t{-7}, "Clock");
    logger.debug("Visibility boundary X: %f", 900.0);
    logger.debug("Notch detected: x=%{public}f, width=%{public}f", 662.0, 188.5);
    logger.debug("Panel open state changed to %{bool}d", true);
    logger.error("Event tap disabled by system (type=%u). Re-enabling.", std::uint32_t{4294967294u});
    logger.info("Starting permission polling (interval=%fs, fast=%{bool}d).", 2.0, false);
    logger.error("Failed to update launch-at-login: %@", std::runtime_error("denied"));
    logger.info("100%% done with %s", std::string("everything"));
    EXPECT_EQ(capture.texts("scanning"), (std::vector<std::string>{
                                             "Scan completed: 3 items in 1250ms",
                                             "Found 2 menu bar items for PID -7 (Clock)",
                                             "Visibility boundary X: 900.000000",
                                             "Notch detected: x=662.000000, width=188.500000",
                                             "Panel open state changed to true",
                                             "Event tap disabled by system (type=4294967294). Re-enabling.",
                                             "Starting permission polling (interval=2.000000s, fast=false).",
                                             "Failed to update launch-at-login: denied",
                                             "100% done with everything",
                                         }));
}

TEST(Logger, RecordsKeepLevelSubsystemCategoryFormatAndArguments) {
    os::LogStore::shared().setEchoToStderr(false);
    os::LogCapture capture;
    logger.error("Window %u not found in shareable content.", std::uint32_t{42});
    auto records = capture.records("scanning");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, os::LogLevel::error);
    EXPECT_EQ(records[0].subsystem, "app.stashbay.Stashbay");
    EXPECT_EQ(records[0].format, "Window %u not found in shareable content.");
    ASSERT_EQ(records[0].arguments.size(), 1u);
    EXPECT_EQ(std::get<std::uint64_t>(records[0].arguments[0]), 42u);
    EXPECT_TRUE(capture.contains("scanning", os::LogLevel::error, "Window 42 not found in shareable content."));
}

TEST(Logger, RecordsCarryTheLoopsVirtualDate) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop{runtime::Date{100.0}};
    os::LogCapture capture;
    loop.advance(1500ms);
    logger.info("Menu bar scanning started");
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_DOUBLE_EQ(capture.records()[0].date, 101.5);
}

namespace {
// An error whose description counts how often the log asked for it.
struct CountingError : std::exception {
    explicit CountingError(int& reads) : reads(&reads) {}
    const char* what() const noexcept override {
        ++*reads;
        return "counted";
    }
    int* reads;
};

// Restores the terminal's defaults when a test has changed them.
struct TerminalSettings {
    ~TerminalSettings() {
        os::setTerminalLogLevel(os::LogLevel::error);
        os::LogStore::shared().setEchoToStderr(true);
    }
};
}  // namespace

TEST(Logger, ARecordNothingReadsIsNeitherKeptNorFormatted) {
    TerminalSettings restore;
    int reads = 0;
    os::LogStore::shared().setEchoToStderr(false);
    logger.error("Failed: %@", CountingError(reads));
    EXPECT_EQ(reads, 0);
    // Unmuted, the terminal reads errors but not debug records.
    os::LogStore::shared().setEchoToStderr(true);
    testing::internal::CaptureStderr();
    logger.debug("Failed: %@", CountingError(reads));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(reads, 0);

    os::LogStore::shared().setEchoToStderr(false);
    {
        os::LogCapture capture;
        logger.debug("Failed: %@", CountingError(reads));
        EXPECT_EQ(reads, 1);
        EXPECT_EQ(capture.texts("scanning"), std::vector<std::string>{"Failed: counted"});
    }
    logger.debug("Failed: %@", CountingError(reads));
    EXPECT_EQ(reads, 1);
    os::LogCapture later;
    EXPECT_TRUE(later.records().empty());
}

TEST(Logger, TheTerminalShowsRecordsFromItsLevel) {
    TerminalSettings restore;
    os::LogStore::shared().setEchoToStderr(true);
    auto shown = [] {
        testing::internal::CaptureStderr();
        logger.debug("Scan completed: %ld items", 5L);
        logger.info("Menu bar scanning started");
        logger.error("Scan returned 0 items");
        return testing::internal::GetCapturedStderr();
    };
    struct Case {
        os::LogLevel level;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases{
        {os::LogLevel::error, {"error app.stashbay.Stashbay:scanning Scan returned 0 items"}},
        {os::LogLevel::info,
         {"info app.stashbay.Stashbay:scanning Menu bar scanning started",
          "error app.stashbay.Stashbay:scanning Scan returned 0 items"}},
        {os::LogLevel::debug,
         {"debug app.stashbay.Stashbay:scanning Scan completed: 5 items",
          "info app.stashbay.Stashbay:scanning Menu bar scanning started",
          "error app.stashbay.Stashbay:scanning Scan returned 0 items"}},
    };
    for (const auto& c : cases) {
        os::setTerminalLogLevel(c.level);
        std::string out = shown();
        std::vector<std::string> lines;
        for (std::size_t start = 0; start < out.size();) {
            auto end = out.find('\n', start);
            // Each line starts with a date and a time; the rest is compared.
            auto line = out.substr(start, end - start);
            lines.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
            start = end + 1;
        }
        EXPECT_EQ(lines, c.lines) << os::toString(c.level);
    }
    // A capture reads every level whatever the terminal shows.
    os::setTerminalLogLevel(os::LogLevel::error);
    os::LogStore::shared().setEchoToStderr(false);
    os::LogCapture capture;
    shown();
    EXPECT_EQ(capture.records().size(), 3u);
}
