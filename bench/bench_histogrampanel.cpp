// SPDX-License-Identifier: GPL-3.0-or-later
// The histogram panel given a new 24-megapixel image: the time until its chart is drawn (counting
// on the histogram pool, the result handed back, the chart painted), next to the counting alone
// in the same run, and next to the same counting sent to the pool and waited for (the thread
// hand-over, which on a loaded machine is most of the difference). Best of 15 runs each.

#include "panels/histogram.h"
#include "panels/histogramchart.h"
#include "panels/histogrampanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThreadPool>
#include <QtConcurrent>

using namespace kivo;

namespace {

QImage photoSizedNoise() {
    QImage image(6000, 4000, QImage::Format_RGB32);
    quint32 state = 1;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = state | 0xff000000u;
        }
    }
    return image;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QImage bitmap = photoSizedNoise();

    QThreadPool pool;
    pool.setMaxThreadCount(1);
    HistogramPanel panel(pool);
    panel.show();
    double panelBest = 1e300;
    double countBest = 1e300;
    double pooledBest = 1e300;
    double chartBest = 1e300;
    for (int run = 0; run < 15; ++run) {
        // New image objects each time, made before the clock starts, as a decoder hands them
        // over; each measurement gets its own, so none finds another's pixels in the caches.
        const auto fresh = [&] { return Image::create(bitmap.copy(0, 0, 6000, 4000 - run % 2)); };
        const ImagePtr alone = fresh();
        QElapsedTimer timer;
        timer.start();
        if (!computeHistogram(*alone))
            return 1;
        countBest = std::min(countBest, double(timer.nsecsElapsed()) / 1e6);

        const ImagePtr pooled = fresh();
        timer.restart();
        QtConcurrent::run(&pool, [pooled] { return computeHistogram(*pooled); }).waitForFinished();
        pooledBest = std::min(pooledBest, double(timer.nsecsElapsed()) / 1e6);

        const ImagePtr shown = fresh();
        QCoreApplication::processEvents(); // the panel idle before the clock starts
        timer.restart();
        panel.setImage(shown);
        while (panel.isCounting())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        panel.chart()->repaint();
        panelBest = std::min(panelBest, double(timer.nsecsElapsed()) / 1e6);

        timer.restart();
        panel.chart()->repaint();
        chartBest = std::min(chartBest, double(timer.nsecsElapsed()) / 1e6);
    }
    out << QString::asprintf("6000 x 4000 (24 MP), best of 15\n"
                             "panel, new image to chart drawn: %7.2f ms\n"
                             "counting alone:                  %7.2f ms\n"
                             "counting on the pool, waited for: %7.2f ms\n"
                             "chart repaint alone:             %7.2f ms\n"
                             "panel adds to counting:          %7.2f ms (panel/counting %.2f, "
                             "panel/pooled counting %.2f)\n",
                             panelBest, countBest, pooledBest, chartBest, panelBest - countBest,
                             panelBest / countBest, panelBest / pooledBest);
    return 0;
}
