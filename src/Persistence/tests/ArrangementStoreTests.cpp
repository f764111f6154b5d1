#include "Models/DecodingError.hpp"
#include "Persistence/ArrangementStore.hpp"
#include "macos/Foundation/Error.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/os/LogCapture.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

using namespace stashbay;
using SectionType = MenuBarSection::SectionType;
namespace fs = std::filesystem;

namespace {

constexpr const char* noFile = "No arrangement file found; returning empty arrangement";
// Where a file that could not be read is kept, named by the loop's date (2026-12-10 00:00 UTC).
constexpr const char* keptName = "arrangement.json.unreadable-20261210T000000Z";

// Each test gets its own Application Support folder under the temporary directory.
class ArrangementStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        os::LogStore::shared().setEchoToStderr(false);
        base = fs::temp_directory_path() / ("stashbay-store-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base);
        fs::create_directories(base);
        fileManager.setApplicationSupportOverride(base);
    }
    void TearDown() override {
        fileManager.reset();
        fs::remove_all(base);
    }

    fs::path folder() const { return base / "app.stashbay.Stashbay"; }
    fs::path file() const { return folder() / "arrangement.json"; }

    static std::string readFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    std::string read() const { return readFile(file()); }
    void write(const std::string& text) const {
        fs::create_directories(folder());
        std::ofstream out(file(), std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::string readKept(const std::string& name = keptName) const { return readFile(folder() / name); }
    std::string keptMessage(const fs::path& kept) const {
        return "The arrangement file " + file().string() + " could not be read; kept it as " + kept.string();
    }
    std::size_t entriesInFolder() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder()), fs::directory_iterator{}));
    }

    IconArrangement load(ArrangementStore& store) { return loop.run(store.load()); }
    void save(ArrangementStore& store, const IconArrangement& arrangement) { loop.run(store.save(arrangement)); }

    static IconArrangement sample(std::size_t assignments, double date = 818553600.123456789) {
        IconArrangement::Assignments map;
        std::vector<MenuBarItemID> order;
        for (std::size_t i = 0; i < assignments; ++i) {
            MenuBarItemID id(i % 2 ? std::optional<std::string>("com.test.app") : std::nullopt,
                             static_cast<std::int64_t>(i));
            map.emplace(id, MenuBarItemVisibility::stashbay);
            order.push_back(id);
        }
        return IconArrangement(std::move(map), {{SectionType::stashbay, order}, {SectionType::visible, {}}},
                               runtime::Date{date});
    }

    ns::FileManager& fileManager = ns::FileManager::defaultManager();
    fs::path base;
    runtime::ManualLoop loop;
    os::LogCapture capture;
};

}  // namespace

TEST_F(ArrangementStoreTest, MakesItsFolderAndLogsTheFilePath) {
    ArrangementStore store;
    EXPECT_TRUE(fs::is_directory(folder()));
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_EQ(capture.texts("persistence", os::LogLevel::debug),
              std::vector<std::string>{"ArrangementStore path: " + file().string()});
}

TEST_F(ArrangementStoreTest, WithoutAFileEveryLoadGivesTheEmptyArrangementAndLooksAgain) {
    ArrangementStore store;
    EXPECT_EQ(load(store), IconArrangement::empty());
    EXPECT_EQ(load(store), IconArrangement::empty());
    EXPECT_EQ(capture.count("persistence", noFile), 2u);
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::info, noFile));

    write(sample(3).encodedDocument());
    EXPECT_EQ(load(store), sample(3)) << "the empty arrangement was not cached";
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::info, "Loaded arrangement with 3 assignments"));
}

TEST_F(ArrangementStoreTest, SavedArrangementComesFromTheCacheAndFromTheFileForANewStore) {
    ArrangementStore store;
    save(store, sample(1));
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::info, "Saved arrangement with 1 assignments"));
    EXPECT_EQ(read(), sample(1).encodedDocument());
    EXPECT_EQ(entriesInFolder(), 1u) << "no temporary file left behind";

    fs::remove(file());
    EXPECT_EQ(load(store), sample(1)) << "served from the cache";
    EXPECT_EQ(capture.count("persistence", noFile), 0u);

    save(store, sample(2));
    ArrangementStore other;
    EXPECT_EQ(load(other), sample(2)) << "lastModified included, to the last bit";
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::info, "Loaded arrangement with 2 assignments"));
}

