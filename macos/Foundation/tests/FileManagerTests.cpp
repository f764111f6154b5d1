#include "SpecialFiles.hpp"
#include "macos/Foundation/Error.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {
class FileManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("stashbay-fm-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        ns::FileManager::defaultManager().reset();
        fs::remove_all(dir);
    }
    static void put(const fs::path& file, const std::string& text) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
    }
    static std::string read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static fs::perms mode(const fs::path& file) { return fs::status(file).permissions(); }
    std::size_t entries(const fs::path& folder) const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
    }

    fs::path dir;
    ns::FileManager& fm = ns::FileManager::defaultManager();
};

// The file manager's temporary name for `file` from the n-th draw of a world seeded with `seed`.
std::vector<fs::path> temporaryNames(const fs::path& file, std::uint64_t seed, int count) {
    std::mt19937_64 random(seed);
    std::vector<fs::path> names;
    for (int i = 0; i < count; ++i)
        names.push_back(file.parent_path() / ("." + file.filename().string() + ".tmp" + std::to_string(random())));
    return names;
}
}  // namespace

TEST_F(FileManagerTest, AtomicWriteReplacesTheFileWhole) {
    auto file = dir / "a.json";
    fm.writeAtomically(file, "first");
    fm.writeAtomically(file, "second");
    EXPECT_EQ(fm.contents(file), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1) << "no temporary file left";
}

TEST_F(FileManagerTest, AWriteThatFailsHalfwayLeavesThePreviousFileIntact) {
    auto file = dir / "a.json";
    fm.writeAtomically(file, "previous contents");
    ns::FileFaults faults;
    faults.writeFailsAfterBytes = 4;
    fm.setFaults(faults);
    EXPECT_THROW(fm.writeAtomically(file, "new contents that will not fit"), ns::Error);
    fm.setFaults({});
    EXPECT_EQ(fm.contents(file), "previous contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}

TEST_F(FileManagerTest, ApplicationSupportFollowsXdgDataHome) {
    ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    auto urls = fm.urls(ns::SearchPathDirectory::applicationSupport, ns::SearchPathDomainMask::user);
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0], dir);
    ::unsetenv("XDG_DATA_HOME");
    fm.setNoApplicationSupport(true);
    EXPECT_TRUE(fm.urls(ns::SearchPathDirectory::applicationSupport, ns::SearchPathDomainMask::user).empty());
}

TEST_F(FileManagerTest, ReadsAndRemovalsOfMissingOrUnreadableFilesThrow) {
    EXPECT_THROW(fm.contents(dir / "missing"), ns::Error);
    EXPECT_THROW(fm.removeItem(dir / "missing"), ns::Error);
    auto file = dir / "locked";
    fm.writeAtomically(file, "x");
    ns::FileFaults faults;
    faults.unreadable = {file};
    fm.setFaults(faults);
    EXPECT_THROW(fm.contents(file), ns::Error);
}

TEST_F(FileManagerTest, TemporaryNamesInUseAreDrawnAgainAndLeftoversOfEarlierProcessesRemoved) {
    runtime::ManualLoop loop;
    sim::World world;
    world.seedRandom(7);
    auto file = dir / "a.json";
    // Eight crashes at the same save in earlier runs with the same seed, then a write in flight in
    // a process started after this one.
    auto names = temporaryNames(file, 7, 10);
    const auto anHourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < 8; ++i) {
        put(names[i], "left by a crash");
        fs::last_write_time(names[i], anHourAgo);
    }
    put(names[8], "in flight");
    // Not ours to remove: another file's leftover, and a name that only looks like one.
    put(dir / ".b.json.tmp1", "other");
    fs::last_write_time(dir / ".b.json.tmp1", anHourAgo);
    put(dir / ".a.json.tmpx", "not a temporary name");
    fs::last_write_time(dir / ".a.json.tmpx", anHourAgo);

    fm.writeAtomically(file, "saved");
    EXPECT_EQ(read(file), "saved");
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(fs::exists(names[i])) << "stale leftover " << i;
    EXPECT_EQ(read(names[8]), "in flight") << "a fresh temporary file may be another process's write";
    EXPECT_TRUE(fs::exists(dir / ".b.json.tmp1"));
    EXPECT_TRUE(fs::exists(dir / ".a.json.tmpx"));

    // Every name the generator draws next is in use by writes in flight: still saved.
    world.seedRandom(7);
    for (auto& name : temporaryNames(file, 7, 20)) put(name, "in flight");
    fm.writeAtomically(file, "saved again");
    EXPECT_EQ(read(file), "saved again");
}

TEST_F(FileManagerTest, AWriteKeepsTheFilesModeAndANewFileGetsTheUsualOne) {
    auto file = dir / "a.json";
    fm.writeAtomically(file, "new");
    EXPECT_EQ(mode(file) & fs::perms::all, fs::perms(0644) & ~fs::perms(::umask(::umask(0))));
    for (auto kept : {fs::perms(0600), fs::perms(0444), fs::perms(0660)}) {
        fs::permissions(file, kept);
        fm.writeAtomically(file, "rewritten");
        EXPECT_EQ(mode(file) & fs::perms::all, kept);
        EXPECT_EQ(read(file), "rewritten");
    }
}

