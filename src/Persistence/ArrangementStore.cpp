#include "Persistence/ArrangementStore.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/Foundation/Error.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "stashbay/BuildInfo.hpp"

#include <string>

namespace stashbay {

namespace {
constexpr const char* fileName = "arrangement.json";
// Far above any real arrangement; a larger file is refused unread rather than held in memory.
constexpr std::size_t maxFileSize = 4 * 1024 * 1024;
}  // namespace

ArrangementStore::ArrangementStore() {
    auto& fileManager = ns::FileManager::defaultManager();
    auto bases = fileManager.urls(ns::SearchPathDirectory::applicationSupport, ns::SearchPathDomainMask::user);
    if (bases.empty()) {
        // The platform always has one; here a user without a data folder gets an empty
        // arrangement on every load and an error on every save.
        log::persistence().error("No Application Support folder; the arrangement will not be saved");
        return;
    }
    auto folder = bases.front() / build::bundleIdentifier;
    try {
        fileManager.createDirectory(folder, /*withIntermediateDirectories=*/true);
    } catch (const ns::Error&) {
        // Ignored on purpose: save() reports the write error when the folder is missing.
    }
    fileURL_ = folder / fileName;
    std::string path = fileURL_->string();
    log::persistence().debug("ArrangementStore path: %s", path);
}

runtime::Task<IconArrangement> ArrangementStore::load() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "ArrangementStore.load");
    if (cachedArrangement_) co_return *cachedArrangement_;

    auto& fileManager = ns::FileManager::defaultManager();
    if (!fileURL_ || !fileManager.fileExists(*fileURL_)) {
        unreadableFileOnDisk_ = false;
        log::persistence().info("No arrangement file found; returning empty arrangement");
        co_return IconArrangement::empty();
    }
    std::optional<IconArrangement> decoded;
    try {
        std::string data = fileManager.contents(*fileURL_, maxFileSize);
        decoded = IconArrangement::decodeDocument(data);
    } catch (...) {
        // The caller goes on with the empty arrangement; its first save must not take the
        // person's file with it.
        unreadableFileOnDisk_ = true;
        throw;
    }
    unreadableFileOnDisk_ = false;
    IconArrangement arrangement = std::move(*decoded);
    cachedArrangement_ = arrangement;
    long count = static_cast<long>(arrangement.assignments().size());
    log::persistence().info("Loaded arrangement with %ld assignments", count);
    co_return arrangement;
}

runtime::Task<void> ArrangementStore::save(IconArrangement arrangement) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "ArrangementStore.save");
    std::string data = arrangement.encodedDocument();
    if (!fileURL_)
        throw ns::Error(ns::cocoaErrorDomain, ns::CocoaError::fileNoSuchFile,
                        "The arrangement could not be saved because there is no Application Support folder.");
    auto& fileManager = ns::FileManager::defaultManager();
    std::optional<std::filesystem::path> kept;
    // A failed move throws: the file that could not be read is not saved over.
    if (unreadableFileOnDisk_ && fileManager.fileExists(*fileURL_))
        kept = fileManager.moveAside(*fileURL_, "unreadable");
    try {
        fileManager.writeAtomically(*fileURL_, data);
    } catch (const ns::Error&) {
        // A failed save leaves things as they were: the kept file goes back, to be kept next time.
        if (kept) putBack(*kept);
        throw;
    }
    if (kept) {
        std::string path = fileURL_->string();
        std::string keptPath = kept->string();
        log::persistence().error("The arrangement file %s could not be read; kept it as %s", path, keptPath);
    }
    unreadableFileOnDisk_ = false;
    cachedArrangement_ = arrangement;
    long count = static_cast<long>(arrangement.assignments().size());
    log::persistence().info("Saved arrangement with %ld assignments", count);
}

void ArrangementStore::putBack(const std::filesystem::path& kept) {
    try {
        ns::FileManager::defaultManager().putBack(kept, *fileURL_);
    } catch (const ns::Error& error) {
        // It stays where it was kept, and nothing stands at the file's place to be kept again.
        unreadableFileOnDisk_ = false;
        std::string keptPath = kept.string();
        log::persistence().error("The arrangement file that could not be read stays kept as %s (%@)", keptPath, error);
    }
}

runtime::Task<void> ArrangementStore::clear() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "ArrangementStore.clear");
    cachedArrangement_.reset();
    auto& fileManager = ns::FileManager::defaultManager();
    if (!fileURL_ || !fileManager.fileExists(*fileURL_)) co_return;
    fileManager.removeItem(*fileURL_);
    unreadableFileOnDisk_ = false;
    log::persistence().info("Cleared arrangement file");
}

runtime::Task<void> ArrangementStore::invalidateCache() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "ArrangementStore.invalidateCache");
    cachedArrangement_.reset();
}

}  // namespace stashbay