TEST_F(ArrangementStoreTest, ASecondLoadDoesNotReadTheFileUntilTheCacheIsInvalidated) {
    ArrangementStore store;
    write(sample(2).encodedDocument());
    EXPECT_EQ(load(store), sample(2));
    write(sample(4).encodedDocument());
    EXPECT_EQ(load(store), sample(2));
    fs::remove(file());
    EXPECT_EQ(load(store), sample(2));
    EXPECT_EQ(capture.count("persistence", "Loaded arrangement with 2 assignments"), 1u);

    write(sample(4).encodedDocument());
    loop.run(store.invalidateCache());
    EXPECT_EQ(load(store), sample(4));
}

TEST_F(ArrangementStoreTest, ClearRemovesTheFileAndTheCacheButNotTheFolder) {
    ArrangementStore store;
    save(store, sample(2));
    loop.run(store.clear());
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_TRUE(fs::is_directory(folder()));
    EXPECT_EQ(capture.count("persistence", "Cleared arrangement file"), 1u);
    EXPECT_EQ(load(store), IconArrangement::empty());

    capture.clear();
    loop.run(store.clear());
    EXPECT_TRUE(capture.texts("persistence").empty()) << "nothing to clear, nothing logged";
    EXPECT_TRUE(fs::is_directory(folder()));
}

TEST_F(ArrangementStoreTest, AWriteThatFailsHalfwayLeavesThePreviousFileAndCache) {
    ArrangementStore store;
    save(store, sample(1));
    auto previous = read();

    ns::FileFaults faults;
    faults.writeFailsAfterBytes = 20;
    fileManager.setFaults(faults);
    capture.clear();
    EXPECT_THROW(save(store, sample(5)), ns::Error);
    fileManager.setFaults({});

    EXPECT_EQ(read(), previous);
    EXPECT_EQ(entriesInFolder(), 1u) << "the partial temporary file is gone";
    EXPECT_TRUE(capture.texts("persistence").empty()) << "the store itself logs no failure";
    EXPECT_EQ(load(store), sample(1)) << "the cache keeps the last saved arrangement";
    ArrangementStore other;
    EXPECT_EQ(load(other), sample(1));
}

TEST_F(ArrangementStoreTest, SaveThrowsWhenTheFolderWentAwayAfterTheStoreWasMade) {
    ArrangementStore store;
    fs::remove_all(folder());
    EXPECT_THROW(save(store, sample(1)), ns::Error);
    EXPECT_FALSE(fs::exists(folder())) << "the folder is made only when the store is";
    EXPECT_EQ(load(store), IconArrangement::empty());
}

TEST_F(ArrangementStoreTest, AFolderThatCannotBeMadeIsNoFailureUntilASave) {
    ns::FileFaults faults;
    faults.createDirectoryFails = true;
    fileManager.setFaults(faults);
    ArrangementStore store;
    fileManager.setFaults({});
    EXPECT_FALSE(fs::exists(folder()));
    EXPECT_EQ(load(store), IconArrangement::empty());
    EXPECT_THROW(save(store, sample(1)), ns::Error);
}

TEST_F(ArrangementStoreTest, AnArrangementWithoutAJSONFormIsNotSaved) {
    ArrangementStore store;
    save(store, sample(1));
    auto previous = read();
    EXPECT_THROW(save(store, sample(1, std::numeric_limits<double>::quiet_NaN())), EncodingError);
    EXPECT_EQ(read(), previous);
    EXPECT_EQ(load(store), sample(1));
}

