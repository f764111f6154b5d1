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

// What went wrong and where, the link's target when a link led there, and why:
// `The file could not be saved "<path>" (a link to "<target>"): Permission denied`.
Error fileError(long code, const std::string& what, const fs::path& path, const fs::path& target,
                const std::string& reason) {
    std::string text = what + " \"" + path.string() + "\"";
    if (target != path) text += " (a link to \"" + target.string() + "\")";
    return Error(cocoaErrorDomain, code, text + ": " + reason);
}

long writeErrorCode(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT: return CocoaError::fileWriteOutOfSpace;
        case EACCES:
        case EPERM: return CocoaError::fileWriteNoPermission;
        case EROFS: return CocoaError::fileWriteVolumeReadOnly;
        case EEXIST: return CocoaError::fileWriteFileExists;
        case ENOENT:
        case ENOTDIR: return CocoaError::fileNoSuchFile;
        default: return CocoaError::fileWriteUnknown;
    }
}

// A failure the system reported with `error`.
Error systemError(int error, const std::string& what, const fs::path& path, const fs::path& target) {
    return fileError(writeErrorCode(error), what, path, target, std::strerror(error));
}
Error systemError(int error, const std::string& what, const fs::path& path) {
    return systemError(error, what, path, path);
}

}  // namespace

bool FileManager::isReadOnlyFolder(const fs::path& folder) const {
    if (faults_.readOnlyFolders.empty()) return false;
    const fs::path normal = folder.lexically_normal();
    return std::any_of(faults_.readOnlyFolders.begin(), faults_.readOnlyFolders.end(),
                       [&](const fs::path& readOnly) { return readOnly.lexically_normal() == normal; });
}

void FileManager::createDirectory(const fs::path& path, bool withIntermediateDirectories) const {
    const std::string what = "Could not create the folder";
    if (faults_.createDirectoryFails)
        throw fileError(CocoaError::fileWriteNoPermission, "You don't have permission to create", path);
    std::error_code ec;
    if (fs::is_directory(path, ec)) return;
    // The first folder to be made goes into the nearest one that exists.
    fs::path existing = path.parent_path();
    while (!existing.empty() && existing != existing.root_path() && !fs::exists(existing, ec))
        existing = existing.parent_path();
    if (isReadOnlyFolder(existing)) throw systemError(EACCES, what, path);
    if (withIntermediateDirectories)
        fs::create_directories(path, ec);
    else
        fs::create_directory(path, ec);
    if (ec) throw systemError(ec.value(), what, path);
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
        if (ec) throw systemError(ec.value(), "The symbolic link could not be read", current);
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    throw systemError(ELOOP, "The file could not be reached", path);
}

// What a file of this mode is, when it is not a regular file.
std::string kindOfNonRegularFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISFIFO(mode)) return "a fifo";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "something else";
}

// The file at `target`, not followed; nothing when there is none. Anything but a regular file is
// refused, so that nothing of the system's (a device, a fifo, a folder) is ever replaced or moved.
std::optional<struct stat> regularFileOrNothing(const std::string& what, const fs::path& path, const fs::path& target) {
    struct stat status {};
    if (::lstat(target.c_str(), &status) != 0) {
        if (errno == ENOENT) return std::nullopt;
        throw systemError(errno, what, path, target);
    }
    if (!S_ISREG(status.st_mode))
        throw fileError(CocoaError::fileWriteUnknown, what, path, target,
                        "that is " + kindOfNonRegularFile(status.st_mode) + ", not a regular file");
    return status;
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

// Renames `from` to `to` unless `to` exists: 0, or the system's error (EEXIST when `to` exists).
int renameWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the exclusive rename: a new link is made exclusively too.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) == 0) return 0;
    const int error = errno;
    ::unlink(to.c_str());
    return error;
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
                throw fileError(code, "The file could not be opened", path, path, std::strerror(failure.error));
            }
            case Kind::directory:
            case Kind::notRegular: throw fileError(CocoaError::fileReadUnknown, "This is not a regular file:", path);
            case Kind::tooLarge:
                throw fileError(CocoaError::fileReadTooLarge, "The file is too large to be read", path);
            case Kind::readFailed: break;
        }
        throw fileError(CocoaError::fileReadUnknown, "The file could not be read", path, path,
                        std::strerror(failure.error));
    }
}

