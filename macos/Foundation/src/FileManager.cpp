#include "macos/Foundation/FileManager.hpp"

#include "macos/Foundation/Error.hpp"
#include "macos/sim/InputFile.hpp"
#include "macos/sim/World.hpp"

#include "stashbay/runtime/Sleep.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

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

namespace {

// Taken when the program's statics are made, before this process writes anything. A temporary
// file written before it (less a margin for coarse file times) was left by an earlier process.
const fs::file_time_type processStart = fs::file_time_type::clock::now() - std::chrono::seconds(2);

constexpr int maxSymbolicLinks = 40;
constexpr int maxTemporaryNameAttempts = 32;

// The file a write of `path` replaces or a move takes: the last component's symbolic links
// followed to their end (the folders' links are the system's to follow).
fs::path resolvedTarget(const fs::path& path) {
    fs::path current = path;
    for (int depth = 0; depth < maxSymbolicLinks; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec)) || ec) return current;
        fs::path target = fs::read_symlink(current, ec);
        if (ec) throw fileError(CocoaError::fileReadUnknown, "The symbolic link could not be read", current);
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    throw fileError(CocoaError::fileWriteUnknown, "Too many symbolic links lead from", path);
}

// Removes ".<name>.tmp<digits>" files beside `target` that an earlier process left behind.
void removeStaleTemporaryFiles(const fs::path& target) {
    const std::string prefix = "." + target.filename().string() + ".tmp";
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        std::error_code entryError;
        if (!it->is_regular_file(entryError) || entryError) continue;
        auto written = it->last_write_time(entryError);
        if (entryError || written >= processStart) continue;
        fs::remove(it->path(), entryError);
    }
}

// "20261210T000000Z" for the date, in UTC.
std::string timestamp(runtime::Date date) {
    double sinceEpoch = std::clamp(date.timeIntervalSince1970(), 0.0, 253402300799.0);
    std::time_t seconds = static_cast<std::time_t>(sinceEpoch);
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// False when `to` exists; throws on any other failure.
bool renameWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without the exclusive rename: a new link is made exclusively too.
        if (::link(from.c_str(), to.c_str()) != 0) {
            if (errno == EEXIST) return false;
            throw fileError(CocoaError::fileWriteUnknown, "The file could not be moved aside", from);
        }
        if (::unlink(from.c_str()) == 0) return true;
        ::unlink(to.c_str());
    }
    throw fileError(CocoaError::fileWriteUnknown, "The file could not be moved aside", from);
}

}  // namespace

std::string FileManager::contents(const fs::path& path, std::optional<std::size_t> limit) const {
    if (faults_.unreadable.count(path))
        throw fileError(CocoaError::fileReadNoPermission, "You don't have permission to read", path);
    using Kind = sim::RegularFileFailure::Kind;
    try {
        return sim::readRegularFile(path, limit);
    } catch (const sim::RegularFileFailure& failure) {
        switch (failure.kind) {
            case Kind::openFailed: {
                long code = failure.error == ENOENT                               ? CocoaError::fileNoSuchFile
                            : (failure.error == EACCES || failure.error == EPERM) ? CocoaError::fileReadNoPermission
                                                                                  : CocoaError::fileReadUnknown;
                throw fileError(code, "The file could not be opened", path);
            }
            case Kind::directory:
            case Kind::notRegular: throw fileError(CocoaError::fileReadUnknown, "This is not a regular file:", path);
            case Kind::tooLarge:
                throw fileError(CocoaError::fileReadTooLarge, "The file is too large to be read", path);
            case Kind::readFailed: break;
        }
        throw fileError(CocoaError::fileReadUnknown, "The file could not be read", path);
    }
}

void FileManager::writeAtomically(const fs::path& path, const std::string& data) const {
    const fs::path target = resolvedTarget(path);
    removeStaleTemporaryFiles(target);
    // The temporary name comes from the world's generator, so that a seeded run replays; the file
    // is made exclusively and a name taken already (another write in flight) is drawn again.
    auto draw = []() -> std::uint64_t {
        if (auto* world = sim::World::currentOrNull()) return world->random()();
        std::random_device fallback;
        return fallback();
    };
    fs::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < maxTemporaryNameAttempts && fd < 0; ++attempt) {
        temp = target.parent_path() / ("." + target.filename().string() + ".tmp" + std::to_string(draw()));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw fileError(CocoaError::fileWriteUnknown, "The file could not be saved", path);
    bool failed = false;
    // The replacement keeps the permissions the person gave the file.
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        ::fchmod(fd, existing.st_mode & 0777) != 0)
        failed = true;
    std::size_t limit = faults_.writeFailsAfterBytes.value_or(data.size());
    std::size_t written = 0;
    while (!failed && written < data.size()) {
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
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw fileError(CocoaError::fileWriteUnknown, "The file could not be saved", path);
    }
}

fs::path FileManager::moveAside(const fs::path& path, std::string_view reason) const {
    if (faults_.moveAsideFails)
        throw fileError(CocoaError::fileWriteNoPermission, "You don't have permission to move", path);
    const fs::path source = resolvedTarget(path);
    const std::string name =
        source.filename().string() + "." + std::string(reason) + "-" + timestamp(runtime::currentDate());
    for (int n = 1; n <= 1000; ++n) {
        fs::path kept = source.parent_path() / (n == 1 ? name : name + "-" + std::to_string(n));
        if (renameWithoutReplacing(source, kept)) return kept;
    }
    throw fileError(CocoaError::fileWriteUnknown, "No free name to move aside", path);
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