namespace {
struct BadFile {
    const char* why;
    std::string contents;
};
std::ostream& operator<<(std::ostream& os, const BadFile& f) { return os << f.why; }

const BadFile badFiles[] = {
    {"not JSON", "this is not an arrangement"},
    {"empty", ""},
    {"truncated", R"({"assignments":{"com.a#0":"stashbay"},"lastModified":1.5,"sectionOrd)"},
    {"sectionOrders keyed by title", R"({"assignments":{},"lastModified":0,"sectionOrders":{"Visible":[]}})"},
    {"unknown visibility", R"({"assignments":{"com.a#0":"hidden"},"lastModified":0,"sectionOrders":[]})"},
    {"member missing", R"({"assignments":{},"sectionOrders":[]})"},
};

class ArrangementStoreBadFile : public ArrangementStoreTest, public ::testing::WithParamInterface<BadFile> {};
}  // namespace

TEST_P(ArrangementStoreBadFile, LoadThrowsCachesNothingAndLeavesTheFile) {
    ArrangementStore store;
    write(GetParam().contents);
    capture.clear();
    EXPECT_THROW(load(store), DecodingError);
    EXPECT_THROW(load(store), DecodingError) << "the next load tries the file again";
    EXPECT_EQ(read(), GetParam().contents);
    EXPECT_TRUE(capture.texts("persistence").empty());

    write(sample(2).encodedDocument());
    EXPECT_EQ(load(store), sample(2));
}
TEST_P(ArrangementStoreBadFile, TheFirstSaveAfterTheFailedLoadKeepsTheFileAside) {
    write(GetParam().contents);
    ArrangementStore store;
    EXPECT_THROW(load(store), DecodingError);
    save(store, sample(1));
    EXPECT_EQ(read(), sample(1).encodedDocument());
    EXPECT_EQ(readKept(), GetParam().contents);
    EXPECT_EQ(capture.texts("persistence", os::LogLevel::error),
              std::vector<std::string>{keptMessage(folder() / keptName)});

    save(store, sample(2));
    EXPECT_EQ(entriesInFolder(), 2u) << "only the first save moves a file aside";
    EXPECT_EQ(readKept(), GetParam().contents);
}
INSTANTIATE_TEST_SUITE_P(Cases, ArrangementStoreBadFile, ::testing::ValuesIn(badFiles));

TEST_F(ArrangementStoreTest, AnUnreadableOrOversizedFileIsKeptAsideAndAnEarlierKeptFileStays) {
    ArrangementStore store;
    // One that could not be opened.
    write(sample(3).encodedDocument());
    ns::FileFaults faults;
    faults.unreadable = {file()};
    fileManager.setFaults(faults);
    EXPECT_THROW(load(store), ns::Error);
    fileManager.setFaults({});
    save(store, sample(1));
    EXPECT_EQ(readKept(), sample(3).encodedDocument());

    // One far over any real arrangement is refused unread, and kept beside the first.
    fs::resize_file(file(), 300u * 1024 * 1024);
    loop.run(store.invalidateCache());
    try {
        load(store);
        FAIL() << "loaded";
    } catch (const ns::Error& error) {
        EXPECT_EQ(error.code(), ns::CocoaError::fileReadTooLarge);
    }
    save(store, sample(2));
    EXPECT_EQ(fs::file_size(folder() / (std::string(keptName) + "-2")), 300u * 1024 * 1024);
    EXPECT_EQ(readKept(), sample(3).encodedDocument()) << "the earlier kept file is not replaced";
    EXPECT_TRUE(
        capture.contains("persistence", os::LogLevel::error, keptMessage(folder() / (std::string(keptName) + "-2"))));
    EXPECT_EQ(load(store), sample(2));
}

TEST_F(ArrangementStoreTest, AFileUpToTheSizeLimitIsRead) {
    auto document = sample(2).encodedDocument();
    write(document + std::string(4 * 1024 * 1024 - document.size(), ' '));
    ArrangementStore store;
    EXPECT_EQ(load(store), sample(2));
    write(document + std::string(4 * 1024 * 1024 - document.size() + 1, ' '));
    loop.run(store.invalidateCache());
    EXPECT_THROW(load(store), ns::Error);
}

TEST_F(ArrangementStoreTest, AFileThatCannotBeKeptAsideIsNotSavedOver) {
    write("not an arrangement");
    ArrangementStore store;
    EXPECT_THROW(load(store), DecodingError);
    ns::FileFaults faults;
    faults.moveAsideFails = true;
    fileManager.setFaults(faults);
    EXPECT_THROW(save(store, sample(1)), ns::Error);
    fileManager.setFaults({});
    EXPECT_EQ(read(), "not an arrangement");
    ArrangementStore other;
    EXPECT_THROW(load(other), DecodingError);
    EXPECT_THROW(load(store), DecodingError) << "nothing was cached";
    save(store, sample(1));
    EXPECT_EQ(readKept(), "not an arrangement") << "the next save keeps it aside";
}

TEST_F(ArrangementStoreTest, NothingIsKeptAsideWhenTheFileWasMendedOrRemovedBeforeTheSave) {
    ArrangementStore store;
    write("not an arrangement");
    EXPECT_THROW(load(store), DecodingError);
    write(sample(2).encodedDocument());
    EXPECT_EQ(load(store), sample(2));
    save(store, sample(1));
    EXPECT_EQ(entriesInFolder(), 1u);

    loop.run(store.invalidateCache());
    write("not an arrangement");
    EXPECT_THROW(load(store), DecodingError);
    fs::remove(file());
    save(store, sample(1));
    EXPECT_EQ(entriesInFolder(), 1u);
    EXPECT_TRUE(capture.texts("persistence", os::LogLevel::error).empty());
}

TEST_F(ArrangementStoreTest, ASaveGoesThroughALinkedFileAndKeepsItsMode) {
    fs::create_directories(base / "synced");
    auto target = base / "synced" / "arrangement.json";
    {
        std::ofstream out(target);
        out << sample(1).encodedDocument();
    }
    fs::permissions(target, fs::perms(0600));
    fs::create_directories(folder());
    fs::create_symlink(target, file());

    ArrangementStore store;
    EXPECT_EQ(load(store), sample(1));
    save(store, sample(2));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(readFile(target), sample(2).encodedDocument());
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0600));

