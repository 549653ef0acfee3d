// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client's half of the single-instance channel, in the standard library and POSIX alone: the
// viewer and the Qt-free `kivo` launcher both include it, so the socket's name and the bytes on the
// wire have one definition. The running viewer's server side lives in singleinstance.cpp.

#include "desktop/applicationid.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kivo::channel {

// The wire format of a hand-off: "KIVO", a 4-byte big-endian payload length, then the absolute
// paths as raw bytes, each ended by a NUL (a path can hold any byte but NUL, so names that are
// not UTF-8 or that contain newlines survive), and last, for each credential the desktop gave
// the launch, "activation-token=TOKEN" (Wayland's XDG activation) or "startup-id=ID" (X11
// startup notification) and a NUL. The receiver answers one byte once it has taken the files.
inline constexpr std::size_t kMaxPayload = 1 << 20; // 1 MiB
inline constexpr std::size_t kMaxPaths = 10000;
inline constexpr std::size_t kHeaderSize = 8;
inline constexpr char kMagic[] = "KIVO";
inline constexpr char kTokenKey[] = "activation-token=";
inline constexpr char kStartupIdKey[] = "startup-id=";
// How long a sender waits for the running process to take its files.
inline constexpr int kAcknowledgementTimeoutMs = 10000;

inline std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// What the desktop gave this launch so that the window answering it may take the focus and end
// the launch's busy feedback; each empty when none was given.
struct LaunchCredentials {
    std::string activationToken; // Wayland's XDG activation
    std::string startupId;       // X11 startup notification
};

inline LaunchCredentials launchCredentials() {
    return {environment("XDG_ACTIVATION_TOKEN"), environment("DESKTOP_STARTUP_ID")};
}

inline std::string encode(const std::vector<std::string>& paths, const LaunchCredentials& launch) {
    std::string payload;
    for (const std::string& path : paths) {
        payload += path;
        payload += '\0';
    }
    for (const auto& [key, value] : {std::pair{kTokenKey, &launch.activationToken},
                                     std::pair{kStartupIdKey, &launch.startupId}}) {
        if (value->empty() || value->find('\0') != std::string::npos)
            continue;
        payload += key;
        payload += *value;
        payload += '\0';
    }
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string message(kMagic, 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        message += static_cast<char>((length >> shift) & 0xff);
    return message + payload;
}

// Whether a message of `paths` fits what a receiver accepts.
inline bool fits(std::size_t pathCount, std::size_t messageSize) {
    return pathCount <= kMaxPaths && messageSize <= kHeaderSize + kMaxPayload;
}

// A folder only this user can enter, or the folder cannot serve the channel.
inline bool isPrivateFolder(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & 077) == 0;
}

// One channel per display, named so any display string makes a safe file name.
inline std::string displayKey() {
    std::string display = environment("WAYLAND_DISPLAY");
    if (display.empty())
        display = environment("DISPLAY");
    std::string key;
    for (const char c : display.substr(0, 32))
        key += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    return key.empty() ? "none" : key;
}

// Where the channel of this user and this display lives: a folder only the user can enter
// ($XDG_RUNTIME_DIR when it is private, else a private folder made under the temporary folder).
// Empty when no such folder can be had, or the name would not fit a socket address; Kivo then
// runs without a channel.
inline std::string socketPath() {
    std::string folder = environment("XDG_RUNTIME_DIR");
    if (folder.empty() || !isPrivateFolder(folder)) {
        std::string temporary = environment("TMPDIR");
        while (temporary.size() > 1 && temporary.back() == '/')
            temporary.pop_back();
        folder = (temporary.empty() ? std::string("/tmp") : temporary) + "/" + applicationId + "-" +
                 std::to_string(getuid());
        mkdir(folder.c_str(), 0700);
        if (!isPrivateFolder(folder))
            return {};
    }
    const std::string path = folder + "/" + applicationId + "." + displayKey();
    // Room for the NUL and for the election lock's ".lock" beside it.
    if (path.size() + 5 >= sizeof(sockaddr_un::sun_path))
        return {};
    return path;
}

// The socket address of `path`, or none when the path does not fit (it must keep its NUL).
inline std::optional<sockaddr_un> socketAddress(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

// A connected socket, or -1 with errno telling why (ENOENT: nobody made one; ECONNREFUSED: the
// file of a process that died).
inline int connectTo(const std::string& path) {
    auto address = socketAddress(path);
    if (!address) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&*address), sizeof *address) == 0)
        return fd;
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
}

inline bool sendAll(int fd, std::string_view bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

inline bool awaitAcknowledgement(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&entry, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready != 1)
        return false;
    char reply = 0;
    return recv(fd, &reply, 1, 0) == 1;
}

// Sends `message` over the connected `fd` and waits for the running process to take it.
inline bool deliver(int fd, std::string_view message) {
    return sendAll(fd, message) && awaitAcknowledgement(fd, kAcknowledgementTimeoutMs);
}

} // namespace kivo::channel
