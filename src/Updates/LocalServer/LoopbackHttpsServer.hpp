#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace testing_https {

// A self-signed certificate for 127.0.0.1 and its key, made by the openssl command.
struct TestCertificate {
    std::string certificatePEM;
    std::filesystem::path certificatePath;
    std::filesystem::path keyPath;
};

// Whether the openssl command runs here.
bool opensslCommandAvailable();
// Makes `name`.pem and `name`.key in `folder`; none when the command fails.
std::optional<TestCertificate> makeTestCertificate(const std::filesystem::path& folder, const std::string& name);

// An HTTP/1.1 server over TLS on 127.0.0.1 with a port of its own, answering GET requests from a
// table of routes, one connection at a time, on a thread of its own. Unknown paths get a 404.
class LoopbackHttpsServer {
public:
    struct Response {
        int status = 200;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
    };

    explicit LoopbackHttpsServer(const TestCertificate& certificate);
    ~LoopbackHttpsServer();
    LoopbackHttpsServer(const LoopbackHttpsServer&) = delete;
    LoopbackHttpsServer& operator=(const LoopbackHttpsServer&) = delete;

    void route(const std::string& path, Response response);
    // While held, a request is read and recorded but not answered, so a test can see its client
    // waiting whatever the machine's load.
    void holdAnswers(bool held);
    // "https://127.0.0.1:<port><path>".
    std::string url(std::string_view path) const;
    int port() const { return port_; }
    // The paths requested so far, in order.
    std::vector<std::string> requests() const;
    // Requests answered to their end, the client's hang-up included.
    std::size_t answered() const { return answered_.load(); }
    // Body bytes of the last answered response that the connection took before it ended.
    std::size_t lastBodyBytesSent() const { return lastBodyBytesSent_.load(); }

private:
    void serve();
    void answer(int connection);

    SSL_CTX* context_ = nullptr;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> answered_{0};
    std::atomic<std::size_t> lastBodyBytesSent_{0};
    mutable std::mutex mutex_;
    std::condition_variable heldChanged_;
    bool held_ = false;
    std::map<std::string, Response> routes_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A TCP listener on 127.0.0.1 that never accepts and so never answers: connections complete in
// the kernel's backlog and then hear nothing.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::string url(std::string_view path) const;

private:
    int listener_ = -1;
    int port_ = 0;
};

}  // namespace testing_https