    // A linked file that could not be read is kept beside itself; the link stays.
    {
        std::ofstream out(target);
        out << "damaged";
    }
    loop.run(store.invalidateCache());
    EXPECT_THROW(load(store), DecodingError);
    save(store, sample(3));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(readFile(base / "synced" / keptName), "damaged");
    EXPECT_EQ(readFile(target), sample(3).encodedDocument());
}

TEST_F(ArrangementStoreTest, AnUnreadableFileThrowsTheReadErrorAndStaysUntouched) {
    ArrangementStore store;
    save(store, sample(2));
    auto previous = read();
    loop.run(store.invalidateCache());
    ns::FileFaults faults;
    faults.unreadable = {file()};
    fileManager.setFaults(faults);
    try {
        load(store);
        FAIL() << "loaded";
    } catch (const ns::Error& error) {
        EXPECT_EQ(error.code(), ns::CocoaError::fileReadNoPermission);
    }
    fileManager.setFaults({});
    EXPECT_EQ(read(), previous);
    EXPECT_EQ(load(store), sample(2)) << "nothing was cached by the failed load";
}

TEST_F(ArrangementStoreTest, WithoutApplicationSupportLoadsAreEmptyAndSavesThrow) {
    fileManager.setNoApplicationSupport(true);
    ArrangementStore store;
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::error,
                                 "No Application Support folder; the arrangement will not be saved"));
    EXPECT_EQ(load(store), IconArrangement::empty());
    EXPECT_THROW(save(store, sample(1)), ns::Error);
    EXPECT_EQ(load(store), IconArrangement::empty()) << "a failed save caches nothing";
    loop.run(store.clear());
    loop.run(store.invalidateCache());
    EXPECT_TRUE(fs::is_empty(base)) << "nothing was written anywhere";
}

