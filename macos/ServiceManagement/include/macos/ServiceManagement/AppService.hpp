#pragma once

#include "macos/Foundation/Error.hpp"

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace sm {

// The app as a login item. Here that is a freedesktop autostart entry,
// "app.stashbay.Stashbay.desktop" under $XDG_CONFIG_HOME/autostart/ (else ~/.config/autostart/),
// which starts this program's executable when the user logs in.
class AppService {
public:
    enum class Status {
        notRegistered,
        enabled,
        // Registered, but the user turned the entry off in the session's settings (it is marked
        // hidden or not enabled); only the user can turn it on again.
        requiresApproval,
        // There is no place for the entry: no configuration folder at all.
        notFound,
    };

    // Failures a test can inject.
    struct Faults {
        std::optional<ns::Error> registerError;    // registerService throws it
        std::optional<ns::Error> unregisterError;  // unregisterService throws it
        bool serviceNotFound = false;              // status is notFound; both calls fail
    };

    static AppService& mainApp();

    // Asked afresh from the entry on every call.
    Status status() const;
    // Writes the entry. Throws ns::Error when it cannot be written, when it is already registered
    // (alreadyRegisteredCode), or when the user turned the entry off (launchDeniedByUserCode; the
    // entry is left as it is).
    void registerService();
    // Removes the entry; with no entry there is nothing to do. Throws ns::Error when it cannot be
    // removed.
    void unregisterService();

    // Where the entry is kept now; nothing when in memory or when there is no configuration folder.
    std::optional<std::filesystem::path> entryFile() const;
    // The entry's contents for an executable.
    static std::string desktopEntry(const std::filesystem::path& executable);

    // Test seams. reset() goes back to the environment's autostart folder, with no faults and the
    // call counts at zero; resetInMemory() does the same but keeps the registration in memory, so
    // no file is touched (the world's choice between tests).
    void reset();
    void resetInMemory();
    void setFaults(Faults faults);
    std::size_t registerCallCount() const;
    std::size_t unregisterCallCount() const;

    static constexpr const char* serviceErrorDomain = "SMAppServiceErrorDomain";
    static constexpr long launchDeniedByUserCode = 11;
    static constexpr long alreadyRegisteredCode = 12;

private:
    AppService() = default;
    std::optional<std::filesystem::path> entryFileLocked() const;

    mutable std::mutex mutex_;
    bool inMemory_ = false;
    bool registeredInMemory_ = false;
    Faults faults_;
    std::size_t registerCalls_ = 0;
    std::size_t unregisterCalls_ = 0;
};

}  // namespace sm
