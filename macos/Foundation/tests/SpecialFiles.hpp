#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace ns::testing {

namespace fs = std::filesystem;

// What the system keeps in the file system besides regular files.
enum class Special { device, fifo, folder, socket };

inline const char* kindName(Special kind) {
    switch (kind) {
        case Special::device: return "a device";
        case Special::fifo: return "a fifo";
        case Special::folder: return "a folder";
        case Special::socket: return "a socket";
    }
    return "";
}

// Makes one at `at` and answers where it is: a null device of its own where the process may make
// one (as root), else the system's, which an unprivileged process cannot rename anyway.
inline fs::path makeSpecial(Special kind, const fs::path& at) {
    switch (kind) {
        case Special::device:
            if (::mknod(at.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) return at;
            return "/dev/null";
        case Special::fifo: EXPECT_EQ(::mkfifo(at.c_str(), 0644), 0); return at;
        case Special::folder: fs::create_directory(at); return at;
        case Special::socket: {
            int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", at.c_str());
            EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << at;
            ::close(fd);
            return at;
        }
    }
    return at;
}

inline bool isStill(Special kind, const fs::path& path) {
    auto status = fs::symlink_status(path);
    switch (kind) {
        case Special::device: return fs::is_character_file(status);
        case Special::fifo: return fs::is_fifo(status);
        case Special::folder: return fs::is_directory(status);
        case Special::socket: return fs::is_socket(status);
    }
    return false;
}
}  // namespace ns::testing
