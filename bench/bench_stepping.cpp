// SPDX-License-Identifier: GPL-3.0-or-later
// GUI-thread time of one step to the next picture in a folder of 24-megapixel JPEGs: the
// model's navigate() alone, and navigate() until the canvas (bound to the model as in the
// viewer, 1440 x 900) has painted the new picture. Measured twice in the same run: when the
// neighbour was preloaded (the usual case) and, as the reference, when it was not and has to
// be decoded on the GUI thread. The painting runs while the new neighbour is already decoding
// on another core, as it does in the viewer.
//
//   QT_QPA_PLATFORM=offscreen build/release/bench/bench_stepping [files=6] [steps=12]
#include "canvas/pannableimageview.h"
#include "canvas/zoomableimageview.h"
#include "canvas/zoomscrollview.h"
#include "imaging/tasks/workerpools.h"
#include "model/appstate.h"
#include "syntheticphoto.h"
#include "viewer/statebinding.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThreadPool>
#include <algorithm>
#include <ctime>
#include <vector>

using namespace kivo;

namespace {

constexpr QSize kPhotoSize(6000, 4000);
constexpr QSize kViewport(1440, 900);

// Lets the canvas run its update and paint the current picture: the old picture's snapshot
// for the cross-fade, then the new one.
void waitForPaint(ZoomableImageView& view, quint64 paintsBefore, int paints) {
    const PannableImageView& document = *view.scrollView()->documentView();
    QElapsedTimer limit;
    limit.start();
    while ((document.paintCount() < paintsBefore + quint64(paints) || view.isUpdatePending()) &&
           limit.elapsed() < 10000)
        QCoreApplication::processEvents();
}

void finishPreloads(WorkerPools& pools) {
    pools.preload.waitForDone();
    QCoreApplication::sendPostedEvents();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    double step = 0;        // median of navigate() alone
    double stepAndDraw = 0; // median of navigate() until the new picture is painted
    double busy = 0;        // median CPU time the GUI thread itself spent in that span
};

// CPU time of the calling thread: what it computed, without the time it sat blocked (in Qt's
// image scaling, waiting for its segments on the global thread pool).
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Steps `steps` times through the folder; before each step the background work of the last
// one is left to finish, and `preloaded` decides whether its result is kept.
Figures measure(AppState& state, ZoomableImageView& view, WorkerPools& pools, int steps,
                bool preloaded) {
    std::vector<double> stepTimes;
    std::vector<double> totalTimes;
    std::vector<double> busyTimes;
    for (int i = 0; i < steps; ++i) {
        finishPreloads(pools);
        if (!preloaded)
            state.setPreloadedImages({});
        const quint64 paints = view.scrollView()->documentView()->paintCount();
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = threadCpuMs();
        state.navigate(+1);
        stepTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
        waitForPaint(view, paints, 2);
        totalTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
        busyTimes.push_back(threadCpuMs() - cpuBefore);
    }
    return {median(stepTimes), median(totalTimes), median(busyTimes)};
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::max(3, QString(argv[1]).toInt()) : 6;
    const int steps = argc > 2 ? std::max(1, QString(argv[2]).toInt()) : 12;
    QTextStream out(stdout);

    QTemporaryDir folder;
    out << "writing " << files << " JPEGs of " << kPhotoSize.width() << " x " << kPhotoSize.height()
        << " ..." << Qt::endl;
    for (int i = 0; i < files; ++i) {
        QImageWriter writer(folder.filePath(QStringLiteral("photo%1.jpg").arg(i)), "jpeg");
        writer.setQuality(90);
        if (!writer.write(bench::syntheticPhoto(i, kPhotoSize)))
            return 1;
    }

    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    WorkerPools pools;
    AppState state({&settings, &pools});
    ZoomableImageView view(nullptr, &pools.animation);
    bindCanvasToState(view, state);
    view.resize(kViewport);
    view.show();
    state.openFile(filePathFromText(folder.filePath(QStringLiteral("photo0.jpg"))));
    waitForPaint(view, 0, 1);

    const Figures reference = measure(state, view, pools, steps, false);
    const Figures preloaded = measure(state, view, pools, steps, true);
    finishPreloads(pools);

    out << Qt::fixed;
    out.setRealNumberPrecision(2);
    out << "GUI-thread time per step, median of " << steps << " steps (window " << kViewport.width()
        << " x " << kViewport.height() << "):\n";
    out << "                              preloaded   not preloaded (reference)   ratio\n";
    const auto row = [&](const char* label, double with, double without) {
        out << label << qSetFieldWidth(9) << with << qSetFieldWidth(0) << " ms"
            << qSetFieldWidth(14) << without << qSetFieldWidth(0) << " ms" << qSetFieldWidth(19)
            << (100.0 * with / without) << qSetFieldWidth(0) << " %\n";
    };
    row("  navigate                  ", preloaded.step, reference.step);
    row("  navigate + canvas paint   ", preloaded.stepAndDraw, reference.stepAndDraw);
    row("    of which GUI-thread CPU ", preloaded.busy, reference.busy);
    out << "(goal for a preloaded step: under 5 ms)\n";
    return 0;
}
