#pragma once

#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Time.hpp"

#include <coroutine>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace stashbay {

// One GET of the update manifest over HTTPS.
struct ManifestRequest {
    std::string url;
    // PEM certificates trusted instead of the system's store; none means the system's store.
    std::optional<std::string> trustAnchorPEM;
    runtime::Duration connectTimeout = std::chrono::seconds(10);
    runtime::Duration totalTimeout = std::chrono::seconds(10);
};

// What came back: an error, or the final response's status and, for status 200 only, its body.
struct ManifestResponse {
    // The failed request's description; absent when a response arrived.
    std::optional<std::string> error;
    long status = 0;
    std::string body;
};

// The most a manifest body may hold. A larger one fails the request, and the transfer stops
// there: the manifest is a few hundred bytes, and an endless body must not fill the memory.
inline constexpr std::size_t maximumManifestSize = 64 * 1024;
// Redirects followed, each to https only.
inline constexpr long maximumManifestRedirects = 5;

// Runs the request with libcurl on the calling thread: a handle of its own that keeps no cookie,
// cache or credential, TLS verified, https the only protocol (redirects included). A body is read
// only for status 200.
ManifestResponse performManifestRequest(const ManifestRequest& request);

namespace detail {
// Shared by an awaiting coroutine and the worker thread that answers it.
struct ManifestDelivery {
    std::mutex mutex;
    bool awaiterAlive = true;  // false once the awaiting frame is gone
    runtime::EventLoop* loop = nullptr;
    std::coroutine_handle<> handle;
    runtime::Executor* executor = nullptr;
    std::shared_ptr<runtime::TaskContext> context;
    ManifestResponse response;
};
}  // namespace detail

// Awaits a request run on a worker thread of its own; the coroutine continues on its executor
// through the loop's thread-safe post, so the loop never blocks. The worker holds only shared
// state: when the awaiting frame is destroyed first (the task or the whole loop torn down), the
// worker finishes its request and drops the answer.
class ManifestFetch {
public:
    explicit ManifestFetch(ManifestRequest request) : request_(std::move(request)) {}
    ~ManifestFetch();
    ManifestFetch(const ManifestFetch&) = delete;
    ManifestFetch& operator=(const ManifestFetch&) = delete;

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> handle);
    ManifestResponse await_resume() { return std::move(delivery_->response); }

    // Worker threads not yet ended, for tests that must outlive every request they started.
    static std::size_t workersRunning();

private:
    ManifestRequest request_;
    std::shared_ptr<detail::ManifestDelivery> delivery_;
};

}  // namespace stashbay