void FileManager::writeAtomically(const fs::path& path, const std::string& data) const {
    const std::string what = "The file could not be saved";
    const fs::path target = resolvedTarget(path);
    const auto existing = regularFileOrNothing(what, path, target);
    if (isReadOnlyFolder(target.parent_path())) throw systemError(EACCES, what, path, target);
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
    if (fd < 0) throw systemError(errno, what, path, target);
    int error = 0;
    // The replacement keeps the permissions the person gave the file.
    if (existing && faults_.keepingModeFails)
        error = EPERM;
    else if (existing && ::fchmod(fd, existing->st_mode & 0777) != 0)
        error = errno;
    std::size_t limit = faults_.writeFailsAfterBytes.value_or(data.size());
    std::size_t written = 0;
    while (error == 0 && written < data.size()) {
        std::size_t chunk = std::min(data.size() - written, limit > written ? limit - written : 0);
        if (chunk == 0) {
            error = ENOSPC;
            break;
        }
        ssize_t n = ::write(fd, data.data() + written, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    // A file system may report a failed write only when the file is closed.
    if (::close(fd) != 0 && error == 0) error = errno;
    std::error_code ec;
    if (error != 0) {
        fs::remove(temp, ec);
        throw systemError(error, what, path, target);
    }
    try {
        // Again just before the rename: what was put in the file's place meanwhile is not replaced.
        regularFileOrNothing(what, path, target);
    } catch (const Error&) {
        fs::remove(temp, ec);
        throw;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
        fs::remove(temp, ec);
        throw systemError(error, what, path, target);
    }
}

fs::path FileManager::moveAside(const fs::path& path, std::string_view reason) const {
    const std::string what = "The file could not be moved aside";
    if (faults_.moveAsideFails)
        throw fileError(CocoaError::fileWriteNoPermission, "You don't have permission to move", path);
    const fs::path source = resolvedTarget(path);
    if (!regularFileOrNothing(what, path, source)) throw systemError(ENOENT, what, path, source);
    if (isReadOnlyFolder(source.parent_path())) throw systemError(EACCES, what, path, source);
    const std::string name =
        source.filename().string() + "." + std::string(reason) + "-" + timestamp(runtime::currentDate());
    for (int n = 1; n <= 1000; ++n) {
        fs::path kept = source.parent_path() / (n == 1 ? name : name + "-" + std::to_string(n));
        const int error = renameWithoutReplacing(source, kept);
        if (error == 0) return kept;
        if (error != EEXIST) throw systemError(error, what, path, source);
    }
    throw fileError(CocoaError::fileWriteUnknown, "No free name to move aside", path);
}

void FileManager::putBack(const fs::path& kept, const fs::path& path) const {
    const fs::path target = resolvedTarget(path);
    const int error = isReadOnlyFolder(target.parent_path()) ? EACCES : renameWithoutReplacing(kept, target);
    if (error != 0)
        throw Error(cocoaErrorDomain, writeErrorCode(error),
                    "The kept file \"" + kept.string() + "\" could not be put back as \"" + target.string() +
                        "\": " + std::strerror(error));
}

void FileManager::removeItem(const fs::path& path) const {
    const std::string what = "The file could not be removed";
    if (isReadOnlyFolder(path.parent_path())) throw systemError(EACCES, what, path);
    std::error_code ec;
    if (fs::remove(path, ec)) return;
    throw systemError(ec ? ec.value() : ENOENT, what, path);
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
