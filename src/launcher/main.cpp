// SPDX-License-Identifier: GPL-3.0-or-later
// The `kivo` command. Opening a file while Kivo runs should cost the socket exchange, not the
// loading and start of Qt, so this program links nothing but the standard library: it hands the
// files to the running viewer itself, and leaves every other case (no viewer running, options,
// no files, no display) to the viewer it replaces itself with, which then behaves, prints and
// exits exactly as if it had been started directly.
#include "app/fileargument.h"
#include "app/handoffchannel.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#ifndef KIVO_VIEWER_FROM_LAUNCHER
#define KIVO_VIEWER_FROM_LAUNCHER "../libexec/kivo/kivo-viewer"
#endif

namespace {

// The folder this executable was started from, whatever the name it was called by.
std::string ownFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return {};
    const std::string self(buffer, static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/'));
}

// Becomes the viewer with the same arguments and environment; returns only when no viewer could
// be started. A build tree holds the viewer beside the launcher, an install under libexec.
[[noreturn]] void becomeViewer(char** argv) {
    const std::string folder = ownFolder();
    std::string tried;
    for (const char* relative : {"kivo-viewer", KIVO_VIEWER_FROM_LAUNCHER}) {
        const std::string viewer = folder + "/" + relative;
        execv(viewer.c_str(), argv);
        tried = viewer;
        if (errno != ENOENT)
            break;
    }
    std::fprintf(stderr, "kivo: cannot start the viewer %s: %s\n", tried.c_str(),
                 std::strerror(errno));
    std::exit(127);
}

std::string workingFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

// The files `arguments` name when they are nothing but files, or none: anything that looks like
// an option is the viewer's to interpret, and so is a launch without a display, whose channel
// would not be the one of a running viewer.
std::vector<std::string> filesToHandOver(int argc, char** argv) {
    if (kivo::channel::environment("DISPLAY").empty() &&
        kivo::channel::environment("WAYLAND_DISPLAY").empty())
        return {};
    const std::string folder = workingFolder();
    const std::string home = kivo::channel::environment("HOME");
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.starts_with('-'))
            return {};
        if (!argument.empty())
            files.push_back(kivo::absoluteFileArgument(argument, folder, home).native());
    }
    return files;
}

// Whether the running viewer took `files`. Not reaching one (no socket, or the file of a viewer
// that died) leaves the start to a new viewer, which then takes the channel over.
bool handedOver(const std::vector<std::string>& files) {
    const std::string socket = kivo::channel::socketPath();
    const std::string message = kivo::channel::encode(files, kivo::channel::launchCredentials());
    if (socket.empty() || !kivo::channel::fits(files.size(), message.size()))
        return false;
    const int fd = kivo::channel::connectTo(socket);
    if (fd < 0)
        return false;
    const bool delivered = kivo::channel::deliver(fd, message);
    close(fd);
    return delivered;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> files = filesToHandOver(argc, argv);
    if (!files.empty() && handedOver(files))
        return 0;
    becomeViewer(argv);
}
