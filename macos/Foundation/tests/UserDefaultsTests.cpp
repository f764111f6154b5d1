#include "SpecialFiles.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"

#include "macos/os/LogCapture.hpp"
#include "macos/sim/SavedEnvironmentVariable.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using cf::Value;

namespace {

class UserDefaultsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("stashbay-defaults-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        file = dir / "app.stashbay.Stashbay" / "defaults.json";
    }
    void TearDown() override {
        ns::FileManager::defaultManager().reset();
        ns::UserDefaults::resetStandard(std::nullopt);
        fs::remove_all(dir);
    }
    void writeFile(const std::string& text) {
        fs::create_directories(file.parent_path());
        ns::FileManager::defaultManager().writeAtomically(file, text);
    }
    fs::path dir;
    fs::path file;
};

}  // namespace

TEST(UserDefaults, ReadingsFollowThePlatformsConversions) {
    struct Case {
        std::optional<Value> stored;
        bool asBool;
        double asDouble;
        std::int64_t asInteger;
    } cases[] = {
        {std::nullopt, false, 0.0, 0},
        {Value(true), true, 1.0, 1},
        {Value(false), false, 0.0, 0},
        {Value(0), false, 0.0, 0},
        {Value(2), true, 2.0, 2},
        {Value(-1), true, -1.0, -1},
        {Value(0.0), false, 0.0, 0},
        {Value(0.5), true, 0.5, 0},
        {Value(-3.9), true, -3.9, -3},
        {Value(1e300), true, 1e300, std::numeric_limits<std::int64_t>::max()},
        {Value("YES"), true, 0.0, 0},
        {Value("yes"), true, 0.0, 0},
        {Value("true"), true, 0.0, 0},
        {Value("  \tY"), true, 0.0, 0},
        {Value("no"), false, 0.0, 0},
        {Value("false"), false, 0.0, 0},
        {Value(""), false, 0.0, 0},
        {Value("0"), false, 0.0, 0},
        {Value("00012"), true, 12.0, 12},
        {Value("-3"), true, -3.0, -3},
        {Value("+0.5"), false, 0.5, 0},
        {Value(" 2.5 seconds"), true, 2.5, 2},
        {Value("1e3"), true, 1000.0, 1},
        {Value(".5"), false, 0.5, 0},
        {Value("5."), true, 5.0, 5},
        {Value("1e"), true, 1.0, 1},
        {Value("-"), false, 0.0, 0},
        {Value("abc"), false, 0.0, 0},
        {Value("99999999999999999999"), true, 1e20, std::numeric_limits<std::int64_t>::max()},
        {Value("-99999999999999999999"), true, -1e20, std::numeric_limits<std::int64_t>::min()},
        {Value::array({1, 2}), false, 0.0, 0},
        {Value::dictionary({{"a", 1}}), false, 0.0, 0},
    };
    ns::UserDefaults defaults;
    for (auto& c : cases) {
        if (c.stored)
            defaults.set(*c.stored, "key");
        else
            defaults.removeObject("key");
        SCOPED_TRACE(c.stored && c.stored->asString() ? *c.stored->asString() : "non-text case");
        EXPECT_EQ(defaults.object("key").has_value(), c.stored.has_value());
        EXPECT_EQ(defaults.boolForKey("key"), c.asBool);
        EXPECT_DOUBLE_EQ(defaults.doubleForKey("key"), c.asDouble);
        EXPECT_EQ(defaults.integerForKey("key"), c.asInteger);
    }
}

