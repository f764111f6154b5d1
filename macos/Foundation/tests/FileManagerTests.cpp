#include "macos/Foundation/Error.hpp"
#include "macos/Foundation/FileManager.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
    fs::path dir;
    ns::FileManager& fm = ns::FileManager::defaultManager();
};
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
