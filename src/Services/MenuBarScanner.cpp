#include "Services/MenuBarScanner.hpp"

#include "Services/IdleHeapTrim.hpp"

#include "Persistence/UserPreferences.hpp"
#include "Utilities/LoggerExtensions.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <algorithm>
#include <cmath>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <memory_resource>
#include <unordered_set>

namespace stashbay {

using namespace std::chrono_literals;

namespace {
// Every scan allocates and frees buffers the size of its snapshot. By default glibc hands the
// freed top of the heap back to the system after each scan and faults it in again on the next;
// keep a few megabytes instead, and serve blocks up to a megabyte from the heap, not from maps.
void keepHeapBetweenScans() {
#if defined(__GLIBC__)
    static const bool tuned = [] {
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        mallopt(M_TRIM_THRESHOLD, 8 << 20);
        return true;
    }();
    (void)tuned;
#endif
}

// A wait from seconds, held within 0 ... a day so that every value is a duration.
runtime::Duration boundedWait(double seconds) {
    if (std::isnan(seconds) || seconds <= 0) return runtime::Duration::zero();
    return runtime::durationFromSeconds(std::min(seconds, MenuBarScanner::longestWait));
}
}  // namespace

CGImageCacheEntry::CGImageCacheEntry(cg::ImageRef image)
    : image_(std::move(image)), capturedAt_(runtime::currentDate()) {}

bool CGImageCacheEntry::isExpired(double ttl) const {
    return runtime::currentDate().timeIntervalSince(capturedAt_) > ttl;
}

// The constructor is private: the weak references that the service hands its tasks need a
// std::shared_ptr owner from the start.
std::shared_ptr<MenuBarScanner> MenuBarScanner::create() { return create(IdleHeapTrim::shared()); }

std::shared_ptr<MenuBarScanner> MenuBarScanner::create(std::shared_ptr<IdleHeapTrim> heapTrim) {
    return std::shared_ptr<MenuBarScanner>(new MenuBarScanner(std::move(heapTrim)));
}

MenuBarScanner::MenuBarScanner(std::shared_ptr<IdleHeapTrim> heapTrim)
    : logger_(log::scanning()), heapTrim_(std::move(heapTrim)) {
    keepHeapBetweenScans();
    imageCache_.setCountLimit(100);
    imageCache_.setTotalCostLimit(5242880);
}

runtime::Duration MenuBarScanner::idleScanInterval() const {
    double stored = ns::UserDefaults::standard().doubleForKey(UserPreferences::Keys::scanInterval);
    // Zero, negative, not-a-number and a missing key all give the default.
    if (!(stored > 0)) return 2s;
    return boundedWait(stored);
}

runtime::Task<MenuBarScanner::SnapshotStream> MenuBarScanner::startScanning() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.startScanning");
    stopNow();
    auto [stream, continuation] = SnapshotStream::make(runtime::BufferingPolicy::bufferingNewest(1));
    continuation_ = continuation;
    isRunning_ = true;
    scanTask_ = runtime::spawn(runtime::globalExecutor(), scanLoop(weak_from_this()));
    logger_.info("Menu bar scanning started");
    co_return std::move(stream);
}

runtime::Task<void> MenuBarScanner::stopScanning() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.stopScanning");
    stopNow();
}

void MenuBarScanner::stopNow() {
    runtime::assertIsolated(executor_, "MenuBarScanner.stopScanning");
    isRunning_ = false;
    if (scanTask_) scanTask_.cancel();
    scanTask_ = {};
    if (pauseTask_) pauseTask_.cancel();
    pauseTask_ = {};
    // A cancelled pause timer never clears the flag; a later start must not stay paused.
    isPaused_ = false;
    if (continuation_) continuation_->finish();
    continuation_.reset();
    logger_.info("Menu bar scanning stopped");
}

runtime::Task<void> MenuBarScanner::setPanelOpen(bool open) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.setPanelOpen");
    isPanelOpen_ = open;
    logger_.debug("Panel open state changed to %{bool}d", open);
}

runtime::Task<void> MenuBarScanner::triggerRescan() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.triggerRescan");
    immediateRescanRequested_ = true;
}

runtime::Task<bool> MenuBarScanner::checkAndClearRescanRequest() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.checkAndClearRescanRequest");
    bool requested = immediateRescanRequested_;
    immediateRescanRequested_ = false;
    co_return requested;
}

runtime::Task<void> MenuBarScanner::pauseFor(double seconds) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.pauseFor");
    isPaused_ = true;
    if (pauseTask_) pauseTask_.cancel();
    logger_.debug("Scanning paused for %fs", seconds);
    pauseTask_ = runtime::spawn(executor_, pauseTimer(weak_from_this(), boundedWait(seconds)));
}

runtime::Task<void> MenuBarScanner::pauseTimer(std::weak_ptr<MenuBarScanner> weak, runtime::Duration wait) {
    auto sleeping = runtime::sleepFor(wait);
    co_await sleeping;
    if (runtime::isCancelled()) co_return;
    auto scanner = weak.lock();
    if (!scanner) co_return;
    runtime::assertIsolated(scanner->executor_, "MenuBarScanner.pauseFor");
    scanner->isPaused_ = false;
    scanner->logger_.debug("Scanning resumed");
}

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::scanOnce() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.scanOnce");
    auto scanning = performScan();
    co_return co_await scanning;
}

runtime::Task<bool> MenuBarScanner::isPaused() { return readIsPaused(); }

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::hybridDetectForTesting() { return hybridDetect(); }

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::captureIconsForTesting(Snapshot items) {
    return captureIcons(std::move(items));
}

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::debounceForTesting(Snapshot items) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.debounceForTesting");
    Snapshot result = debounce(std::move(items));
    previousItems_ = result;
    co_return result;
}