TEST(UserDefaults, TextOutOfRangeReadsAsInfinityOrZero) {
    ns::UserDefaults defaults;
    defaults.set("1e999", "big");
    defaults.set("-1e999", "negative");
    defaults.set("1e-999", "tiny");
    defaults.set(std::nan(""), "nan");
    EXPECT_EQ(defaults.doubleForKey("big"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(defaults.doubleForKey("negative"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(defaults.doubleForKey("tiny"), 0.0);
    EXPECT_TRUE(std::isnan(defaults.doubleForKey("nan")));
    EXPECT_EQ(defaults.integerForKey("nan"), 0);
}

TEST(UserDefaults, StringsAndTheDescriptionsOfNumbers) {
    ns::UserDefaults defaults;
    defaults.set("text", "s");
    defaults.set(true, "b");
    defaults.set(42, "i");
    defaults.set(2.5, "d");
    defaults.set(Value::array({"x"}), "a");
    EXPECT_EQ(defaults.stringForKey("s"), "text");
    EXPECT_EQ(defaults.stringForKey("b"), "1");
    EXPECT_EQ(defaults.stringForKey("i"), "42");
    EXPECT_EQ(defaults.stringForKey("d"), "2.5");
    EXPECT_EQ(defaults.stringForKey("a"), std::nullopt);
    EXPECT_EQ(defaults.stringForKey("missing"), std::nullopt);
}

TEST(UserDefaults, RefusesValuesThatAreNotPropertyLists) {
    struct Opaque : cf::Object {
        const char* typeName() const override { return "Opaque"; }
    };
    ns::UserDefaults defaults;
    Value::ObjectRef object = std::make_shared<const Opaque>();
    EXPECT_THROW(defaults.set(Value(object), "k"), std::invalid_argument);
    EXPECT_THROW(defaults.set(Value::array({Value(object)}), "k"), std::invalid_argument);
    EXPECT_FALSE(defaults.object("k").has_value());
}

TEST(UserDefaults, ObserversSeeEveryWriteOfTheirKeyAfterItIsMade) {
    ns::UserDefaults defaults;
    struct Seen {
        std::optional<Value> oldValue, newValue, readInside;
    };
    std::vector<Seen> seen;
    auto observation = defaults.observe("globalHotkeyEnabled", [&](const auto& oldValue, const auto& newValue) {
        seen.push_back({oldValue, newValue, defaults.object("globalHotkeyEnabled")});
    });
    defaults.set(false, "globalHotkeyEnabled");
    defaults.set(false, "globalHotkeyEnabled");  // unchanged: still reported
    defaults.set(1, "otherKey");
    defaults.removeObject("globalHotkeyEnabled");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].oldValue, std::nullopt);
    EXPECT_EQ(seen[0].newValue, Value(false));
    EXPECT_EQ(seen[0].readInside, Value(false)) << "the write is made before the observer runs";
    EXPECT_EQ(seen[1].oldValue, Value(false));
    EXPECT_EQ(seen[1].newValue, Value(false));
    EXPECT_EQ(seen[2].oldValue, Value(false));
    EXPECT_EQ(seen[2].newValue, std::nullopt);

    observation.invalidate();
    defaults.set(true, "globalHotkeyEnabled");
    EXPECT_EQ(seen.size(), 3u);
}

TEST(UserDefaults, AnObserverCanEndAnotherDuringADelivery) {
    ns::UserDefaults defaults;
    int secondCalls = 0;
    ns::KeyValueObservation second;
    auto first = defaults.observe("k", [&](const auto&, const auto&) { second.invalidate(); });
    second = defaults.observe("k", [&](const auto&, const auto&) { ++secondCalls; });
    defaults.set(1, "k");
    EXPECT_EQ(secondCalls, 0);
}

TEST(UserDefaults, ResettingTheStandardDefaultsEmptiesThemAndEndsTheirObservations) {
    ns::UserDefaults::resetStandard(std::nullopt);
    auto& defaults = ns::UserDefaults::standard();
    int calls = 0;
    auto observation = defaults.observe("k", [&](const auto&, const auto&) { ++calls; });
    defaults.set(1, "k");
    ns::UserDefaults::resetStandard(std::nullopt);
    EXPECT_FALSE(defaults.object("k").has_value());
    defaults.set(2, "k");
    EXPECT_EQ(calls, 1);
    observation.invalidate();  // harmless after the reset
}

TEST_F(UserDefaultsFileTest, ValuesSurviveInTheFileWithIntegersAndRealsApart) {
    {
        ns::UserDefaults defaults(file);
        defaults.set(2, "integer");
        defaults.set(2.0, "real");
        defaults.set(true, "flag");
        defaults.set("text", "name");
        defaults.set(Value::dictionary({{"list", Value::array({1, 1.5, "x"})}}), "nested");
        defaults.set(std::numeric_limits<double>::infinity(), "infinite");
        defaults.set(1, "removed");
        defaults.removeObject("removed");
        EXPECT_EQ(defaults.doubleForKey("infinite"), INFINITY) << "kept in memory";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator{}), 1)
        << "no temporary file left";
    ns::UserDefaults reread(file);
    EXPECT_EQ(reread.object("integer")->kind(), Value::Kind::integer);
    EXPECT_EQ(reread.object("real")->kind(), Value::Kind::real);
    EXPECT_EQ(reread.object("flag"), Value(true));
    EXPECT_EQ(reread.object("name"), Value("text"));
    EXPECT_EQ(reread.object("nested"), Value::dictionary({{"list", Value::array({1, 1.5, "x"})}}));
    EXPECT_FALSE(reread.object("infinite").has_value()) << "a non-finite real has no JSON form";
    EXPECT_FALSE(reread.object("removed").has_value());
}

TEST_F(UserDefaultsFileTest, ABadFileStartsTheDefaultsEmpty) {
    const std::string bad[] = {
        "",
        "not json",
        "[1, 2]",
        "\"text\"",
        "null",
        "{\"scanInterval\": ",
        "{\"a\": 1} trailing",
        std::string(100000, '['),
        "{\"a\": \"\xff\xfe\"}",
    };
    runtime::ManualLoop loop;  // names the kept file by 2026-12-10 00:00 UTC
    os::LogStore::shared().setEchoToStderr(false);
    const auto kept = file.parent_path() / "defaults.json.unreadable-20261210T000000Z";
    for (auto& text : bad) {
        os::LogCapture capture;
        writeFile(text);
        ns::UserDefaults defaults(file);
        EXPECT_TRUE(defaults.dictionaryRepresentation().empty()) << text.substr(0, 40);
        EXPECT_TRUE(capture.contains("persistence", os::LogLevel::error,
                                     "The user defaults file " + file.string() +
                                         " could not be read (not a JSON object); starting with empty defaults"));
        // The first write keeps the person's file before replacing it; later ones replace only.
        defaults.set(true, "globalHotkeyEnabled");
        defaults.set(3.0, "scanInterval");
        EXPECT_EQ(ns::FileManager::defaultManager().contents(kept), text) << text.substr(0, 40);
        EXPECT_TRUE(capture.contains(
            "persistence", os::LogLevel::error,
            "The user defaults file " + file.string() + " could not be read; kept it as " + kept.string()));
        EXPECT_EQ(capture.texts("persistence", os::LogLevel::error).size(), 2u);
        EXPECT_EQ(ns::UserDefaults(file).doubleForKey("scanInterval"), 3.0);
        fs::remove(kept);
    }
}

TEST_F(UserDefaultsFileTest, AnUnreadableFileIsLoggedAndNotWrittenOverUntilItIsKept) {
    os::LogStore::shared().setEchoToStderr(false);
    os::LogCapture capture;
    auto& files = ns::FileManager::defaultManager();
    writeFile("{\"scanInterval\": 5.0, \"hasCompletedOnboarding\": true}");
    ns::FileFaults faults;
    faults.unreadable = {file};
    faults.moveAsideFails = true;
    files.setFaults(faults);
    ns::UserDefaults defaults(file);
    EXPECT_FALSE(defaults.object("hasCompletedOnboarding").has_value());
    auto first = capture.first("persistence", "The user defaults file " + file.string() + " could not be read (");
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->level, os::LogLevel::error);

    defaults.set(false, "globalHotkeyEnabled");
    EXPECT_EQ(defaults.boolForKey("globalHotkeyEnabled"), false) << "kept in memory";
    files.setFaults({});
    EXPECT_EQ(files.contents(file), "{\"scanInterval\": 5.0, \"hasCompletedOnboarding\": true}")
        << "not written over while it could not be kept";
    EXPECT_TRUE(
        capture.first("persistence", "The unreadable user defaults file " + file.string() + " could not be kept (")
            .has_value());

    // Still unreadable, now that it can be moved: the next write keeps it.
    faults.moveAsideFails = false;
    files.setFaults(faults);
    defaults.set(2.0, "scanInterval");
    files.setFaults({});
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator{}), 2)
        << "kept beside the new file";
    ns::UserDefaults reread(file);
    EXPECT_EQ(reread.boolForKey("globalHotkeyEnabled"), false);
    EXPECT_EQ(reread.doubleForKey("scanInterval"), 2.0);
}

