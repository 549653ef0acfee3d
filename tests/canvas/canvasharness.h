#pragma once

// A canvas on screen whose inputs a test sets directly, recording what the canvas reports back
// in the order it happens.

#include "canvas/pannableimageview.h"
#include "canvas/zoomableimageview.h"
#include "canvas/zoomscrollview.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTest>
#include <span>

namespace kivo::test {

inline bool near(double a, double b, double tolerance = 1e-6) {
    return std::abs(a - b) <= tolerance;
}

inline ImagePtr solidImage(int width, int height, QColor colour = QColor(200, 40, 40)) {
    QImage bitmap(width, height, QImage::Format_ARGB32_Premultiplied);
    bitmap.fill(colour);
    return Image::create(bitmap);
}

struct PixelCheck {
    QPoint at;
    QColor colour;
};

// Empty when every pixel matches; otherwise names the first that differs, so that
// QCOMPARE(firstWrongPixel(...), QString()) says where the drawing went wrong.
inline QString firstWrongPixel(const QImage& shot, std::span<const PixelCheck> checks) {
    for (const auto& [at, colour] : checks)
        if (const QColor seen = shot.pixelColor(at); seen != colour)
            return QStringLiteral("%1,%2: %3 not %4")
                .arg(at.x())
                .arg(at.y())
                .arg(seen.name(), colour.name());
    return {};
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
                log << QStringLiteral("zoomConsumed");
                inputs.zoomAction.reset();
            };
            in.onScrollTargetConsumed = [this] {
                log << QStringLiteral("scrollConsumed");
                inputs.scrollTarget.reset();
            };
            in.onStateChange = [this](double m, QRectF rect) {
                log << QStringLiteral("state");
                magnification = m;
                visibleRect = rect;
            };
            in.onDoubleClick = [this] { log << QStringLiteral("doubleClick"); };
            in.onNavigateClick = [this](bool isNext) {
                log << (isNext ? QStringLiteral("next") : QStringLiteral("previous"));
            };
            return in;
        });
        view.show();
        static_cast<void>(QTest::qWaitForWindowExposed(&view));
        settle();
    }

    ZoomScrollView& scroll() { return *view.scrollView(); }
    PannableImageView& document() { return *scroll().documentView(); }

    // Runs every pending turn of the event loop: the scheduled update and what it deferred.
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

    // Shows `image` at the given zoom request and waits for the canvas to settle.
    void show(ImagePtr image, std::optional<ZoomAction> action = ZoomAction::fit) {
        inputs.image = std::move(image);
        inputs.zoomAction = action;
        update();
        log.clear();
    }

    QImage grab() { return view.grab().toImage(); }
};

} // namespace kivo::test