runtime::Task<std::unordered_map<MenuBarItemID, int>> MenuBarScanner::absenceCountersForTesting() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.absenceCountersForTesting");
    co_return absenceCounters_;
}

runtime::Task<std::size_t> MenuBarScanner::imageCacheCountForTesting() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.imageCacheCountForTesting");
    co_return imageCache_.count();
}

runtime::Task<bool> MenuBarScanner::readIsRunning() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.readIsRunning");
    co_return isRunning_;
}

runtime::Task<bool> MenuBarScanner::readIsPaused() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.readIsPaused");
    co_return isPaused_;
}

runtime::Task<std::optional<MenuBarScanner::SnapshotStream::Continuation>> MenuBarScanner::readContinuation() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.readContinuation");
    co_return continuation_;
}

runtime::Task<runtime::Duration> MenuBarScanner::readNextWait() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.readNextWait");
    if (isPanelOpen_) co_return activeScanInterval;
    co_return idleScanInterval();
}

runtime::Task<void> MenuBarScanner::scanLoop(std::weak_ptr<MenuBarScanner> weak) {
    auto scanner = weak.lock();
    if (!scanner) co_return;
    for (;;) {
        if (runtime::isCancelled()) break;
        auto readingRunning = scanner->readIsRunning();
        bool running = co_await readingRunning;
        if (!running) break;
        auto readingPaused = scanner->readIsPaused();
        bool paused = co_await readingPaused;
        if (paused) {
            auto pausing = runtime::sleepFor(200ms);
            co_await pausing;
            continue;
        }
        auto scanning = scanner->performScan();
        Snapshot result = co_await scanning;
        auto readingContinuation = scanner->readContinuation();
        auto continuation = co_await readingContinuation;
        if (continuation) continuation->yield(std::move(result));
        auto checkingRescan = scanner->checkAndClearRescanRequest();
        bool rescan = co_await checkingRescan;
        if (rescan) continue;
        auto readingWait = scanner->readNextWait();
        runtime::Duration wait = co_await readingWait;
        scanner->heapTrim_->scannerGoesIdle();
        auto sleeping = runtime::sleepFor(wait);
        co_await sleeping;
    }
}

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::performScan() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.performScan");
    const runtime::Instant start = runtime::now();
    auto detecting = hybridDetect();
    Snapshot detected = co_await detecting;
    auto capturing = captureIcons(std::move(detected));
    Snapshot withIcons = co_await capturing;
    Snapshot result = debounce(std::move(withIcons));
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(runtime::now() - start);
    long count = static_cast<long>(result.size());
    long long millis = static_cast<long long>(elapsed.count());
    logger_.debug("Scan completed: %ld items in %lldms", count, millis);
    if (result.empty()) logger_.error("Scan returned 0 items — possible permissions issue");
    runtime::assertIsolated(executor_, "MenuBarScanner.performScan");
    previousItems_ = result;
    co_return result;
}

namespace {
// Sets of identities by reference into the snapshots, so that no identity is copied.
struct IdentityHash {
    std::size_t operator()(const MenuBarItemID* id) const { return std::hash<MenuBarItemID>{}(*id); }
};
struct SameIdentity {
    bool operator()(const MenuBarItemID* a, const MenuBarItemID* b) const { return *a == *b; }
};
}  // namespace

MenuBarScanner::Snapshot MenuBarScanner::debounce(Snapshot items) {
    runtime::assertIsolated(executor_, "MenuBarScanner.debounce");
    // The usual scan finds the last result's items again, in the same order: none is absent, none
    // is carried, so no counter stays, and nothing needs hashing.
    if (items.size() == previousItems_.size() &&
        std::equal(items.begin(), items.end(), previousItems_.begin(),
                   [](const MenuBarItem& a, const MenuBarItem& b) { return a.id() == b.id(); })) {
        absenceCounters_.clear();
        return items;
    }
    std::pmr::monotonic_buffer_resource arena(256 + (items.size() + previousItems_.size()) * 48);
    std::pmr::unordered_set<const MenuBarItemID*, IdentityHash, SameIdentity> present(&arena);
    present.reserve(items.size() + previousItems_.size());
    for (const auto& item : items) present.insert(&item.id());
    if (!absenceCounters_.empty())
        for (const auto* id : present) absenceCounters_.erase(*id);

    std::pmr::vector<const MenuBarItem*> carried(&arena);
    for (const auto& previous : previousItems_) {
        if (present.count(&previous.id())) continue;
        int n = 1;
        if (auto it = absenceCounters_.find(previous.id()); it != absenceCounters_.end()) n = it->second + 1;
        absenceCounters_[previous.id()] = n;
        const std::string& name = previous.displayName();
        long absent = n;
        long threshold = debounceThreshold;
        if (n < debounceThreshold) {
            carried.push_back(&previous);
            logger_.debug("Debouncing %s: absent %ld/%ld", name, absent, threshold);
        } else {
            absenceCounters_.erase(previous.id());
            logger_.debug("Dropped %s after %ld absent scans", name, absent);
        }
    }
    // What stays counted: the present items and the carried ones.
    auto& kept = present;
    for (const auto* item : carried) kept.insert(&item->id());
    std::erase_if(absenceCounters_, [&](const auto& entry) { return !kept.count(&entry.first); });

    items.reserve(items.size() + carried.size());
    for (const auto* item : carried) items.push_back(*item);
    return items;
}

}  // namespace stashbay
