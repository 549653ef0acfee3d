// SPDX-License-Identifier: GPL-3.0-or-later
// Listing a folder of 100,000 entries: Kivo's list + filter + natural sort next to a plain
// readdir of the same folder, measured in the same run.
//
//   build/release/bench/bench_listing [ENTRIES]
#include "model/appstate.h"
#include "model/folderlisting.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

size_t plainReaddir(const char* folder) {
    size_t count = 0;
    DIR* dir = opendir(folder);
    if (!dir)
        return 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();

    // Mostly camera-style names with numbers, some other files and hidden ones, in mixed case.
    const char* patterns[] = {"IMG_%d.JPG",   "img_%d.jpg",    "DSC%05d.NEF",       "scan %d.png",
                              "notes %d.txt", ".thumb_%d.jpg", "Holiday (%d).heic", "x%d.tif"};
    for (int i = 0; i < entries; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, patterns[i % 8], i);
        const int fd = ::open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
    }

    size_t kept = 0;
    const double readdirMs = medianMs(7, [&] { plainReaddir(folder.c_str()); });
    const double listMs = medianMs(7, [&] {
        auto listed = kivo::listSupportedImages(kivo::FilePath(folder));
        kept = listed ? listed->size() : 0;
    });
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath("bench.ini"), QSettings::IniFormat);
    kivo::AppState state({&settings});
    const kivo::FilePath opened = kivo::FilePath(folder) / "IMG_800.JPG";
    const double loadMs = medianMs(7, [&] { state.loadFolder(opened); });

    QTextStream out(stdout);
    out << "folder of " << entries << " entries, " << kept << " supported images\n";
    out << QString::asprintf("plain readdir:                %8.1f ms\n", readdirMs);
    out << QString::asprintf("list + filter + sort:         %8.1f ms  (%.1fx readdir)\n", listMs,
                             listMs / readdirMs);
    out << QString::asprintf("AppState::loadFolder:         %8.1f ms  (%.1fx readdir)\n", loadMs,
                             loadMs / readdirMs);
    return 0;
}
