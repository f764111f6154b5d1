#include "Updates/LocalServer/LoopbackHttpsServer.hpp"
#include "Updates/ManifestFetch.hpp"
#include "Updates/UpdateChecker.hpp"
#include "macos/Foundation/Bundle.hpp"
#include "macos/os/LogCapture.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using stashbay::UpdateChecker;
using stashbay::UpdateCheckerConfiguration;
using testing_https::LoopbackHttpsServer;
using testing_https::TestCertificate;
using State = UpdateChecker::State;

namespace stashbay {
void PrintTo(const UpdateChecker::State& state, std::ostream* os) {
    static const char* const names[] = {"idle", "checking", "upToDate", "updateAvailable", "failed"};
    *os << names[static_cast<int>(state.kind())];
    if (state.kind() == State::Kind::updateAvailable)
        *os << "(" << state.version() << ", " << state.url()->absoluteString() << ")";
    if (state.kind() == State::Kind::failed) *os << "(" << state.message() << ")";
}
}  // namespace stashbay

namespace {

constexpr const char* manifestPath = "/downloads/version.json";
constexpr const char* downloadAddress = "https://stashbay.app/downloads/Stashbay.dmg";

constexpr const char* f1Prefix = "Update check failed: ";
constexpr const char* f2 = "Update check returned a non-200 response.";
constexpr const char* f3 = "Update manifest had a malformed version string.";
constexpr const char* f4 = "Update manifest had an invalid or untrusted download URL.";
constexpr const char* notInTheCorrectFormat =
    "Update check failed: The data couldn't be read because it isn't in the correct format.";
constexpr const char* missing = "Update check failed: The data couldn't be read because it is missing.";

State failed() { return State::failed("Couldn't check for updates"); }
State available(const std::string& version, const std::string& address = downloadAddress) {
    return State::updateAvailable(version, *ns::URL::fromString(address));
}

std::string manifest(const std::string& version, const std::string& download = downloadAddress) {
    return R"({"version": ")" + version + R"(", "download": ")" + download + R"("})";
}

// The certificates of the whole suite: the server's, and another that the server does not hold.
struct Certificates {
    std::filesystem::path folder;
    TestCertificate server;
    TestCertificate stranger;
};

class UpdateCheckerOverHttps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing_https::opensslCommandAvailable()) return;
        char folderTemplate[] = "/tmp/stashbay-update-tests-XXXXXX";
        if (!::mkdtemp(folderTemplate)) return;
        std::filesystem::path folder(folderTemplate);
        auto server = testing_https::makeTestCertificate(folder, "server");
        auto stranger = testing_https::makeTestCertificate(folder, "stranger");
        if (server && stranger) certificates_ = new Certificates{folder, *server, *stranger};
    }
    static void TearDownTestSuite() {
        if (!certificates_) return;
        std::error_code ignored;
        std::filesystem::remove_all(certificates_->folder, ignored);
        delete certificates_;
        certificates_ = nullptr;
    }

    void SetUp() override {
        if (!certificates_) GTEST_SKIP() << "the openssl command is needed to make a test certificate";
        os::LogStore::shared().setEchoToStderr(false);
        server_ = std::make_unique<LoopbackHttpsServer>(certificates_->server);
        loop_->loop().setWakeUp([this] {
            std::lock_guard lock(wakeMutex_);
            woken_ = true;
            wake_.notify_all();
        });
        setRunningVersion("1.9");
    }
    void TearDown() override {
        // Every worker has ended before the loop and the server go.
        waitUntil([] { return stashbay::ManifestFetch::workersRunning() == 0; });
        ns::Bundle::main().reset();
    }

    static void setRunningVersion(std::optional<std::string> version) {
        ns::Bundle::main().setInfoDictionaryValue(
            "CFBundleShortVersionString", version ? std::optional<cf::Value>(cf::Value(*version)) : std::nullopt);
    }

    // The server's manifest address, trusted through the server's certificate.
    UpdateCheckerConfiguration configuration(const std::string& path = manifestPath) const {
        UpdateCheckerConfiguration c;
        c.manifestURL = ns::URL::fromString(server_->url(path));
        c.trustAnchorPEM = certificates_->server.certificatePEM;
        return c;
    }

    // Runs the loop's ready jobs and waits, in real time but bounded, for the workers' posts
    // until `done` holds.
    template <class Done>
    bool waitUntil(Done done) {
        auto limit = std::chrono::steady_clock::now() + 30s;
        for (;;) {
            if (loop_) loop_->runUntilIdle();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > limit) return false;
            std::unique_lock lock(wakeMutex_);
            wake_.wait_for(lock, 20ms, [this] { return woken_; });
            woken_ = false;
        }
    }

    // Runs one check to its end.
    void runCheck(UpdateChecker& checker) {
        auto handle = runtime::spawn(runtime::mainExecutor(), checker.check());
        ASSERT_TRUE(waitUntil([&] { return handle.isFinished(); })) << "the check did not finish";
    }

    // Serves `body` with `status` as the manifest, runs a check and returns its end state.
    State checkServing(int status, const std::string& body) {
        server_->route(manifestPath, {status, body, {}});
        UpdateChecker checker(configuration());
        runCheck(checker);
        return checker.state();
    }

    std::vector<std::string> errors() const { return capture_.texts("persistence", os::LogLevel::error); }

    static inline Certificates* certificates_ = nullptr;
    std::unique_ptr<runtime::ManualLoop> loop_ = std::make_unique<runtime::ManualLoop>();
    os::LogCapture capture_;
    std::unique_ptr<LoopbackHttpsServer> server_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool woken_ = false;
};