TEST_F(UserDefaultsFileTest, MembersTheReaderCannotTakeAreLeftOut) {
    std::string deep = "{\"deep\": " + std::string(200, '[') + std::string(200, ']') +
                       ", \"none\": null, \"list\": [1, null, 2], \"huge\": 18446744073709551615, \"kept\": 3}";
    writeFile(deep);
    ns::UserDefaults defaults(file);
    EXPECT_FALSE(defaults.object("deep").has_value());
    EXPECT_FALSE(defaults.object("none").has_value());
    EXPECT_EQ(defaults.object("list"), Value::array({1, 2}));
    EXPECT_EQ(defaults.object("huge")->kind(), Value::Kind::real) << "beyond the signed range";
    EXPECT_EQ(defaults.object("kept"), Value(3));
}

TEST_F(UserDefaultsFileTest, AFailedWriteKeepsTheValueInMemoryAndTheOldFileWhole) {
    ns::UserDefaults defaults(file);
    defaults.set(1.5, "scanInterval");
    auto before = ns::FileManager::defaultManager().contents(file);
    ns::FileFaults faults;
    faults.writeFailsAfterBytes = 3;
    ns::FileManager::defaultManager().setFaults(faults);
    defaults.set(7.0, "scanInterval");
    EXPECT_EQ(defaults.doubleForKey("scanInterval"), 7.0);
    ns::FileManager::defaultManager().setFaults({});
    EXPECT_EQ(ns::FileManager::defaultManager().contents(file), before);
}