namespace {
runtime::Task<bool> loadThenCheckExecutor(ArrangementStore* store) {
    auto loading = store->load();
    IconArrangement arrangement = co_await loading;
    co_return runtime::isOnMainExecutor() && arrangement == IconArrangement::empty();
}
}  // namespace

TEST_F(ArrangementStoreTest, CallersContinueOnTheirOwnExecutor) {
    ArrangementStore store;
    EXPECT_TRUE(loop.run(loadThenCheckExecutor(&store)));
}

namespace {
std::string errorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const ns::Error& error) {
        return error.localizedDescription();
    }
    return "no ns::Error";
}
}  // namespace

TEST_F(ArrangementStoreTest, ALinkToWhatIsNotARegularFileIsLeftAloneAndEverySaveSaysSo) {
    struct Case {
        const char* what;
        const char* kind;
        // Makes it at the path; answers false when the process may not.
        std::function<bool(const fs::path&)> make;
    } cases[] = {
        {"device", "a device",
         [](const fs::path& at) { return ::mknod(at.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0; }},
        {"fifo", "a fifo", [](const fs::path& at) { return ::mkfifo(at.c_str(), 0644) == 0; }},
        {"folder", "a folder", [](const fs::path& at) { return fs::create_directory(at); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(base);
        fs::create_directories(folder());
        fs::create_directories(base / "elsewhere");
        const auto target = base / "elsewhere" / "thing";
        if (!c.make(target)) continue;  // a device node needs root
        fs::create_symlink(target, file());
        ArrangementStore store;
        EXPECT_THROW(load(store), ns::Error);
        for (int attempt = 0; attempt < 2; ++attempt)
            EXPECT_EQ(errorText([&] { save(store, sample(1)); }),
                      "The file could not be moved aside \"" + file().string() + "\" (a link to \"" + target.string() +
                          "\"): that is " + c.kind + ", not a regular file");
        EXPECT_NE(fs::symlink_status(target).type(), fs::file_type::regular) << "still what it was";
        EXPECT_EQ(fs::read_symlink(file()), target);
        EXPECT_EQ(entriesInFolder(), 1u);
        EXPECT_EQ(std::distance(fs::directory_iterator(base / "elsewhere"), fs::directory_iterator{}), 1)
            << "nothing kept or written beside it";
    }
}

TEST_F(ArrangementStoreTest, AWriteThatFailsAfterTheUnreadableFileWasMovedAsidePutsItBack) {
    write("not an arrangement");
    ArrangementStore store;
    EXPECT_THROW(load(store), DecodingError);
    ns::FileFaults full;
    full.writeFailsAfterBytes = 0;
    fileManager.setFaults(full);
    EXPECT_EQ(errorText([&] { save(store, sample(1)); }),
              "The file could not be saved \"" + file().string() + "\": No space left on device");
    fileManager.setFaults({});
    EXPECT_EQ(read(), "not an arrangement");
    EXPECT_EQ(entriesInFolder(), 1u);
    EXPECT_TRUE(capture.texts("persistence", os::LogLevel::error).empty()) << "nothing was kept";

    save(store, sample(1));
    EXPECT_EQ(readKept(), "not an arrangement");
    EXPECT_EQ(read(), sample(1).encodedDocument());
}

TEST_F(ArrangementStoreTest, AFailedSaveSaysWhy) {
    ArrangementStore store;
    ns::FileFaults readOnly;
    readOnly.readOnlyFolders = {folder()};
    fileManager.setFaults(readOnly);
    EXPECT_EQ(errorText([&] { save(store, sample(1)); }),
              "The file could not be saved \"" + file().string() + "\": Permission denied");
    fileManager.setFaults({});
    fs::remove_all(folder());
    EXPECT_EQ(errorText([&] { save(store, sample(1)); }),
              "The file could not be saved \"" + file().string() + "\": No such file or directory");
    {
        std::ofstream out(folder());
        out << "a file where the folder was";
    }
    EXPECT_EQ(errorText([&] { save(store, sample(1)); }),
              "The file could not be saved \"" + file().string() + "\": Not a directory");
}
