// SPDX-License-Identifier: GPL-3.0-or-later
// A folder that stays current: the time from another program's new file appearing to the
// window's list holding it, next to a fresh listing of the same folder, for 100 and 100,000
// entries.
//
//   build/release/bench/bench_folderwatch [RUNS]
#include "model/appstate.h"
#include "model/folderlisting.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace kivo;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void touch(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

void measure(int entries, int runs, QSettings& settings) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    for (int i = 0; i < entries; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/IMG_%06d.jpg", i * 2);
        touch(folder + name);
    }
    AppState state({&settings});
    state.openFile(FilePath(folder + "/IMG_000000.jpg"));

    std::vector<double> listing, appearing;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const auto files = listSupportedImages(FilePath(folder));
        listing.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!files || files->size() != size_t(entries + run))
            std::fputs("listing is wrong\n", stderr);

        // Odd numbers, so each new file lands between two listed ones.
        char name[32];
        std::snprintf(name, sizeof name, "/IMG_%06d.jpg", (run * 7919 % entries) * 2 + 1);
        const size_t before = state.imageFiles().size();
        // A lone new file, not the tail of a burst the list is still gathering.
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 100)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        timer.restart();
        touch(folder + name);
        while (state.imageFiles().size() == before && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        appearing.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const double list = median(listing), appear = median(appearing);
    std::printf("%7d entries: listing %8.2f ms   new file in the list after %7.2f ms "
                "(%.4fx the listing)\n",
                entries, list, appear, appear / list);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    for (const int entries : {100, 100000})
        measure(entries, runs, settings);
    return 0;
}
