#include "canvas/canvasgeometry.h"

#include <QTest>
#include <tuple>

using namespace kivo::canvas;

class TestCanvasGeometry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fitAndCentring() {
        const std::tuple<QSizeF, QSizeF, double> fits[] = {
            {{1000, 800}, {4000, 3000}, 0.25},
            {{1000, 800}, {300, 200}, 1.0}, // a small image is not enlarged
            {{1000, 800}, {1000, 4000}, 0.2},
        };
        for (const auto& [viewport, document, expected] : fits)
            QCOMPARE(fitMagnification(viewport, document).value_or(-1), expected);
        QVERIFY(!fitMagnification({1000, 800}, {0, 0}));
        QVERIFY(!fitMagnification({0, 800}, {400, 300}));

        const std::tuple<QRectF, QSizeF, QRectF> clips[] = {
            // 4000 x 3000 at 0.25 in 1000 x 800: the clip is taller than the image.
            {{0, 0, 4000, 3200}, {4000, 3000}, {0, -100, 4000, 3200}},
            {{50, 50, 1000, 800}, {300, 200}, {-350, -300, 1000, 800}},
            {{-20, 0, 1000, 500}, {1000, 2000}, {0, 0, 1000, 500}}, // exactly as wide
            {{3500, 2900, 1000, 800}, {4000, 3000}, {3000, 2200, 1000, 800}},
            {{-10, -10, 1000, 800}, {4000, 3000}, {0, 0, 1000, 800}},
        };
        for (const auto& [proposed, document, expected] : clips)
            QCOMPARE(constrainClipBounds(proposed, document), expected);
    }

    void wheelZoom() {
        const std::tuple<double, double, bool, double> cases[] = {
            {1.0, 1.0, false, 1.1},   {1.0, -1.0, false, 0.9},   {2.0, 10.0, true, 2.1},
            {19.0, 3.0, false, 20.0}, {1.0, -50.0, false, 0.25},
        };
        for (const auto& [current, dy, precise, expected] : cases)
            QCOMPARE(wheelZoomTarget(current, dy, precise, 0.25, 20.0), expected);
    }

    // The y axis turns over between the canvas (top-left, y down) and the model (lower-left,
    // y up).
    void unitCoordinates() {
        const QSizeF photo(4000, 3000);
        const std::tuple<QRectF, QSizeF, QRectF> cases[] = {
            {{0, -100, 4000, 3200}, photo, {0, 0, 1, 1}},
            {{0, 0, 2000, 1500}, photo, {0, 0.5, 0.5, 0.5}},
            {{2000, 1500, 2000, 1500}, photo, {0.5, 0, 0.5, 0.5}},
            {{-350, -300, 1000, 800}, {300, 200}, {0, 0, 1, 1}},
        };
        for (const auto& [clip, document, expected] : cases)
            QCOMPARE(visibleUnitRect(clip, document).value_or(QRectF()), expected);
        QVERIFY(!visibleUnitRect({0, 0, 10, 10}, QSizeF()));

        const QSizeF clip(1000, 800);
        QCOMPARE(clipOriginForUnitTarget({0.5, 0.5}, photo, clip), QPointF(1500, 1100));
        QCOMPARE(clipOriginForUnitTarget({0, 0}, photo, clip), QPointF(-500, 2600));
        const QPointF there = clipOriginForUnitTarget({0.25, 0.75}, photo, clip);
        QCOMPARE(visibleUnitRect({there, clip}, photo)->center(), QPointF(0.25, 0.75));
    }

    // Quarter turns swap the sides exactly; floating-point sine and cosine would not.
    void rotatedSize() {
        const std::tuple<double, QSize> cases[] = {
            {90, {200, 300}},  {180, {300, 200}}, {-90, {200, 300}},
            {450, {200, 300}}, {45, {354, 354}},  {qQNaN(), {300, 200}},
        };
        for (const auto& [degrees, expected] : cases)
            QCOMPARE(rotatedPixelSize(QSize(300, 200), degrees), expected);
    }

    void autoSize() {
        const std::tuple<QSizeF, QRectF> cases[] = {
            {{800, 600}, {320, 148.5, 800, 628}},   // fits at 100 %
            {{4000, 3000}, {155.5, 25, 1129, 875}}, // scaled to the height
            {{3000, 1000}, {0, 208.5, 1440, 508}},  // scaled to the width
        };
        for (const auto& [image, frame] : cases)
            QCOMPARE(autoSizeFrame(QRectF(0, 25, 1440, 875), QSizeF(0, 28), image)->frame, frame);
        // 1061 x 1000 scaled by 0.5: a canvas width of 530.5 points becomes 531.
        QCOMPARE(autoSizeFrame(QRectF(0, 0, 2000, 500), {0, 0}, {1061, 1000})->canvasSize,
                 QSizeF(531, 500));
        // A screen smaller than the window's own chrome leaves no room for a canvas.
        QVERIFY(!autoSizeFrame(QRectF(0, 0, 100, 100), QSizeF(0, 200), {100, 100}));
    }

    void navigatorMapping() {
        QCOMPARE(navigatorSize({1000, 4000}, 150), QSizeF(37.5, 150));
        QCOMPARE(navigatorSize({1000000, 1000}, 150), QSizeF(150, 1)); // never thinner than 1
        QCOMPARE(navigatorViewportFrame({0.25, 0.5, 0.5, 0.5}, {150, 150}),
                 QRectF(37.5, 0, 75, 75));
        QCOMPARE(navigatorViewportFrame({-0.1, 0, 1.2, 1}, {150, 100}).width(), 150.0);
        QCOMPARE(navigatorTargetForPointer({-30, 400}, {150, 100}), QPointF(0, 0));
        QVERIFY(navigatorShouldShow({0, 0, 1, 1}, true));
        QVERIFY(navigatorShouldShow({0, 0, 0.98, 1}, false));
        QVERIFY(!navigatorShouldShow({0, 0, 1, 1}, false));
    }
};

QTEST_GUILESS_MAIN(TestCanvasGeometry)
#include "test_canvasgeometry.moc"