TEST_F(UserDefaultsFileTest, InMemoryDefaultsWriteNoFile) {
    ns::UserDefaults::resetStandard(std::nullopt);
    ns::UserDefaults::standard().set(true, "launchAtLogin");
    ns::UserDefaults::resetStandard(file);
    EXPECT_FALSE(ns::UserDefaults::standard().object("launchAtLogin").has_value());
    EXPECT_FALSE(fs::exists(file));
    ns::UserDefaults::standard().set(true, "launchAtLogin");
    EXPECT_TRUE(fs::exists(file));
}

TEST(UserDefaults, TheFileLivesUnderTheUsersConfigurationFolder) {
    sim::testing::SavedEnvironmentVariable savedXdg("XDG_CONFIG_HOME");
    sim::testing::SavedEnvironmentVariable savedHome("HOME");
    ::setenv("XDG_CONFIG_HOME", "/tmp/config-home", 1);
    EXPECT_EQ(ns::UserDefaults::defaultPersistFile(), fs::path("/tmp/config-home/app.stashbay.Stashbay/defaults.json"));
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    ::setenv("HOME", "/tmp/home", 1);
    EXPECT_EQ(ns::UserDefaults::defaultPersistFile(),
              fs::path("/tmp/home/.config/app.stashbay.Stashbay/defaults.json"));
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(ns::UserDefaults::defaultPersistFile(), std::nullopt);
}

namespace {

// The persistence records of one level that start with `prefix`.
std::vector<std::string> recordsStartingWith(const os::LogCapture& capture, os::LogLevel level,
                                             const std::string& prefix) {
    std::vector<std::string> found;
    for (auto& text : capture.texts("persistence", level))
        if (text.rfind(prefix, 0) == 0) found.push_back(text);
    return found;
}

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

}  // namespace

