#include "Updates/UpdateChecker.hpp"

#include "Updates/ManifestFetch.hpp"
#include "Updates/UpdateManifest.hpp"
#include "Utilities/BundleExtensions.hpp"
#include "Utilities/LoggerExtensions.hpp"
#include "macos/Foundation/Error.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <exception>
#include <stdexcept>

namespace stashbay {

namespace {

UpdateChecker::State failure() { return UpdateChecker::State::failed(std::string(UpdateChecker::failureMessage)); }

// Steps after the request, in the order of their failures: status, decoding, version, download
// address; then the comparison with the running version.
UpdateChecker::State evaluate(const ManifestResponse& response, const std::string& runningVersion) {
    const auto& logger = log::persistence();
    if (response.error) {
        logger.error("Update check failed: %{public}s", *response.error);
        return failure();
    }
    if (response.status != 200) {
        logger.error("Update check returned a non-200 response.");
        return failure();
    }
    UpdateManifest manifest;
    try {
        manifest = decodeUpdateManifest(response.body);
    } catch (const ns::Error& error) {
        logger.error("Update check failed: %{public}s", error.localizedDescription());
        return failure();
    }
    if (!UpdateChecker::isValidVersionString(manifest.version)) {
        logger.error("Update manifest had a malformed version string.");
        return failure();
    }
    auto download = ns::URL::fromString(manifest.download);
    if (!download || !UpdateChecker::isValidDownloadURL(*download)) {
        logger.error("Update manifest had an invalid or untrusted download URL.");
        return failure();
    }
    if (UpdateChecker::isNewer(manifest.version, runningVersion)) {
        return UpdateChecker::State::updateAvailable(manifest.version, *download);
    }
    return UpdateChecker::State::upToDate();
}

}  // namespace

UpdateChecker::State UpdateChecker::State::updateAvailable(std::string version, ns::URL url) {
    State state(Kind::updateAvailable);
    state.version_ = std::move(version);
    state.url_ = std::move(url);
    return state;
}

UpdateChecker::State UpdateChecker::State::failed(std::string message) {
    State state(Kind::failed);
    state.message_ = std::move(message);
    return state;
}

const ns::URL& UpdateChecker::manifestURL() {
    static const ns::URL url = [] {
        auto made = ns::URL::fromString("https://" + std::string(updateHost) + "/downloads/version.json");
        if (!made) throw std::logic_error("the manifest address is not a URL");
        return *made;
    }();
    return url;
}

UpdateChecker::UpdateChecker() : UpdateChecker(UpdateCheckerConfiguration{}) {}

UpdateChecker::UpdateChecker(UpdateCheckerConfiguration configuration)
    : core_(std::make_shared<Core>(std::move(configuration))) {}

runtime::Task<void> UpdateChecker::check() { return perform(core_); }

runtime::Task<void> UpdateChecker::perform(std::weak_ptr<Core> weakCore) {
    ManifestRequest request;
    {
        auto core = weakCore.lock();
        if (!core) co_return;
        runtime::assertMainExecutor("UpdateChecker.check");
        core->state.set(State::checking());
        const auto& configuration = core->configuration;
        request.url = (configuration.manifestURL ? *configuration.manifestURL : manifestURL()).absoluteString();
        request.trustAnchorPEM = configuration.trustAnchorPEM;
        request.connectTimeout = configuration.connectTimeout;
        request.totalTimeout = configuration.totalTimeout;
    }
    ManifestFetch fetch(std::move(request));
    ManifestResponse response = co_await fetch;
    // The owner may have gone while the request was out; nobody reads the outcome then.
    auto core = weakCore.lock();
    if (!core) co_return;
    core->state.set(evaluate(response, shortVersionString(ns::Bundle::main())));
}

}  // namespace stashbay
