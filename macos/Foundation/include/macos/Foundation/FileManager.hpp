#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

enum class SearchPathDirectory { applicationSupport };
enum class SearchPathDomainMask { user };

// Faults a test can inject into file access.
struct FileFaults {
    // Writes stop after this many bytes and fail, as a full disk does.
    std::optional<std::size_t> writeFailsAfterBytes;
    // Paths whose reads fail with a permission error.
    std::set<std::filesystem::path> unreadable;
    // Directory creation fails.
    bool createDirectoryFails = false;
    // Moving a file aside fails, as on a folder the user may not write.
    bool moveAsideFails = false;
    // Folders the user may not write: making, renaming or removing a file in one fails with the
    // system's permission error. Permission bits do not hold back a process run as root.
    std::set<std::filesystem::path> readOnlyFolders;
    // Giving a new file the mode of the one it replaces fails, as on a file system without modes.
    bool keepingModeFails = false;
};

// The file manager. Application Support is $XDG_DATA_HOME, else ~/.local/share; tests point it
// at a temporary folder, or at nothing.
class FileManager {
public:
    static FileManager& defaultManager();

    // The locations of a standard folder; empty when the user has none.
    std::vector<std::filesystem::path> urls(SearchPathDirectory directory, SearchPathDomainMask domain) const;

    // Throws ns::Error. A folder that exists already is no failure.
    void createDirectory(const std::filesystem::path& path, bool withIntermediateDirectories) const;
    bool fileExists(const std::filesystem::path& path) const;
    // Throws ns::Error when the file cannot be read, is not a regular file (a pipe would block the
    // reader), or holds more than `limit` bytes; an oversized file is refused before it is read.
    std::string contents(const std::filesystem::path& path, std::optional<std::size_t> limit = std::nullopt) const;
    // Writes to a temporary file in the same folder, flushes it and renames it over `path`, so a
    // reader never sees a partial file and a failed write leaves the old one. A symbolic link is
    // followed: the file it points to is replaced, beside itself, and the link stays. Only a
    // regular file is replaced: a folder, device, fifo or socket at `path` or at the end of its
    // links is left alone and the write fails. The new file keeps the mode of the one it replaces.
    // The temporary file is made exclusively; leftovers of a write to the same file by an earlier
    // process (one that crashed) are removed first. Throws ns::Error, whose text names the path,
    // the link's target when there is one, and the reason the system gave.
    void writeAtomically(const std::filesystem::path& path, const std::string& data) const;
    // Moves the regular file at `path` (the file a symbolic link points to, beside itself) to
    // "<name>.<reason>-<UTC date and time>", adding "-2", "-3", ... when that is taken: an earlier
    // kept file is never replaced, and anything but a regular file is never moved. Answers the new
    // path. Throws ns::Error.
    std::filesystem::path moveAside(const std::filesystem::path& path, std::string_view reason) const;
    // Moves a file that moveAside kept back to `path` (to where a link there points), unless
    // something took that place meanwhile. Throws ns::Error.
    void putBack(const std::filesystem::path& kept, const std::filesystem::path& path) const;
    // Throws ns::Error.
    void removeItem(const std::filesystem::path& path) const;

    // Test seams.
    void setApplicationSupportOverride(std::optional<std::filesystem::path> base);
    void setNoApplicationSupport(bool none);
    void setFaults(FileFaults faults);
    void reset();

private:
    std::optional<std::filesystem::path> applicationSupportOverride_;
    bool noApplicationSupport_ = false;
    bool isReadOnlyFolder(const std::filesystem::path& folder) const;

    FileFaults faults_;
};

}  // namespace ns