TEST_F(UserDefaultsFileTest, AFailedWriteIsLoggedOnceWithWhyAndTheValuesAreWrittenAtTheNextChangeThatCan) {
    using ns::testing::Special;
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    const auto folder = file.parent_path();
    const std::string notSaved = "The user defaults file " + file.string() + " could not be saved (";
    const std::string notKept = "The unreadable user defaults file " + file.string() + " could not be kept (";
    struct Case {
        const char* what;
        // Makes the trouble before the defaults are read, and mends it.
        std::function<void(const fs::path& dir, ns::FileFaults&)> setUp;
        std::function<void(const fs::path& dir)> mend;
        const std::string& record;
        const char* reason;
    } cases[] = {
        {"a folder the user may not write",
         [&](const fs::path&, ns::FileFaults& faults) {
             fs::create_directories(folder);
             faults.readOnlyFolders = {folder};
         },
         [](const fs::path&) {}, notSaved, ": Permission denied); "},
        {"a full disk", [](const fs::path&, ns::FileFaults& faults) { faults.writeFailsAfterBytes = 0; },
         [](const fs::path&) {}, notSaved, ": No space left on device); "},
        {"a link into a missing folder",
         [&](const fs::path&, ns::FileFaults&) {
             fs::create_directories(folder);
             fs::create_symlink("../elsewhere/defaults.json", file);
         },
         [](const fs::path& d) { fs::create_directories(d / "elsewhere"); }, notSaved,
         "/elsewhere/defaults.json\"): No such file or directory); "},
        {"a file in place of the folder",
         [&](const fs::path& d, ns::FileFaults&) {
             fs::create_directories(d);
             std::ofstream(folder) << "a file";
         },
         [&](const fs::path&) { fs::remove(folder); }, notSaved, ": Not a directory); "},
        {"a link to a device",
         [&](const fs::path& d, ns::FileFaults&) {
             fs::create_directories(folder);
             fs::create_symlink(ns::testing::makeSpecial(Special::device, d / "null"), file);
         },
         [&](const fs::path&) { fs::remove(file); }, notKept, "that is a device, not a regular file); "},
        {"a link to a fifo",
         [&](const fs::path& d, ns::FileFaults&) {
             fs::create_directories(folder);
             fs::create_symlink(ns::testing::makeSpecial(Special::fifo, d / "pipe"), file);
         },
         [&](const fs::path&) { fs::remove(file); }, notKept, "that is a fifo, not a regular file); "},
    };
    auto& files = ns::FileManager::defaultManager();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        ns::FileFaults faults;
        c.setUp(dir, faults);
        files.setFaults(faults);
        ns::UserDefaults defaults(file);
        os::LogCapture capture;
        defaults.set(true, "hasCompletedOnboarding");
        defaults.set(5.0, "scanInterval");

        auto errors = capture.texts("persistence", os::LogLevel::error);
        ASSERT_EQ(errors.size(), 1u) << "one record while the same failure goes on";
        EXPECT_EQ(errors[0].rfind(c.record, 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find(c.reason), std::string::npos) << errors[0];
        EXPECT_EQ(recordsStartingWith(capture, os::LogLevel::debug,
                                      "The user defaults file " + file.string() + " still could not be saved (")
                      .size(),
                  1u);
        EXPECT_TRUE(defaults.boolForKey("hasCompletedOnboarding")) << "kept in memory";

        files.setFaults({});
        c.mend(dir);
        defaults.set(false, "globalHotkeyEnabled");
        EXPECT_EQ(capture.texts("persistence", os::LogLevel::error).size(), 1u);
        EXPECT_TRUE(capture.contains("persistence", os::LogLevel::info,
                                     "The user defaults file " + file.string() + " was saved again"));
        ns::UserDefaults reread(file);
        EXPECT_TRUE(reread.boolForKey("hasCompletedOnboarding"));
        EXPECT_EQ(reread.doubleForKey("scanInterval"), 5.0);
        EXPECT_EQ(reread.object("globalHotkeyEnabled"), Value(false));
    }
    EXPECT_TRUE(ns::testing::isStill(Special::fifo, dir / "pipe"));
}

TEST_F(UserDefaultsFileTest, ACorruptFileOnAFullDiskStaysInPlaceUntilAWriteCanReplaceIt) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    auto& files = ns::FileManager::defaultManager();
    writeFile("{ corrupt");
    ns::UserDefaults defaults(file);
    ns::FileFaults full;
    full.writeFailsAfterBytes = 0;
    files.setFaults(full);
    defaults.set(true, "hasCompletedOnboarding");
    files.setFaults({});
    EXPECT_EQ(files.contents(file), "{ corrupt") << "moved aside for the write, then put back";
    EXPECT_EQ(entriesIn(file.parent_path()), 1u);

    defaults.set(4.0, "scanInterval");
    EXPECT_EQ(files.contents(file.parent_path() / "defaults.json.unreadable-20261210T000000Z"), "{ corrupt");
    ns::UserDefaults reread(file);
    EXPECT_TRUE(reread.boolForKey("hasCompletedOnboarding"));
    EXPECT_EQ(reread.doubleForKey("scanInterval"), 4.0);
}

TEST_F(UserDefaultsFileTest, AFileOverFourMebibytesIsRefusedUnreadAndKeptAside) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    constexpr std::uintmax_t limit = 4 * 1024 * 1024;
    // A file of exactly the limit is read.
    writeFile("{\"scanInterval\": 3.0" + std::string(limit - 21, ' ') + "}");
    ASSERT_EQ(fs::file_size(file), limit);
    EXPECT_EQ(ns::UserDefaults(file).doubleForKey("scanInterval"), 3.0);

    fs::resize_file(file, std::uintmax_t{1} << 30);
    os::LogCapture capture;
    ns::UserDefaults defaults(file);
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::error,
                                 "The user defaults file " + file.string() +
                                     " could not be read (The file is too large to be read \"" + file.string() +
                                     "\"); starting with empty defaults"));
    defaults.set(true, "launchAtLogin");
    EXPECT_EQ(fs::file_size(file.parent_path() / "defaults.json.unreadable-20261210T000000Z"), std::uintmax_t{1} << 30);
    EXPECT_EQ(ns::UserDefaults(file).object("launchAtLogin"), Value(true));
}

