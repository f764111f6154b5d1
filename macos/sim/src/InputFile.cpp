#include "macos/sim/InputFile.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

// Closes the descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string describeByteCount(std::size_t bytes) {
    constexpr std::size_t kib = 1024, mib = 1024 * 1024;
    if (bytes >= mib && bytes % mib == 0) return std::to_string(bytes / mib) + " MiB";
    if (bytes >= kib && bytes % kib == 0) return std::to_string(bytes / kib) + " KiB";
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string readRegularFile(const std::filesystem::path& path, std::optional<std::size_t> maxBytes) {
    using Kind = RegularFileFailure::Kind;
    // Non-blocking, so that opening a fifo does not wait for a writer before it can be refused.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == EISDIR) throw RegularFileFailure{Kind::directory};
        throw RegularFileFailure{Kind::openFailed, errno};
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) throw RegularFileFailure{Kind::readFailed, errno};
    if (S_ISDIR(status.st_mode)) throw RegularFileFailure{Kind::directory};
    if (!S_ISREG(status.st_mode)) throw RegularFileFailure{Kind::notRegular};
    if (maxBytes && static_cast<std::uintmax_t>(status.st_size) > *maxBytes) throw RegularFileFailure{Kind::tooLarge};

    std::string text;
    char buffer[64 * 1024];
    for (;;) {
        const auto got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw RegularFileFailure{Kind::readFailed, errno};
        }
        if (got == 0) break;
        if (maxBytes && text.size() + static_cast<std::size_t>(got) > *maxBytes)
            throw RegularFileFailure{Kind::tooLarge};
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

std::string readInputFile(const std::filesystem::path& path, std::size_t maxBytes) {
    using Kind = RegularFileFailure::Kind;
    try {
        return readRegularFile(path, maxBytes);
    } catch (const RegularFileFailure& failure) {
        switch (failure.kind) {
            case Kind::directory: throw InputFileError("is a directory");
            case Kind::notRegular: throw InputFileError("is not a regular file");
            case Kind::tooLarge: throw InputFileError("is larger than " + describeByteCount(maxBytes));
            case Kind::openFailed:
            case Kind::readFailed: break;
        }
        throw InputFileError(std::string("cannot be read: ") + std::strerror(failure.error));
    }
}

}  // namespace sim
