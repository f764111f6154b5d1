#pragma once

#include "macos/Foundation/URL.hpp"
#include "macos/Observation/Observation.hpp"
#include "stashbay/runtime/Task.hpp"
#include "stashbay/runtime/Time.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stashbay {

// Where a check fetches the manifest and whom it trusts. The defaults are the maker's server,
// the system's trust store and 10 seconds for the connection and for the whole request; the
// simulated desktop and the tests point a checker at a manifest server of their own.
struct UpdateCheckerConfiguration {
    // Absent: UpdateChecker::manifestURL().
    std::optional<ns::URL> manifestURL;
    // PEM certificates trusted instead of the system's store.
    std::optional<std::string> trustAnchorPEM;
    runtime::Duration connectTimeout = std::chrono::seconds(10);
    runtime::Duration totalTimeout = std::chrono::seconds(10);
};

// Answers, when asked, whether the maker's web server offers a newer version than the running
// one, and publishes the outcome as an observable state. Main executor only.
//
// A check in flight holds the checker weakly: destroying the checker while its request is on the
// way is safe, and the outcome is then dropped.
class UpdateChecker {
public:
    // The outcome of the last check.
    class State {
    public:
        enum class Kind { idle, checking, upToDate, updateAvailable, failed };

        static State idle() { return State(Kind::idle); }
        static State checking() { return State(Kind::checking); }
        static State upToDate() { return State(Kind::upToDate); }
        // `version` is the manifest's text exactly as written; `url` the validated download address.
        static State updateAvailable(std::string version, ns::URL url);
        // `message` is what the user reads.
        static State failed(std::string message);

        Kind kind() const { return kind_; }
        // For updateAvailable; empty otherwise.
        const std::string& version() const { return version_; }
        const std::optional<ns::URL>& url() const { return url_; }
        // For failed; empty otherwise.
        const std::string& message() const { return message_; }

        // Same case, and for updateAvailable the same version and URL, for failed the same text.
        friend bool operator==(const State&, const State&) = default;

    private:
        explicit State(Kind kind) : kind_(kind) {}

        Kind kind_;
        std::string version_;
        std::optional<ns::URL> url_;
        std::string message_;
    };

    // The one host of the maker's web server, in lower case: the manifest's host and the only
    // host a download address may name.
    static constexpr std::string_view updateHost = "stashbay.app";
    // The one message of a failed check.
    static constexpr std::string_view failureMessage = "Couldn't check for updates";

    // https://stashbay.app/downloads/version.json, built once.
    static const ns::URL& manifestURL();

    // A checker in state idle that asks the maker's server.
    UpdateChecker();
    explicit UpdateChecker(UpdateCheckerConfiguration configuration);
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // Reading it registers the reader with any observation tracking in progress. Observers hear
    // of an assignment only when it changes the value.
    const State& state() const { return core_->state.get(); }
    [[nodiscard]] observation::ObservationToken observeState(std::function<void(const State&)> onChange) const {
        return core_->state.observe(std::move(onChange));
    }

    // Runs one complete check: checking, then the manifest fetched and validated, then
    // upToDate, updateAvailable or failed. Never throws. Calls are not serialised: each one sends
    // its own request and writes its own end state.
    runtime::Task<void> check();

    // Whether `candidate` is the higher version: components compared in order, missing ones as
    // 0; an equal version is not newer.
    static bool isNewer(std::string_view candidate, std::string_view current);
    // 1 to 20 user-perceived characters, each "." or one whose first scalar has a Unicode
    // numeric type.
    static bool isValidVersionString(std::string_view version);
    // Scheme https and host the update host, both compared in lower case, as libcurl's URL
    // parser reads the address.
    static bool isValidDownloadURL(const ns::URL& url);
    // The segments between dots, empty ones dropped, each its signed 64-bit value or 0.
    static std::vector<std::int64_t> versionComponents(std::string_view version);

private:
    struct Core {
        explicit Core(UpdateCheckerConfiguration c) : configuration(std::move(c)) {}
        UpdateCheckerConfiguration configuration;
        observation::Observable<State> state{State::idle()};
    };

    static runtime::Task<void> perform(std::weak_ptr<Core> weakCore);

    std::shared_ptr<Core> core_;
};

}  // namespace stashbay