TEST_F(UpdateCheckerOverHttps, ComparesTheOfferedVersionWithTheRunningOne) {
    struct Case {
        std::optional<std::string> running;  // none: the bundle has no short version
        std::string offered;
        State expected;
    };
    const Case cases[] = {
        {"1.9", "1.10", available("1.10")},
        {"1", "1.0", State::upToDate()},
        {"1.0", "1.0.1", available("1.0.1")},
        {"10", "2", State::upToDate()},
        {"1.2", "1..2", State::upToDate()},
        {"1.0", "...", State::upToDate()},
        {"0.0.0", "...", State::upToDate()},
        {"1.2-beta", "1.1", available("1.1")},
        {std::nullopt, "0.0.1", available("0.0.1")},
        {std::nullopt, "0.0", State::upToDate()},
        {"0.1", "\u0661.\u0662", State::upToDate()},
        {"1", "99999999999999999999", State::upToDate()},
        {"1", "1.2.3.4.5.6.7.8.9.10", available("1.2.3.4.5.6.7.8.9.10")},
    };
    for (const auto& c : cases) {
        setRunningVersion(c.running);
        capture_.clear();
        EXPECT_EQ(checkServing(200, manifest(c.offered)), c.expected)
            << c.offered << " against " << c.running.value_or("none");
        EXPECT_TRUE(errors().empty()) << "a successful check logs nothing";
    }
}

TEST_F(UpdateCheckerOverHttps, AcceptsManifestsThatDifferOnlyWhereTheFormatAllows) {
    struct Case {
        const char* what;
        std::string body;
        State expected;
    };
    const Case cases[] = {
        {"notes present", R"({"version": "2.0", "download": "https://stashbay.app/d", "notes": "Faster."})",
         available("2.0", "https://stashbay.app/d")},
        {"notes null", R"({"version": "2.0", "download": "https://stashbay.app/d", "notes": null})",
         available("2.0", "https://stashbay.app/d")},
        {"extra members",
         R"({"extra": [1, {"a": null}], "version": "2.0", "download": "https://stashbay.app/d", "Version": 3})",
         available("2.0", "https://stashbay.app/d")},
        {"a scheme in capitals", manifest("2.0", "HTTPS://stashbay.app/d"), available("2.0", "HTTPS://stashbay.app/d")},
        {"a host in other letter case", manifest("2.0", "https://StashBay.App/d"),
         available("2.0", "https://StashBay.App/d")},
    };
    for (const auto& c : cases) {
        capture_.clear();
        EXPECT_EQ(checkServing(200, c.body), c.expected) << c.what;
        EXPECT_TRUE(errors().empty()) << c.what;
    }
}

