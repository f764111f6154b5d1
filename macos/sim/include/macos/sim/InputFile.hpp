#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace sim {

// A file a person named (a scenario, a script, a manifest) that cannot be taken as one. The message
// is the problem alone, as "is a directory"; the caller names the file.
class InputFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why a regular file could not be read whole, with the system's error number where there is one.
struct RegularFileFailure {
    enum class Kind { openFailed, directory, notRegular, tooLarge, readFailed };
    Kind kind;
    int error = 0;
};

// Reads a whole regular file, of at most `maxBytes` when given, without ever blocking at the open
// (a fifo is refused, not waited on) and never holding more than the limit should the file grow
// meanwhile. Throws RegularFileFailure.
std::string readRegularFile(const std::filesystem::path& path, std::optional<std::size_t> maxBytes);

// Reads a whole file a person named. Only a regular file of at most `maxBytes` is read, so that a
// directory does not read as an empty file, nor a device or a fifo as an endless or blocking one.
std::string readInputFile(const std::filesystem::path& path, std::size_t maxBytes);

// "1 MiB", "64 KiB" or "100 bytes", as the size limits are told.
std::string describeByteCount(std::size_t bytes);

}  // namespace sim
