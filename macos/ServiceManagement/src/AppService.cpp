#include "macos/ServiceManagement/AppService.hpp"

#include "macos/Foundation/FileManager.hpp"
#include "stashbay/BuildInfo.hpp"

#include <cstdlib>
#include <sstream>
#include <string_view>

namespace sm {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> configHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        return fs::path(xdg);
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".config";
    return std::nullopt;
}

ns::Error notFoundError() { return ns::Error(AppService::serviceErrorDomain, 3, "The login item could not be found"); }
ns::Error alreadyRegisteredError() {
    return ns::Error(AppService::serviceErrorDomain, AppService::alreadyRegisteredCode,
                     "The login item is already registered");
}
ns::Error launchDeniedError() {
    return ns::Error(AppService::serviceErrorDomain, AppService::launchDeniedByUserCode,
                     "The login item was turned off by the user");
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Whether the user turned the entry off: "Hidden=true" or "X-GNOME-Autostart-enabled=false" in
// its main group.
bool isTurnedOff(const std::string& contents) {
    std::istringstream lines(contents);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(lines, line)) {
        auto text = trim(line);
        if (text.empty() || text.front() == '#') continue;
        if (text.front() == '[') {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        auto equals = text.find('=');
        if (!inMainGroup || equals == std::string_view::npos) continue;
        auto key = trim(text.substr(0, equals));
        auto value = trim(text.substr(equals + 1));
        if (key == "Hidden" && value == "true") return true;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return true;
    }
    return false;
}

// The program as one argument of an Exec line: quoted when it holds a reserved character, field
// codes' "%" doubled, then escaped as a string value.
std::string execArgument(const std::string& program) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument;
    if (program.find_first_of(reserved) == std::string::npos) {
        argument = program;
    } else {
        argument = "\"";
        for (char c : program) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
            argument += c;
        }
        argument += '"';
    }
    std::string value;
    for (char c : argument) {
        switch (c) {
            case '%': value += "%%"; break;
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            default: value += c;
        }
    }
    return value;
}

fs::path currentExecutable() {
    std::error_code ec;
    auto path = fs::read_symlink("/proc/self/exe", ec);
    if (ec || path.empty())
        throw ns::Error(ns::cocoaErrorDomain, ns::CocoaError::fileNoSuchFile,
                        "The application's executable could not be found");
    return path;
}

}  // namespace

AppService& AppService::mainApp() {
    static AppService service;
    return service;
}

std::optional<fs::path> AppService::entryFileLocked() const {
    if (inMemory_) return std::nullopt;
    auto home = configHome();
    if (!home) return std::nullopt;
    return *home / "autostart" / (std::string(stashbay::build::bundleIdentifier) + ".desktop");
}

std::optional<fs::path> AppService::entryFile() const {
    std::lock_guard lock(mutex_);
    return entryFileLocked();
}

std::string AppService::desktopEntry(const fs::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=Stashbay\n"
           "Comment=Shows the menu bar items that have no room\n"
           "Exec=" +
           execArgument(executable.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

AppService::Status AppService::status() const {
    std::lock_guard lock(mutex_);
    if (faults_.serviceNotFound) return Status::notFound;
    if (inMemory_) return registeredInMemory_ ? Status::enabled : Status::notRegistered;
    auto file = entryFileLocked();
    if (!file) return Status::notFound;
    auto& files = ns::FileManager::defaultManager();
    if (!files.fileExists(*file)) return Status::notRegistered;
    try {
        if (isTurnedOff(files.contents(*file))) return Status::requiresApproval;
    } catch (const ns::Error&) {
        // An entry that cannot be read still exists; the session starts what it can read.
    }
    return Status::enabled;
}

void AppService::registerService() {
    std::lock_guard lock(mutex_);
    ++registerCalls_;
    if (faults_.registerError) throw *faults_.registerError;
    if (faults_.serviceNotFound) throw notFoundError();
    // As on the platform, registering what is registered fails, and so does registering what the
    // user turned off: only the user turns it on again.
    if (inMemory_) {
        if (registeredInMemory_) throw alreadyRegisteredError();
        registeredInMemory_ = true;
        return;
    }
    auto file = entryFileLocked();
    if (!file) throw notFoundError();
    auto& files = ns::FileManager::defaultManager();
    if (files.fileExists(*file)) {
        std::optional<bool> turnedOff;
        try {
            turnedOff = isTurnedOff(files.contents(*file));
        } catch (const ns::Error&) {
            // Unreadable: written afresh below.
        }
        if (turnedOff) throw *turnedOff ? launchDeniedError() : alreadyRegisteredError();
    }
    auto entry = desktopEntry(currentExecutable());
    files.createDirectory(file->parent_path(), true);
    files.writeAtomically(*file, entry);
}

void AppService::unregisterService() {
    std::lock_guard lock(mutex_);
    ++unregisterCalls_;
    if (faults_.unregisterError) throw *faults_.unregisterError;
    if (faults_.serviceNotFound) throw notFoundError();
    if (inMemory_) {
        registeredInMemory_ = false;
        return;
    }
    auto file = entryFileLocked();
    if (!file) return;
    auto& files = ns::FileManager::defaultManager();
    if (files.fileExists(*file)) files.removeItem(*file);
}

void AppService::reset() {
    std::lock_guard lock(mutex_);
    inMemory_ = false;
    registeredInMemory_ = false;
    faults_ = {};
    registerCalls_ = 0;
    unregisterCalls_ = 0;
}

void AppService::resetInMemory() {
    reset();
    std::lock_guard lock(mutex_);
    inMemory_ = true;
}

void AppService::setFaults(Faults faults) {
    std::lock_guard lock(mutex_);
    faults_ = std::move(faults);
}

std::size_t AppService::registerCallCount() const {
    std::lock_guard lock(mutex_);
    return registerCalls_;
}

std::size_t AppService::unregisterCallCount() const {
    std::lock_guard lock(mutex_);
    return unregisterCalls_;
}

}  // namespace sm