TEST_F(UpdateCheckerOverHttps, EachFailureEndsInFailedWithItsOneRecordInTheOrderOfTheSteps) {
    struct Case {
        const char* what;
        int status;
        std::string body;
        std::string record;
    };
    const std::string good = manifest("2.0");
    const Case cases[] = {
        {"status 204", 204, good, f2},
        {"status 404 with a good manifest", 404, good, f2},
        {"status 500", 500, good, f2},
        {"not JSON", 200, "<html>", notInTheCorrectFormat},
        {"an array", 200, "[" + good + "]", notInTheCorrectFormat},
        {"version as a number", 200, R"({"version": 2, "download": "https://stashbay.app/d"})", notInTheCorrectFormat},
        {"notes as a number", 200, R"({"version": "2", "download": "https://stashbay.app/d", "notes": 1})",
         notInTheCorrectFormat},
        {"no download", 200, R"({"version": "2"})", missing},
        {"keys in other letter case", 200, R"({"Version": "2", "Download": "https://stashbay.app/d"})", missing},
        {"an empty version", 200, manifest(""), f3},
        {"twenty-one characters", 200, manifest("999999999999999999999"), f3},
        {"a letter", 200, manifest("2.0b"), f3},
        {"a trailing blank", 200, manifest("2.0 "), f3},
        {"a bad version before a bad download", 200, manifest("2.0b", "http://evil.example/"), f3},
        {"plain http", 200, manifest("2.0", "http://stashbay.app/d"), f4},
        {"another host", 200, manifest("2.0", "https://stashbay.app.evil.example/d"), f4},
        {"the update host as a user name", 200, manifest("2.0", "https://stashbay.app@evil.example/d"), f4},
        {"no URL", 200, manifest("2.0", "not a url"), f4},
    };
    for (const auto& c : cases) {
        capture_.clear();
        EXPECT_EQ(checkServing(c.status, c.body), failed()) << c.what;
        EXPECT_EQ(errors(), std::vector<std::string>{c.record}) << c.what;
    }
}

TEST_F(UpdateCheckerOverHttps, CapsTheBodyAndStopsTheTransferThere) {
    const std::size_t cap = stashbay::maximumManifestSize;
    // Padding after the object keeps it a valid manifest of exactly the cap's size.
    std::string atTheCap = manifest("2.0");
    atTheCap += std::string(cap - atTheCap.size(), ' ');
    EXPECT_EQ(checkServing(200, atTheCap), available("2.0"));
    EXPECT_TRUE(errors().empty());

    const std::string tooLarge = "Update check failed: The response is larger than 65536 bytes.";
    EXPECT_EQ(checkServing(200, atTheCap + " "), failed());
    EXPECT_EQ(errors(), std::vector<std::string>{tooLarge});

    // A body far beyond what the loopback's buffers hold shows the client hung up early.
    capture_.clear();
    const std::size_t huge = 64u << 20;
    auto answeredBefore = server_->answered();
    EXPECT_EQ(checkServing(200, std::string(huge, ' ')), failed());
    EXPECT_EQ(errors(), std::vector<std::string>{tooLarge});
    ASSERT_TRUE(waitUntil([&] { return server_->answered() == answeredBefore + 1; }));
    EXPECT_LT(server_->lastBodyBytesSent(), huge);
}

TEST_F(UpdateCheckerOverHttps, FollowsRedirectsToHttpsOnlyAndForAFewHops) {
    const std::string moved = server_->url("/moved");
    server_->route(manifestPath, {200, manifest("2.0"), {}});
    server_->route("/moved", {302, "see elsewhere", {{"Location", server_->url(manifestPath)}}});
    server_->route("/gone", {302, "", {{"Location", server_->url("/nothing-here")}}});
    server_->route("/plain",
                   {302, "", {{"Location", "http://127.0.0.1:" + std::to_string(server_->port()) + "/moved"}}});
    server_->route("/loop", {302, "", {{"Location", server_->url("/loop")}}});
    struct Case {
        const char* path;
        State expected;
        std::optional<std::string> record;  // none: a record that starts with the F1 prefix
    };
    const Case cases[] = {
        {"/moved", available("2.0"), ""},
        {"/gone", failed(), f2},  // the final status is the one that counts
        {"/plain", failed(), std::nullopt},
        {"/loop", failed(), std::nullopt},
    };
    for (const auto& c : cases) {
        capture_.clear();
        UpdateChecker checker(configuration(c.path));
        runCheck(checker);
        EXPECT_EQ(checker.state(), c.expected) << c.path;
        auto records = errors();
        if (c.record && c.record->empty()) {
            EXPECT_TRUE(records.empty()) << c.path;
        } else if (c.record) {
            EXPECT_EQ(records, std::vector<std::string>{*c.record}) << c.path;
        } else {
            ASSERT_EQ(records.size(), 1u) << c.path;
            EXPECT_EQ(records[0].rfind(f1Prefix, 0), 0u) << records[0];
        }
    }
    auto requests = server_->requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/loop"), 1 + stashbay::maximumManifestRedirects);
    // The plain-http hop was never taken.
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/moved"), 1);
}

TEST_F(UpdateCheckerOverHttps, AnUntrustedServerOrOneThatNeverAnswersFailsTheRequest) {
    server_->route(manifestPath, {200, manifest("2.0"), {}});
    testing_https::SilentServer silent;
    struct Case {
        const char* what;
        UpdateCheckerConfiguration configuration;
    };
    auto stranger = configuration();
    stranger.trustAnchorPEM = certificates_->stranger.certificatePEM;
    auto otherName = configuration();
    otherName.manifestURL = ns::URL::fromString("https://localhost:" + std::to_string(server_->port()) + manifestPath);
    auto neverAnswers = configuration();
    neverAnswers.manifestURL = ns::URL::fromString(silent.url(manifestPath));
    neverAnswers.connectTimeout = 300ms;
    neverAnswers.totalTimeout = 300ms;
    auto plainHttp = configuration();
    plainHttp.manifestURL = ns::URL::fromString("http://127.0.0.1:" + std::to_string(server_->port()) + manifestPath);
    const Case cases[] = {
        {"a certificate the checker does not trust", stranger},
        {"a certificate for another name", otherName},
        {"a server that never answers", neverAnswers},
        {"a manifest address over plain http", plainHttp},
    };
    for (const auto& c : cases) {
        capture_.clear();
        UpdateChecker checker(c.configuration);
        runCheck(checker);
        EXPECT_EQ(checker.state(), failed()) << c.what;
        auto records = errors();
        ASSERT_EQ(records.size(), 1u) << c.what;
        EXPECT_EQ(records[0].rfind(f1Prefix, 0), 0u) << records[0];
        EXPECT_GT(records[0].size(), std::string(f1Prefix).size()) << "the record says why";
    }
    EXPECT_TRUE(server_->requests().empty()) << "no request went through an untrusted connection";
}

TEST_F(UpdateCheckerOverHttps, EveryCheckPassesThroughCheckingAndStaysInItsEndState) {
    server_->route(manifestPath, {200, manifest("1.0"), {}});
    UpdateChecker checker(configuration());
    EXPECT_EQ(checker.state(), State::idle());
    std::vector<State> seen;
    auto token = checker.observeState([&](const State& state) { seen.push_back(state); });

    runCheck(checker);
    runCheck(checker);
    EXPECT_EQ(seen, (std::vector<State>{State::checking(), State::upToDate(), State::checking(), State::upToDate()}));

    // Nothing moves an end state but another check.
    loop_->advance(1h);
    EXPECT_EQ(checker.state(), State::upToDate());
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(UpdateCheckerOverHttps, ChecksAreNotSerialisedAndEachSendsItsOwnRequest) {
    server_->route(manifestPath, {200, manifest("2.0"), {}});
    server_->holdAnswers(true);
    UpdateChecker checker(configuration());
    auto first = runtime::spawn(runtime::mainExecutor(), checker.check());
    auto second = runtime::spawn(runtime::mainExecutor(), checker.check());
    loop_->runUntilIdle();
    EXPECT_EQ(checker.state(), State::checking());
    server_->holdAnswers(false);
    ASSERT_TRUE(waitUntil([&] { return first.isFinished() && second.isFinished(); }));
    EXPECT_EQ(checker.state(), available("2.0"));
    EXPECT_EQ(server_->requests().size(), 2u);
}

TEST_F(UpdateCheckerOverHttps, ACheckInFlightOutlivesItsCheckerAndTheLoop) {
    testing_https::SilentServer silent;
    UpdateCheckerConfiguration slow = configuration();
    slow.manifestURL = ns::URL::fromString(silent.url(manifestPath));
    slow.connectTimeout = 500ms;
    slow.totalTimeout = 500ms;

    // The checker goes first: the answer arrives, finds nobody and writes nothing.
    auto checker = std::make_unique<UpdateChecker>(slow);
    auto handle = runtime::spawn(runtime::mainExecutor(), checker->check());
    loop_->runUntilIdle();
    EXPECT_EQ(checker->state(), State::checking());
    checker.reset();
    ASSERT_TRUE(waitUntil([&] { return handle.isFinished(); }));
    EXPECT_TRUE(errors().empty());

    // The whole loop goes with a check suspended in it; the worker ends on its own and posts
    // nothing to the departed loop.
    UpdateChecker another(slow);
    auto suspended = runtime::spawn(runtime::mainExecutor(), another.check());
    loop_->runUntilIdle();
    EXPECT_EQ(another.state(), State::checking());
    loop_.reset();
    EXPECT_TRUE(waitUntil([] { return stashbay::ManifestFetch::workersRunning() == 0; }));
    EXPECT_FALSE(suspended.isFinished());
    EXPECT_EQ(another.state(), State::checking());
}

}  // namespace

TEST(UpdateCheckerDefaults, ACheckWaitsTenSecondsForTheConnectionAndTenForTheWholeRequest) {
    // The silent-server case above shows a checker passes its time-outs on; these are the ones
    // every checker of the running app gets.
    const stashbay::UpdateCheckerConfiguration configuration;
    EXPECT_EQ(configuration.connectTimeout, std::chrono::seconds(10));
    EXPECT_EQ(configuration.totalTimeout, std::chrono::seconds(10));
    const stashbay::ManifestRequest request;
    EXPECT_EQ(request.connectTimeout, std::chrono::seconds(10));
    EXPECT_EQ(request.totalTimeout, std::chrono::seconds(10));
}
