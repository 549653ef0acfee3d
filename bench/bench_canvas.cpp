// SPDX-License-Identifier: GPL-3.0-or-later
// Paint time of the canvas for a 50 MP photo at fit, 100 % and 800 % and while panning, and the
// time from a new image to its first finished paint. Every figure is set against a reference
// measured in the same run: one QPainter::drawImage of the full bitmap scaled to the viewport,
// which is what a viewer without reduced copies or visible-part clipping pays on every paint.
//
// Run: QT_QPA_PLATFORM=offscreen build/release/bench/bench_canvas
#include "canvas/pannableimageview.h"
#include "canvas/zoomableimageview.h"
#include "canvas/zoomscrollview.h"
#include "imaging/image.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kWidth = 8660; // 8660 x 5773 = 50.0 MP
constexpr int kHeight = 5773;
const QSize kViewport(1600, 1000);

// A photo-like bitmap: smooth gradients with fine detail, so no drawing path can cheat on
// uniform colour.
QImage makePhoto() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x)
            row[x] = qRgb((x * 255) / kWidth, (y * 255) / kHeight, ((x ^ y) & 0x3f) * 4);
    }
    return image;
}

// Milliseconds of `runs` calls: the median, and the fastest, which is the cost itself when
// other work on the machine preempts some runs.
struct Timing {
    double median = 0.0;
    double fastest = 0.0;
};

Timing timeRuns(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QElapsedTimer prepare;
    prepare.start();
    const kivo::ImagePtr photo = kivo::Image::create(makePhoto());
    const kivo::ImagePtr next = kivo::Image::create(makePhoto());
    photo->prepareReducedCopies(); // the loader's work, off the GUI thread in the viewer
    next->prepareReducedCopies();
    std::printf("50 MP photo %dx%d, reduced copies prepared in %.0f ms per image\n", kWidth,
                kHeight, double(prepare.elapsed()) / 2);

    QImage target(kViewport, QImage::Format_ARGB32_Premultiplied);
    const Timing referenceTiming = timeRuns(9, [&] {
        QPainter painter(&target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(QPointF(), QSizeF(kViewport)), photo->bitmap());
    });
    const double reference = referenceTiming.median;
    const double referenceFastest = referenceTiming.fastest;
    std::printf("reference: full bitmap drawn scaled to %dx%d: median %.2f ms, fastest %.2f ms\n\n",
                kViewport.width(), kViewport.height(), reference, referenceFastest);

    kivo::ZoomableImageView view;
    kivo::CanvasInputs inputs;
    view.setInputProvider([&] {
        kivo::CanvasInputs in = inputs;
        in.onZoomActionConsumed = [&] { inputs.zoomAction.reset(); };
        return in;
    });
    view.resize(kViewport);
    view.show();
    settle();

    kivo::PannableImageView& document = *view.scrollView()->documentView();
    QElapsedTimer firstPaint;
    firstPaint.start();
    inputs.image = photo;
    inputs.zoomAction = kivo::ZoomAction::fit;
    view.scheduleUpdate();
    while (document.paintCount() == 0 || view.isUpdatePending())
        QCoreApplication::processEvents();
    const double firstMs = double(firstPaint.nsecsElapsed()) / 1e6;
    settle();

    const auto paint = [&] { view.render(&target); };
    const auto report = [&](const char* name, Timing t) {
        std::printf("%-34s median %6.2f ms (%.3f x ref)  fastest %6.2f ms (%.3f x ref)\n", name,
                    t.median, t.median / reference, t.fastest, t.fastest / referenceFastest);
    };
    const auto reportOnce = [&](const char* name, double ms) {
        std::printf("%-34s once   %6.2f ms (%.3f x ref)\n", name, ms, ms / reference);
    };
    report("paint at fit", timeRuns(30, paint));
    std::printf("  (fit magnification %.4f)\n", view.scrollView()->magnification());
    int zoomStep = 0;
    const double fit = view.scrollView()->minMagnification();
    view.scrollView()->setFitMode(false);
    report("zoom step + paint near fit", timeRuns(30, [&] {
               view.scrollView()->setMagnification(fit * ((zoomStep++ % 2) ? 1.1 : 1.15));
               paint();
           }));

    inputs.zoomAction = kivo::ZoomAction::actualSize;
    view.scheduleUpdate();
    settle();
    report("paint at 100 %", timeRuns(30, paint));
    int step = 0;
    report("pan step + paint at 100 %", timeRuns(60, [&] {
               const QPointF origin = view.scrollView()->clipBounds().topLeft();
               view.scrollView()->scrollClipTo(origin + QPointF((step++ % 2) ? -7 : 7, 5));
               paint();
           }));

    view.scrollView()->setFitMode(false);
    view.scrollView()->setMagnification(8.0);
    report("paint at 800 %", timeRuns(30, paint));
    report("pan step + paint at 800 %", timeRuns(60, [&] {
               const QPointF origin = view.scrollView()->clipBounds().topLeft();
               view.scrollView()->scrollClipTo(origin + QPointF((step++ % 2) ? -3 : 3, 2));
               paint();
           }));

    inputs.zoomAction = kivo::ZoomAction::fit;
    view.scheduleUpdate();
    settle();
    view.scrollView()->setMagnification(view.scrollView()->minMagnification() * 1.6);
    view.scrollView()->setFitMode(false);
    report("pan step + paint at 30 %", timeRuns(60, [&] {
               const QPointF origin = view.scrollView()->clipBounds().topLeft();
               view.scrollView()->scrollClipTo(origin + QPointF((step++ % 2) ? -20 : 20, 10));
               paint();
           }));

    std::printf("\n");
    reportOnce("first image to first paint", firstMs);
    inputs.zoomAction = kivo::ZoomAction::fit;
    view.scheduleUpdate();
    settle();
    const quint64 before = document.paintCount();
    QElapsedTimer nextPaint;
    nextPaint.start();
    inputs.image = next;
    view.scheduleUpdate();
    // Two paints: the snapshot of the old picture for the cross-fade, then the new one on screen.
    while (document.paintCount() < before + 2 || view.isUpdatePending())
        QCoreApplication::processEvents();
    reportOnce("next image (cross-fade) to paint", double(nextPaint.nsecsElapsed()) / 1e6);
    return 0;
}
