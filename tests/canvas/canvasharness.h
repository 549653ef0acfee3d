// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A canvas on screen whose inputs a test sets directly, recording what the canvas reports back
// in the order it happens.

#include "canvas/overlayscrollbar.h"
#include "canvas/pannableimageview.h"
#include "canvas/zoomableimageview.h"
#include "canvas/zoomscrollview.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTest>
#include <initializer_list>

namespace kivo::test {

inline bool near(double a, double b, double tolerance = 1e-6) {
    return std::abs(a - b) <= tolerance;
}

inline ImagePtr solidImage(int width, int height, QColor colour = QColor(200, 40, 40)) {
    QImage bitmap(width, height, QImage::Format_ARGB32_Premultiplied);
    bitmap.fill(colour);
    return Image::create(bitmap);
}

// Pixels expected at points of a picture.
using PixelChecks = std::initializer_list<std::pair<QPoint, QColor>>;
inline void checkPixels(const QImage& shot, PixelChecks checks) {
    for (const auto& [at, colour] : checks)
        QCOMPARE(shot.pixelColor(at), colour);
}

struct CanvasHarness {
    ZoomableImageView view;
    CanvasInputs inputs; // what the next update reads
    QStringList log;     // "zoomConsumed", "scrollConsumed", "state", "doubleClick", "next", ...
    double magnification = 0.0;
    QRectF visibleRect;

    explicit CanvasHarness(QSize size) {
        view.resize(size);
        view.setInputProvider([this] {
            CanvasInputs in = inputs;
            in.onZoomActionConsumed = [this] {
                log << "zoomConsumed";
                inputs.zoomAction.reset();
            };
            in.onScrollTargetConsumed = [this] {
                log << "scrollConsumed";
                inputs.scrollTarget.reset();
            };
            in.onStateChange = [this](double m, QRectF rect) {
                log << "state";
                magnification = m;
                visibleRect = rect;
            };
            in.onDoubleClick = [this] { log << "doubleClick"; };
            in.onNavigateClick = [this](bool isNext) { log << (isNext ? "next" : "previous"); };
            return in;
        });
        view.show();
        static_cast<void>(QTest::qWaitForWindowExposed(&view));
        settle();
    }

    ZoomScrollView& scroll() { return *view.scrollView(); }
    PannableImageView& document() { return *scroll().documentView(); }
    bool barsShown() {
        return scroll().horizontalOverlayBar()->isVisible() ||
               scroll().verticalOverlayBar()->isVisible();
    }

    // Runs the scheduled update and the work it deferred.
    static void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    void update() {
        view.scheduleUpdate();
        settle();
    }
    void request(ZoomAction action) {
        inputs.zoomAction = action;
        update();
    }
    void resize(int width, int height) {
        view.resize(width, height);
        settle();
    }

    // Shows `image` at the given zoom request, settled, with a fresh log.
    void show(ImagePtr image, std::optional<ZoomAction> action = ZoomAction::fit) {
        inputs.image = std::move(image);
        inputs.zoomAction = action;
        update();
        log.clear();
    }

    QImage grab() { return view.grab().toImage(); }
};

} // namespace kivo::test