TEST_F(FileManagerTest, AWriteThroughASymbolicLinkReplacesItsTargetAndKeepsTheLink) {
    fs::create_directories(dir / "elsewhere");
    auto target = dir / "elsewhere" / "real.json";
    put(target, "old");
    fs::permissions(target, fs::perms(0600));
    // A relative link to a link to the file.
    fs::create_symlink(target, dir / "middle.json");
    fs::create_symlink("middle.json", dir / "a.json");

    fm.writeAtomically(dir / "a.json", "new");
    EXPECT_TRUE(fs::is_symlink(dir / "a.json"));
    EXPECT_TRUE(fs::is_symlink(dir / "middle.json"));
    EXPECT_EQ(read(target), "new");
    EXPECT_EQ(mode(target) & fs::perms::all, fs::perms(0600));
    EXPECT_EQ(entries(dir / "elsewhere"), 1u) << "the temporary file stood beside the target";
    EXPECT_EQ(entries(dir), 3u);

    // A link to nothing yet makes its target.
    fs::create_symlink("elsewhere/later.json", dir / "b.json");
    fm.writeAtomically(dir / "b.json", "made");
    EXPECT_TRUE(fs::is_symlink(dir / "b.json"));
    EXPECT_EQ(read(dir / "elsewhere" / "later.json"), "made");

    // Links in a circle lead nowhere: the write says so and leaves them.
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    EXPECT_THROW(fm.writeAtomically(dir / "loop1", "x"), ns::Error);
    EXPECT_TRUE(fs::is_symlink(dir / "loop1"));
}

TEST_F(FileManagerTest, MovingAsideNeverReplacesAnEarlierKeptFile) {
    runtime::ManualLoop loop;  // 2026-12-10 00:00:00 UTC
    auto file = dir / "a.json";
    put(file, "first");
    auto kept = fm.moveAside(file, "unreadable");
    EXPECT_EQ(kept, dir / "a.json.unreadable-20261210T000000Z");
    EXPECT_FALSE(fs::exists(file));
    put(file, "second");
    EXPECT_EQ(fm.moveAside(file, "unreadable"), dir / "a.json.unreadable-20261210T000000Z-2");
    EXPECT_EQ(read(kept), "first");
    EXPECT_EQ(read(dir / "a.json.unreadable-20261210T000000Z-2"), "second");

    // A link's target is moved beside itself; the link stays.
    fs::create_directories(dir / "elsewhere");
    put(dir / "elsewhere" / "real.json", "third");
    fs::create_symlink("elsewhere/real.json", dir / "b.json");
    EXPECT_EQ(fm.moveAside(dir / "b.json", "unreadable"), dir / "elsewhere" / "real.json.unreadable-20261210T000000Z");
    EXPECT_TRUE(fs::is_symlink(dir / "b.json"));

    EXPECT_THROW(fm.moveAside(dir / "missing", "unreadable"), ns::Error);
}

TEST_F(FileManagerTest, ReadsRefuseFilesOverTheLimitAndFilesThatAreNotRegular) {
    auto file = dir / "a.json";
    put(file, "0123456789");
    EXPECT_EQ(fm.contents(file, 10), "0123456789");
    try {
        fm.contents(file, 9);
        FAIL() << "read";
    } catch (const ns::Error& error) {
        EXPECT_EQ(error.code(), ns::CocoaError::fileReadTooLarge);
    }
    // A sparse file far over the limit is refused without being read.
    fs::resize_file(file, std::uintmax_t{1} << 30);
    EXPECT_THROW(fm.contents(file, 4096), ns::Error);

    // A pipe in the file's place would block a plain open until a writer came.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    EXPECT_THROW(fm.contents(dir / "pipe"), ns::Error);
    EXPECT_THROW(fm.contents(dir), ns::Error);
}

namespace {

using ns::testing::Special;

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ns::Error& error) {
        return error.localizedDescription();
    }
    return "no error";
}

}  // namespace

TEST_F(FileManagerTest, NothingButARegularFileIsReplacedOrMovedAsideThroughALinkOrInItsPlace) {
    runtime::ManualLoop loop;
    struct Case {
        Special kind;
        bool linked;
    } cases[] = {
        {Special::device, true}, {Special::fifo, true},  {Special::folder, true},
        {Special::socket, true}, {Special::fifo, false}, {Special::folder, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(ns::testing::kindName(c.kind)) + (c.linked ? ", linked" : ", in the file's place"));
        fs::remove_all(dir);
        fs::create_directories(dir / "elsewhere");
        const auto file = dir / "a.json";
        const auto target = ns::testing::makeSpecial(c.kind, c.linked ? dir / "elsewhere" / "thing" : file);
        if (c.linked) fs::create_symlink(target, file);
        const std::string where = "\"" + file.string() + "\"" +
                                  (c.linked ? " (a link to \"" + target.string() + "\")" : std::string()) +
                                  ": that is " + ns::testing::kindName(c.kind) + ", not a regular file";

        EXPECT_EQ(messageOf([&] { fm.writeAtomically(file, "{}"); }), "The file could not be saved " + where);
        EXPECT_EQ(messageOf([&] { fm.moveAside(file, "unreadable"); }), "The file could not be moved aside " + where);
        EXPECT_TRUE(ns::testing::isStill(c.kind, target));
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(file)), c.linked);
        EXPECT_EQ(entries(dir), 2u) << "no temporary or kept file";
        EXPECT_EQ(entries(dir / "elsewhere"), target.parent_path() == dir / "elsewhere" ? 1u : 0u);
    }
}

