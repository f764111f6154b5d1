#pragma once

#include "Models/DisplayInfo.hpp"
#include "macos/Foundation/NotificationCenter.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Stream.hpp"
#include "stashbay/runtime/Task.hpp"
#include "stashbay/runtime/Time.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace stashbay {

// Follows the screen configuration and publishes the list of displays: once when monitoring
// starts, then once each time screen-change notifications have been quiet for 500 ms, so that a
// burst of notifications gives one list. An actor: every operation runs on the manager's own
// serial executor.
//
// It lives in a std::shared_ptr held by its owner (only create() makes one); the tasks and the notification block it
// starts hold it weakly, so they never keep it alive (a pending settle wait holds it until it ends).
class DisplayManager : public std::enable_shared_from_this<DisplayManager> {
public:
    // Keeps only the newest unread list, so a slow consumer always gets the latest one.
    using DisplayStream = runtime::AsyncStream<std::vector<DisplayInfo>>;

    static constexpr runtime::Duration settleDelay = std::chrono::milliseconds(500);

    static std::shared_ptr<DisplayManager> create();
    // Ends an open stream, so that its consumer does not wait forever, and removes the observer.
    ~DisplayManager();
    DisplayManager(const DisplayManager&) = delete;
    DisplayManager& operator=(const DisplayManager&) = delete;

    // (Re)starts monitoring: ends the previous stream and returns a new one, whose first list
    // arrives shortly, without any screen change.
    runtime::Task<DisplayStream> startMonitoring();
    // Ends monitoring and the current stream; safe at any time.
    runtime::Task<void> stopMonitoring();
    // The last list published (kept across stop and restart); empty before the first.
    runtime::Task<std::vector<DisplayInfo>> currentDisplays();
    // The first main display of the last list; none when it has none. Does not read the screens.
    runtime::Task<std::optional<DisplayInfo>> menuBarDisplay();

private:
    DisplayManager() = default;

    runtime::Task<void> handleDisplayChange();
    runtime::Task<void> updateDisplays(std::vector<DisplayInfo> displays);
    // stopMonitoring's body, for a caller already on the executor.
    void stop();

    static runtime::Task<void> readInitialDisplays(std::weak_ptr<DisplayManager> weakSelf);
    static runtime::Task<void> forwardDisplayChange(std::weak_ptr<DisplayManager> weakSelf);
    static runtime::Task<void> settle(std::weak_ptr<DisplayManager> weakSelf);

    runtime::SerialExecutor executor_{"DisplayManager"};
    std::vector<DisplayInfo> displays_;
    std::optional<DisplayStream::Continuation> continuation_;
    ns::NotificationObserverToken notificationObserver_;
    runtime::TaskHandle<void> settleTask_;
    bool isMonitoring_ = false;
};

}  // namespace stashbay