TEST_F(UserDefaultsFileTest, AFileHoldingWhatARewriteWouldLoseIsKeptBeforeTheFirstWrite) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    const auto kept = file.parent_path() / "defaults.json.original-20261210T000000Z";
    struct Case {
        const char* what;
        std::string text;
        bool lossy;
    } cases[] = {
        {"a member nested too deeply", "{\"deep\": " + std::string(65, '[') + std::string(65, ']') + "}", true},
        {"a null member", "{\"none\": null, \"kept\": 1}", true},
        {"a null in a list", "{\"list\": [1, null]}", true},
        {"a null in a dictionary", "{\"map\": {\"a\": null}}", true},
        {"an integer beyond the signed range", "{\"huge\": 9223372036854775808}", true},
        {"nothing lost",
         "{\"deep\": " + std::string(63, '[') + std::string(63, ']') +
             ", \"max\": 9223372036854775807, \"min\": -9223372036854775808, \"real\": 0.5}",
         false},
    };
    auto& files = ns::FileManager::defaultManager();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        writeFile(c.text);
        os::LogCapture capture;
        ns::UserDefaults defaults(file);
        EXPECT_TRUE(capture.texts("persistence").empty()) << "read without complaint";
        defaults.set(true, "hasCompletedOnboarding");
        defaults.set(3.0, "scanInterval");
        EXPECT_EQ(fs::exists(kept), c.lossy);
        if (c.lossy) {
            EXPECT_EQ(files.contents(kept), c.text);
            EXPECT_EQ(capture.texts("persistence", os::LogLevel::error),
                      std::vector<std::string>{"The user defaults file " + file.string() +
                                               " held values a rewrite would lose; kept it as " + kept.string()});
        } else {
            EXPECT_TRUE(capture.texts("persistence").empty());
        }
        EXPECT_EQ(entriesIn(file.parent_path()), c.lossy ? 2u : 1u) << "kept once";
        EXPECT_TRUE(ns::UserDefaults(file).boolForKey("hasCompletedOnboarding"));
    }
}

TEST_F(UserDefaultsFileTest, AFileMendedWhileRunningIsTakenWithTheWritesMadeSinceAndNotKeptAside) {
    os::LogStore::shared().setEchoToStderr(false);
    runtime::ManualLoop loop;
    auto& files = ns::FileManager::defaultManager();
    writeFile("{ corrupt");
    ns::UserDefaults defaults(file);
    std::vector<std::optional<Value>> oldValues;
    auto observation =
        defaults.observe("scanInterval", [&](const auto& oldValue, const auto&) { oldValues.push_back(oldValue); });
    // A write that cannot be made, then the person mends the file and the folder.
    ns::FileFaults faults;
    faults.readOnlyFolders = {file.parent_path()};
    files.setFaults(faults);
    defaults.set(false, "globalHotkeyEnabled");
    defaults.removeObject("launchAtLogin");
    files.setFaults({});
    writeFile("{\"scanInterval\": 5.0, \"hasCompletedOnboarding\": true, \"launchAtLogin\": true}");

    os::LogCapture capture;
    defaults.set(7.0, "scanInterval");
    EXPECT_EQ(entriesIn(file.parent_path()), 1u) << "nothing kept aside";
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::info,
                                 "The user defaults file " + file.string() + " can be read now; taking its values"));
    EXPECT_TRUE(defaults.boolForKey("hasCompletedOnboarding"));
    ASSERT_EQ(oldValues.size(), 1u);
    EXPECT_EQ(oldValues[0], Value(5.0)) << "the file's value was the one replaced";
    ns::UserDefaults reread(file);
    EXPECT_EQ(reread.dictionaryRepresentation(), (Value::Dictionary{{"scanInterval", Value(7.0)},
                                                                    {"hasCompletedOnboarding", Value(true)},
                                                                    {"globalHotkeyEnabled", Value(false)}}));
}