TEST_F(FileManagerTest, AFailedSaveSaysTheReasonTheSystemGave) {
    struct Case {
        const char* what;
        // Makes the trouble; answers the file to save and the file a link there leads to.
        std::function<std::pair<fs::path, fs::path>(const fs::path&, ns::FileFaults&)> setUp;
        const char* reason;
        long code;
    } cases[] = {
        {"a folder the user may not write",
         [](const fs::path& d, ns::FileFaults& faults) {
             fs::create_directory(d / "config");
             faults.readOnlyFolders = {d / "config"};
             return std::pair(d / "config" / "a.json", d / "config" / "a.json");
         },
         "Permission denied", ns::CocoaError::fileWriteNoPermission},
        {"a missing folder",
         [](const fs::path& d, ns::FileFaults&) { return std::pair(d / "gone" / "a.json", d / "gone" / "a.json"); },
         "No such file or directory", ns::CocoaError::fileNoSuchFile},
        {"a file in place of the folder",
         [](const fs::path& d, ns::FileFaults&) {
             put(d / "config", "a file");
             return std::pair(d / "config" / "a.json", d / "config" / "a.json");
         },
         "Not a directory", ns::CocoaError::fileNoSuchFile},
        {"a link into a missing folder",
         [](const fs::path& d, ns::FileFaults&) {
             fs::create_symlink("gone/real.json", d / "a.json");
             return std::pair(d / "a.json", d / "gone" / "real.json");
         },
         "No such file or directory", ns::CocoaError::fileNoSuchFile},
        {"a full disk",
         [](const fs::path& d, ns::FileFaults& faults) {
             put(d / "a.json", "old");
             faults.writeFailsAfterBytes = 3;
             return std::pair(d / "a.json", d / "a.json");
         },
         "No space left on device", ns::CocoaError::fileWriteOutOfSpace},
        {"a mode that cannot be kept",
         [](const fs::path& d, ns::FileFaults& faults) {
             put(d / "a.json", "old");
             faults.keepingModeFails = true;
             return std::pair(d / "a.json", d / "a.json");
         },
         "Operation not permitted", ns::CocoaError::fileWriteNoPermission},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        ns::FileFaults faults;
        const auto [file, target] = c.setUp(dir, faults);
        fm.setFaults(faults);
        const auto before = entries(dir);
        try {
            fm.writeAtomically(file, "new contents");
            ADD_FAILURE() << "saved";
        } catch (const ns::Error& error) {
            const std::string link = file == target ? "" : " (a link to \"" + target.string() + "\")";
            EXPECT_EQ(error.localizedDescription(),
                      "The file could not be saved \"" + file.string() + "\"" + link + ": " + c.reason);
            EXPECT_EQ(error.code(), c.code);
        }
        fm.setFaults({});
        EXPECT_EQ(entries(dir), before) << "no temporary file left";
    }

    // Making the folder says why too.
    put(dir / "config", "a file");
    EXPECT_EQ(messageOf([&] { fm.createDirectory(dir / "config", true); }),
              "Could not create the folder \"" + (dir / "config").string() + "\": Not a directory");
    ns::FileFaults faults;
    faults.readOnlyFolders = {dir};
    fm.setFaults(faults);
    EXPECT_EQ(messageOf([&] { fm.createDirectory(dir / "new" / "deeper", true); }),
              "Could not create the folder \"" + (dir / "new" / "deeper").string() + "\": Permission denied");
    EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST_F(FileManagerTest, AKeptFileIsPutBackUnlessAnotherTookItsPlace) {
    runtime::ManualLoop loop;
    auto file = dir / "a.json";
    put(file, "kept");
    auto kept = fm.moveAside(file, "unreadable");
    fm.putBack(kept, file);
    EXPECT_EQ(read(file), "kept");
    EXPECT_EQ(entries(dir), 1u);

    // Through a link, to where the link points.
    fs::create_directories(dir / "elsewhere");
    put(dir / "elsewhere" / "real.json", "linked");
    fs::create_symlink("elsewhere/real.json", dir / "b.json");
    kept = fm.moveAside(dir / "b.json", "unreadable");
    fm.putBack(kept, dir / "b.json");
    EXPECT_EQ(read(dir / "elsewhere" / "real.json"), "linked");
    EXPECT_TRUE(fs::is_symlink(dir / "b.json"));

    kept = fm.moveAside(file, "unreadable");
    put(file, "newer");
    EXPECT_THROW(fm.putBack(kept, file), ns::Error);
    EXPECT_EQ(read(file), "newer");
    EXPECT_EQ(read(kept), "kept");
}
