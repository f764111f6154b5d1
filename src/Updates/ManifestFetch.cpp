#include "Updates/ManifestFetch.hpp"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace stashbay {

namespace {

std::atomic<std::size_t> gWorkersRunning{0};

// Counts a worker from its start to its very end.
class WorkerCount {
public:
    WorkerCount() { ++gWorkersRunning; }
    ~WorkerCount() { --gWorkersRunning; }
    WorkerCount(const WorkerCount&) = delete;
    WorkerCount& operator=(const WorkerCount&) = delete;
};

void initializeCurlOnce() {
    // Not thread-safe in every build of libcurl, so it runs before any worker starts.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct BodySink {
    CURL* handle = nullptr;
    std::string body;
    bool tooLarge = false;
    bool notOK = false;
};

std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& sink = *static_cast<BodySink*>(user);
    std::size_t length = size * count;
    long status = 0;
    curl_easy_getinfo(sink.handle, CURLINFO_RESPONSE_CODE, &status);
    // Only a 200 is decoded, so any other final response ends here, whatever its body holds.
    if (status != 200) {
        sink.notOK = true;
        return 0;
    }
    if (length > maximumManifestSize - sink.body.size()) {
        sink.tooLarge = true;
        return 0;
    }
    sink.body.append(data, length);
    return length;
}

long milliseconds(runtime::Duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

ManifestResponse performManifestRequest(const ManifestRequest& request) {
    std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle) return {"The request could not be started.", 0, {}};
    CURL* curl = handle.get();
    char errorText[CURL_ERROR_SIZE] = {};
    BodySink sink{curl, {}, false, false};

    // The request's safety rests on these options: a handle that refused one is never run.
    const char* refused = nullptr;
    CURLcode refusal = CURLE_OK;
    auto set = [&](CURLoption option, const char* name, auto value) {
        if (refused) return;
        refusal = curl_easy_setopt(curl, option, value);
        if (refusal != CURLE_OK) refused = name;
    };
    set(CURLOPT_ERRORBUFFER, "CURLOPT_ERRORBUFFER", errorText);
    set(CURLOPT_URL, "CURLOPT_URL", request.url.c_str());
    set(CURLOPT_HTTPGET, "CURLOPT_HTTPGET", 1L);
    set(CURLOPT_PROTOCOLS_STR, "CURLOPT_PROTOCOLS_STR", "https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "CURLOPT_REDIR_PROTOCOLS_STR", "https");
    set(CURLOPT_FOLLOWLOCATION, "CURLOPT_FOLLOWLOCATION", 1L);
    set(CURLOPT_MAXREDIRS, "CURLOPT_MAXREDIRS", maximumManifestRedirects);
    set(CURLOPT_CONNECTTIMEOUT_MS, "CURLOPT_CONNECTTIMEOUT_MS", milliseconds(request.connectTimeout));
    set(CURLOPT_TIMEOUT_MS, "CURLOPT_TIMEOUT_MS", milliseconds(request.totalTimeout));
    set(CURLOPT_SSL_VERIFYPEER, "CURLOPT_SSL_VERIFYPEER", 1L);
    set(CURLOPT_SSL_VERIFYHOST, "CURLOPT_SSL_VERIFYHOST", 2L);
    // Signals are process-wide; a worker thread must not touch them.
    set(CURLOPT_NOSIGNAL, "CURLOPT_NOSIGNAL", 1L);
    // No connection, session or DNS entry outlives the handle, and no credential is looked up.
    set(CURLOPT_NETRC, "CURLOPT_NETRC", static_cast<long>(CURL_NETRC_IGNORED));
    set(CURLOPT_SSL_SESSIONID_CACHE, "CURLOPT_SSL_SESSIONID_CACHE", 0L);
    set(CURLOPT_WRITEFUNCTION, "CURLOPT_WRITEFUNCTION", receiveBody);
    set(CURLOPT_WRITEDATA, "CURLOPT_WRITEDATA", static_cast<void*>(&sink));
    curl_blob anchor{};
    if (request.trustAnchorPEM) {
        anchor = curl_blob{const_cast<char*>(request.trustAnchorPEM->data()), request.trustAnchorPEM->size(),
                           CURL_BLOB_COPY};
        set(CURLOPT_CAINFO_BLOB, "CURLOPT_CAINFO_BLOB", &anchor);
        set(CURLOPT_CAPATH, "CURLOPT_CAPATH", static_cast<const char*>(nullptr));
    }
    if (refused) {
        return {std::string("The request refused the option ") + refused + ": " + curl_easy_strerror(refusal), 0, {}};
    }

    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (sink.notOK) return {std::nullopt, status, {}};
    if (sink.tooLarge) {
        return {"The response is larger than " + std::to_string(maximumManifestSize) + " bytes.", status, {}};
    }
    if (result != CURLE_OK) return {errorText[0] ? std::string(errorText) : curl_easy_strerror(result), status, {}};
    return {std::nullopt, status, std::move(sink.body)};
}

std::size_t ManifestFetch::workersRunning() { return gWorkersRunning.load(); }

ManifestFetch::~ManifestFetch() {
    if (!delivery_) return;
    std::lock_guard lock(delivery_->mutex);
    delivery_->awaiterAlive = false;
}

bool ManifestFetch::await_suspend(std::coroutine_handle<> handle) {
    initializeCurlOnce();
    delivery_ = std::make_shared<detail::ManifestDelivery>();
    delivery_->loop = &runtime::EventLoop::current();
    delivery_->handle = handle;
    delivery_->executor = &runtime::currentExecutor();
    delivery_->context = runtime::currentContext();
    try {
        auto count = std::make_shared<WorkerCount>();
        std::thread([delivery = delivery_, request = request_, count = std::move(count)] {
            ManifestResponse response = performManifestRequest(request);
            // Held while posting: the awaiting frame, and the loop that destroys it, wait for it.
            std::lock_guard lock(delivery->mutex);
            if (!delivery->awaiterAlive) return;
            delivery->response = std::move(response);
            delivery->loop->post(runtime::Job{delivery->executor, delivery->context, [delivery] {
                                                  bool alive = false;
                                                  {
                                                      std::lock_guard lock(delivery->mutex);
                                                      alive = delivery->awaiterAlive;
                                                  }
                                                  if (alive) delivery->handle.resume();
                                              }});
        }).detach();
    } catch (const std::system_error& error) {
        delivery_->response.error = std::string("The request could not be started: ") + error.what();
        return false;
    }
    return true;
}

}  // namespace stashbay
