#pragma once

#include "Models/MenuBarItem.hpp"
#include "Models/MenuBarItemID.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "macos/Foundation/Cache.hpp"
#include "macos/os/Logger.hpp"
#include "stashbay/runtime/Stream.hpp"
#include "stashbay/runtime/Task.hpp"
#include "stashbay/runtime/Time.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace stashbay {

class IdleHeapTrim;

// One cached window image and when it was captured.
class CGImageCacheEntry {
public:
    explicit CGImageCacheEntry(cg::ImageRef image);
    const cg::ImageRef& image() const { return image_; }
    runtime::Date capturedAt() const { return capturedAt_; }
    // Older than `ttl` seconds; an entry exactly `ttl` old is still fresh.
    bool isExpired(double ttl) const;

private:
    cg::ImageRef image_;
    runtime::Date capturedAt_;
};

// Finds the menu bar's status items over and over and streams every snapshot to one consumer.
// An actor: its state lives on its own executor and every operation is asynchronous. Owned by
// one std::shared_ptr, which only create() makes; the scan loop holds it weakly until it first runs.
class MenuBarScanner : public std::enable_shared_from_this<MenuBarScanner> {
public:
    using Snapshot = std::vector<MenuBarItem>;
    using SnapshotStream = runtime::AsyncStream<Snapshot>;

    static constexpr runtime::Duration activeScanInterval = std::chrono::milliseconds(500);
    static constexpr double positionTolerance = 4.0;
    static constexpr int debounceThreshold = 3;
    static constexpr double imageCacheTTL = 30.0;
    // Waits longer than a day are cut to a day: a stored interval or pause of that size (or an
    // infinite one) would otherwise have no duration.
    static constexpr double longestWait = 86400.0;

    static std::shared_ptr<MenuBarScanner> create();
    // One whose idle trims go to `heapTrim` rather than the process's shared one.
    static std::shared_ptr<MenuBarScanner> create(std::shared_ptr<IdleHeapTrim> heapTrim);
    MenuBarScanner(const MenuBarScanner&) = delete;
    MenuBarScanner& operator=(const MenuBarScanner&) = delete;

    // Stops any running loop (its stream ends), then starts a new loop and returns its stream.
    runtime::Task<SnapshotStream> startScanning();
    runtime::Task<void> stopScanning();
    runtime::Task<void> setPanelOpen(bool open);
    runtime::Task<void> triggerRescan();
    runtime::Task<void> pauseFor(double seconds);
    // One scan whose result is not published.
    runtime::Task<Snapshot> scanOnce();

    // The wait between idle scans: "scanInterval" from the user defaults when above 0, else 2 s.
    runtime::Duration idleScanInterval() const;

    // For tests and the benchmark: the state and the three steps of one scan, one at a time.
    runtime::Task<bool> isPaused();
    runtime::Task<Snapshot> hybridDetectForTesting();
    runtime::Task<Snapshot> captureIconsForTesting(Snapshot items);
    runtime::Task<Snapshot> debounceForTesting(Snapshot items);
    runtime::Task<std::unordered_map<MenuBarItemID, int>> absenceCountersForTesting();
    runtime::Task<std::size_t> imageCacheCountForTesting();

private:
    explicit MenuBarScanner(std::shared_ptr<IdleHeapTrim> heapTrim);

    static runtime::Task<void> scanLoop(std::weak_ptr<MenuBarScanner> weak);
    static runtime::Task<void> pauseTimer(std::weak_ptr<MenuBarScanner> weak, runtime::Duration wait);

    // Small calls the loop makes onto the scanner's executor.
    runtime::Task<bool> readIsRunning();
    runtime::Task<bool> readIsPaused();
    runtime::Task<std::optional<SnapshotStream::Continuation>> readContinuation();
    runtime::Task<runtime::Duration> readNextWait();
    runtime::Task<bool> checkAndClearRescanRequest();

    runtime::Task<Snapshot> performScan();
    runtime::Task<Snapshot> hybridDetect();
    runtime::Task<Snapshot> captureIcons(Snapshot items);
    Snapshot debounce(Snapshot items);

    void stopNow();

    runtime::SerialExecutor executor_{"MenuBarScanner"};
    bool isRunning_ = false;
    bool isPanelOpen_ = false;
    bool isPaused_ = false;
    runtime::TaskHandle<> scanTask_;
    runtime::TaskHandle<> pauseTask_;
    std::optional<SnapshotStream::Continuation> continuation_;
    std::unordered_map<MenuBarItemID, int> absenceCounters_;
    Snapshot previousItems_;
    ns::Cache<std::uint32_t, std::shared_ptr<const CGImageCacheEntry>> imageCache_;
    const os::Logger& logger_;
    // Set once: the loop reads it off the scanner's executor.
    const std::shared_ptr<IdleHeapTrim> heapTrim_;
    bool immediateRescanRequested_ = false;
    // Whether the last icon capture visited the items from the end (only above the cache's limit).
    bool lastCaptureVisitedBackwards_ = false;
};

}  // namespace stashbay
