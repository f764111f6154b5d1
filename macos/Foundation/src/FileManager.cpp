#include "macos/Foundation/FileManager.hpp"

#include "macos/Foundation/Error.hpp"
#include "macos/sim/World.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace ns {

namespace fs = std::filesystem;

FileManager& FileManager::defaultManager() {
    static FileManager manager;
    return manager;
}

std::vector<fs::path> FileManager::urls(SearchPathDirectory, SearchPathDomainMask) const {
    if (noApplicationSupport_) return {};
    if (applicationSupportOverride_) return {*applicationSupportOverride_};
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return {fs::path(xdg)};
    if (const char* home = std::getenv("HOME"); home && *home) return {fs::path(home) / ".local" / "share"};
    return {};
}

namespace {
Error fileError(long code, const std::string& what, const fs::path& path) {
    return Error(cocoaErrorDomain, code, what + " \"" + path.string() + "\"");
}
}  // namespace

void FileManager::createDirectory(const fs::path& path, bool withIntermediateDirectories) const {
    if (faults_.createDirectoryFails)
        throw fileError(CocoaError::fileWriteNoPermission, "You don't have permission to create", path);
    std::error_code ec;
    if (fs::is_directory(path, ec)) return;
    if (withIntermediateDirectories)
        fs::create_directories(path, ec);
    else
        fs::create_directory(path, ec);
    if (ec) throw fileError(CocoaError::fileWriteUnknown, "Could not create the folder", path);
}

bool FileManager::fileExists(const fs::path& path) const {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string FileManager::contents(const fs::path& path) const {
    if (faults_.unreadable.count(path))
        throw fileError(CocoaError::fileReadNoPermission, "You don't have permission to read", path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        long code = fileExists(path) ? CocoaError::fileReadNoPermission : CocoaError::fileNoSuchFile;
        throw fileError(code, "The file could not be opened", path);
    }
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) throw fileError(CocoaError::fileReadUnknown, "The file could not be read", path);
    return out.str();
}

void FileManager::writeAtomically(const fs::path& path, const std::string& data) const {
    // The temporary name comes from the world's generator, so that a seeded run replays; a name
    // taken already (a write cut short elsewhere) is drawn again.
    auto draw = []() -> std::uint64_t {
        if (auto* world = sim::World::currentOrNull()) return world->random()();
        std::random_device fallback;
        return fallback();
    };
    fs::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        temp = path.parent_path() / ("." + path.filename().string() + ".tmp" + std::to_string(draw()));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw fileError(CocoaError::fileWriteUnknown, "The file could not be saved", path);
    std::size_t limit = faults_.writeFailsAfterBytes.value_or(data.size());
    std::size_t written = 0;
    bool failed = false;
    while (written < data.size()) {
        std::size_t chunk = std::min(data.size() - written, limit > written ? limit - written : 0);
        if (chunk == 0) {
            failed = true;
            break;
        }
        ssize_t n = ::write(fd, data.data() + written, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            failed = true;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (!failed && ::fsync(fd) != 0) failed = true;
    ::close(fd);
    if (failed) {
        std::error_code ec;
        fs::remove(temp, ec);
        throw fileError(CocoaError::fileWriteOutOfSpace, "The file could not be saved because there isn't enough space",
                        path);
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw fileError(CocoaError::fileWriteUnknown, "The file could not be saved", path);
    }
}

void FileManager::removeItem(const fs::path& path) const {
    std::error_code ec;
    if (!fs::remove(path, ec) || ec)
        throw fileError(CocoaError::fileWriteUnknown, "The file could not be removed", path);
}

void FileManager::setApplicationSupportOverride(std::optional<fs::path> base) {
    applicationSupportOverride_ = std::move(base);
}
void FileManager::setNoApplicationSupport(bool none) { noApplicationSupport_ = none; }
void FileManager::setFaults(FileFaults faults) { faults_ = std::move(faults); }
void FileManager::reset() {
    applicationSupportOverride_.reset();
    noApplicationSupport_ = false;
    faults_ = {};
}

}  // namespace ns
