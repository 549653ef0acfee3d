// GUI-thread time of one step to the next picture in a folder of 24-megapixel JPEGs: the
// model's navigate() plus the first drawing at fit size in a 1440 x 900 window, as the canvas
// draws it (the smallest prepared reduced copy still at least the fit scale, smoothly scaled).
// Measured twice in the same run: when the neighbour was preloaded (the usual case) and, as
// the reference, when it was not and has to be decoded on the GUI thread. The drawing runs
// while the new neighbour is already decoding on another core, as it does in the viewer.
//
//   build/release/bench/bench_stepping [files=6] [steps=12]
#include "model/appstate.h"
#include "model/preloadpool.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThreadPool>
#include <algorithm>
#include <vector>

using namespace kivo;

namespace {

constexpr QSize kPhotoSize(6000, 4000);
constexpr QSize kViewport(1440, 900);

// A picture with the detail of a photograph (gradients, edges and grain), so the JPEG decoder
// does the work it does on a camera's files rather than on flat colour.
QImage syntheticPhoto(int seed) {
    QImage image(kPhotoSize, QImage::Format_RGB32);
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = static_cast<int>(random.bounded(24u));
            line[x] = qRgb((x / 24 + seed * 40 + grain) & 0xff, (y / 16 + grain) & 0xff,
                           ((x + y) / 32 + grain) & 0xff);
        }
    }
    QPainter painter(&image);
    painter.setPen(QPen(Qt::white, 9));
    for (int i = 0; i < 60; ++i)
        painter.drawLine(
            static_cast<int>(random.bounded(6000u)), static_cast<int>(random.bounded(4000u)),
            static_cast<int>(random.bounded(6000u)), static_cast<int>(random.bounded(4000u)));
    return image;
}

// The canvas's first drawing of a new picture at fit size.
void drawAtFit(const ImagePtr& image, QImage& window) {
    if (!image)
        return;
    const double scale = std::min({double(kViewport.width()) / image->width(),
                                   double(kViewport.height()) / image->height(), 1.0});
    const QImage& copy = image->bestCopyForScale(scale);
    QPainter painter(&window);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF shown = QSizeF(image->size()) * scale;
    painter.drawImage(QRectF(QPointF((kViewport.width() - shown.width()) / 2,
                                     (kViewport.height() - shown.height()) / 2),
                             shown),
                      copy);
}

void finishPreloads() {
    preloadThreadPool().waitForDone();
    QCoreApplication::sendPostedEvents();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    double step = 0;        // median of navigate() alone
    double stepAndDraw = 0; // median of navigate() and the first drawing
};

// Steps `steps` times through the folder; before each step the background work of the last
// one is left to finish, and `preloaded` decides whether its result is kept.
Figures measure(AppState& state, QImage& window, int steps, bool preloaded) {
    std::vector<double> stepTimes;
    std::vector<double> totalTimes;
    for (int i = 0; i < steps; ++i) {
        finishPreloads();
        if (!preloaded)
            state.setPreloadedImages({});
        QElapsedTimer timer;
        timer.start();
        state.navigate(+1);
        stepTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
        drawAtFit(state.currentImage(), window);
        totalTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return {median(stepTimes), median(totalTimes)};
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
        if (!writer.write(syntheticPhoto(i)))
            return 1;
    }

    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    AppState state({&settings});
    QImage window(kViewport, QImage::Format_ARGB32_Premultiplied);
    state.openFile(filePathFromText(folder.filePath(QStringLiteral("photo0.jpg"))));
    drawAtFit(state.currentImage(), window);

    const Figures reference = measure(state, window, steps, false);
    const Figures preloaded = measure(state, window, steps, true);
    finishPreloads();

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
    row("  navigate + draw at fit    ", preloaded.stepAndDraw, reference.stepAndDraw);
    out << "(goal for a preloaded step: under 5 ms)\n";
    return 0;
}
