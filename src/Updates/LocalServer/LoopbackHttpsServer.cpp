#include "Updates/LocalServer/LoopbackHttpsServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_https {

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A listening socket on 127.0.0.1 with a port the kernel picks.
std::pair<int, int> listenOnLoopback() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("listen failed");
    }
    return {fd, ntohs(address.sin_port)};
}

std::string reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 302: return "Found";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

}  // namespace

bool opensslCommandAvailable() { return std::system("openssl version >/dev/null 2>&1") == 0; }

std::optional<TestCertificate> makeTestCertificate(const std::filesystem::path& folder, const std::string& name) {
    TestCertificate certificate{{}, folder / (name + ".pem"), folder / (name + ".key")};
    std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
        "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        certificate.keyPath.string() + "' -out '" + certificate.certificatePath.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    certificate.certificatePEM = readFile(certificate.certificatePath);
    if (certificate.certificatePEM.empty()) return std::nullopt;
    return certificate;
}

LoopbackHttpsServer::LoopbackHttpsServer(const TestCertificate& certificate) {
    // A client that hangs up mid-body must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    context_ = SSL_CTX_new(TLS_server_method());
    if (!context_ ||
        SSL_CTX_use_certificate_file(context_, certificate.certificatePath.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, certificate.keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(context_);
        throw std::runtime_error("server certificate not usable");
    }
    std::tie(listener_, port_) = listenOnLoopback();
    thread_ = std::thread([this] { serve(); });
}

LoopbackHttpsServer::~LoopbackHttpsServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    heldChanged_.notify_all();
    thread_.join();
    ::close(listener_);
    SSL_CTX_free(context_);
}

void LoopbackHttpsServer::route(const std::string& path, Response response) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(response);
}

void LoopbackHttpsServer::holdAnswers(bool held) {
    {
        std::lock_guard lock(mutex_);
        held_ = held;
    }
    heldChanged_.notify_all();
}

std::string LoopbackHttpsServer::url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> LoopbackHttpsServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackHttpsServer::serve() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0) continue;
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        // A client that stalls cannot hold the server for long.
        timeval limit{2, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        answer(connection);
        ::close(connection);
    }
}

void LoopbackHttpsServer::answer(int connection) {
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, connection);
    if (SSL_accept(ssl) != 1) {
        // An untrusting client hangs up during the handshake.
        SSL_free(ssl);
        ERR_clear_error();
        return;
    }
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
        int got = SSL_read(ssl, buffer, sizeof buffer);
        if (got <= 0) break;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    // "GET /path HTTP/1.1"
    auto firstBlank = head.find(' ');
    auto secondBlank = firstBlank == std::string::npos ? std::string::npos : head.find(' ', firstBlank + 1);
    std::string path =
        secondBlank == std::string::npos ? std::string() : head.substr(firstBlank + 1, secondBlank - firstBlank - 1);

    if (path.empty()) {
        // The client hung up without a request (a name it did not trust, a time-out).
        SSL_free(ssl);
        ERR_clear_error();
        return;
    }
    Response response{404, "not here", {}};
    {
        std::unique_lock lock(mutex_);
        requests_.push_back(path);
        heldChanged_.wait(lock, [this] { return !held_ || stopping_; });
        if (auto found = routes_.find(path); found != routes_.end()) response = found->second;
    }
    bool hasBody = response.status != 204;
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
    if (hasBody) text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    for (const auto& [name, value] : response.headers) text += name + ": " + value + "\r\n";
    text += "Connection: close\r\n\r\n";
    std::size_t sent = 0;
    if (SSL_write(ssl, text.data(), static_cast<int>(text.size())) > 0 && hasBody) {
        while (sent < response.body.size()) {
            int chunk = static_cast<int>(std::min<std::size_t>(16384, response.body.size() - sent));
            int wrote = SSL_write(ssl, response.body.data() + sent, chunk);
            if (wrote <= 0) break;
            sent += static_cast<std::size_t>(wrote);
        }
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
    lastBodyBytesSent_ = sent;
    ++answered_;
}

SilentServer::SilentServer() { std::tie(listener_, port_) = listenOnLoopback(); }

SilentServer::~SilentServer() { ::close(listener_); }

std::string SilentServer::url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

}  // namespace testing_https
