#include "canvas/canvasgeometry.h"

#include <QTest>

using namespace kivo::canvas;

namespace {

bool near(double a, double b, double tolerance = 1e-6) {
    return std::abs(a - b) <= tolerance;
}

bool near(const QRectF& a, const QRectF& b, double tolerance = 1e-6) {
    return near(a.x(), b.x(), tolerance) && near(a.y(), b.y(), tolerance) &&
           near(a.width(), b.width(), tolerance) && near(a.height(), b.height(), tolerance);
}

} // namespace

class TestCanvasGeometry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fitScale_data() {
        QTest::addColumn<QSizeF>("viewport");
        QTest::addColumn<QSizeF>("document");
        QTest::addColumn<double>("expected"); // -1: absent
        QTest::newRow("large photo") << QSizeF(1000, 800) << QSizeF(4000, 3000) << 0.25;
        QTest::newRow("small image is not enlarged")
            << QSizeF(1000, 800) << QSizeF(300, 200) << 1.0;
        QTest::newRow("tall image") << QSizeF(1000, 800) << QSizeF(1000, 4000) << 0.2;
        QTest::newRow("no document") << QSizeF(1000, 800) << QSizeF(0, 0) << -1.0;
        QTest::newRow("collapsed viewport") << QSizeF(0, 800) << QSizeF(400, 300) << -1.0;
    }
    void fitScale() {
        QFETCH(QSizeF, viewport);
        QFETCH(QSizeF, document);
        QFETCH(double, expected);
        const auto fit = fitMagnification(viewport, document);
        if (expected < 0)
            QVERIFY(!fit);
        else
            QVERIFY(fit && near(*fit, expected));
    }

    void centringConstraint_data() {
        QTest::addColumn<QRectF>("proposed");
        QTest::addColumn<QSizeF>("document");
        QTest::addColumn<QRectF>("expected");
        // 4000 x 3000 at 0.25 in 1000 x 800: the clip is 4000 x 3200, taller than the image.
        QTest::newRow("centred vertically")
            << QRectF(0, 0, 4000, 3200) << QSizeF(4000, 3000) << QRectF(0, -100, 4000, 3200);
        QTest::newRow("small image centred on both axes")
            << QRectF(50, 50, 1000, 800) << QSizeF(300, 200) << QRectF(-350, -300, 1000, 800);
        QTest::newRow("exactly as wide is not offset")
            << QRectF(-20, 0, 1000, 500) << QSizeF(1000, 2000) << QRectF(0, 0, 1000, 500);
        QTest::newRow("clamped at the far edges")
            << QRectF(3500, 2900, 1000, 800) << QSizeF(4000, 3000) << QRectF(3000, 2200, 1000, 800);
        QTest::newRow("clamped at the near edges")
            << QRectF(-10, -10, 1000, 800) << QSizeF(4000, 3000) << QRectF(0, 0, 1000, 800);
    }
    void centringConstraint() {
        QFETCH(QRectF, proposed);
        QFETCH(QSizeF, document);
        QFETCH(QRectF, expected);
        QCOMPARE(constrainClipBounds(proposed, document), expected);
    }

    void wheelZoom_data() {
        QTest::addColumn<double>("current");
        QTest::addColumn<double>("dy");
        QTest::addColumn<bool>("precise");
        QTest::addColumn<double>("expected");
        QTest::newRow("one notch in") << 1.0 << 1.0 << false << 1.1;
        QTest::newRow("one notch out") << 1.0 << -1.0 << false << 0.9;
        QTest::newRow("touchpad 10 px") << 2.0 << 10.0 << true << 2.1;
        QTest::newRow("clamped at the maximum") << 19.0 << 3.0 << false << 20.0;
        QTest::newRow("huge negative delta lands on the minimum") << 1.0 << -50.0 << false << 0.25;
    }
    void wheelZoom() {
        QFETCH(double, current);
        QFETCH(double, dy);
        QFETCH(bool, precise);
        QFETCH(double, expected);
        QVERIFY(near(wheelZoomTarget(current, dy, precise, 0.25, 20.0), expected));
    }

    void anchorKeepsItsPlace() {
        const QPointF origin(100, 50);
        const QPointF anchor(300, 250);
        const QPointF after = originKeepingAnchor(origin, anchor, 1.0, 2.0);
        // On screen the anchor was at (anchor - origin) * 1 and stays there at 2x.
        QCOMPARE((anchor - after) * 2.0, (anchor - origin) * 1.0);
    }

    // The y axis turns over between the canvas (top-left, y down) and the model (lower-left,
    // y up); both directions are checked against each other.
    void unitCoordinates_data() {
        QTest::addColumn<QRectF>("clip");
        QTest::addColumn<QSizeF>("document");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("fully visible")
            << QRectF(0, -100, 4000, 3200) << QSizeF(4000, 3000) << QRectF(0, 0, 1, 1);
        QTest::newRow("top-left quarter")
            << QRectF(0, 0, 2000, 1500) << QSizeF(4000, 3000) << QRectF(0, 0.5, 0.5, 0.5);
        QTest::newRow("bottom-right quarter")
            << QRectF(2000, 1500, 2000, 1500) << QSizeF(4000, 3000) << QRectF(0.5, 0, 0.5, 0.5);
        QTest::newRow("small centred image")
            << QRectF(-350, -300, 1000, 800) << QSizeF(300, 200) << QRectF(0, 0, 1, 1);
    }
    void unitCoordinates() {
        QFETCH(QRectF, clip);
        QFETCH(QSizeF, document);
        QFETCH(QRectF, expected);
        const auto rect = visibleUnitRect(clip, document);
        QVERIFY(rect);
        QVERIFY2(near(*rect, expected), qPrintable(QStringLiteral("%1 %2 %3 %4")
                                                       .arg(rect->x())
                                                       .arg(rect->y())
                                                       .arg(rect->width())
                                                       .arg(rect->height())));
        QVERIFY(!visibleUnitRect(clip, QSizeF()));
    }

    void scrollTargetOrigin() {
        const QSizeF document(4000, 3000);
        const QSizeF clip(1000, 800);
        QCOMPARE(clipOriginForUnitTarget({0.5, 0.5}, document, clip), QPointF(1500, 1100));
        // The lower-left corner of the image is its bottom in Qt's y-down points.
        QCOMPARE(clipOriginForUnitTarget({0, 0}, document, clip), QPointF(-500, 2600));
        const QRectF back = *visibleUnitRect(
            QRectF(clipOriginForUnitTarget({0.25, 0.75}, document, clip), clip), document);
        QVERIFY(near(back.center().x(), 0.25) && near(back.center().y(), 0.75));
    }

    void rotatedSize_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("0") << 0.0 << QSize(300, 200);
        QTest::newRow("90 swaps") << 90.0 << QSize(200, 300);
        QTest::newRow("180 keeps") << 180.0 << QSize(300, 200);
        QTest::newRow("-90 is 270") << -90.0 << QSize(200, 300);
        QTest::newRow("450 is 90") << 450.0 << QSize(200, 300);
        QTest::newRow("45 bounding box") << 45.0 << QSize(354, 354);
        QTest::newRow("not finite") << qQNaN() << QSize(300, 200);
    }
    void rotatedSize() {
        QFETCH(double, degrees);
        QFETCH(QSize, expected);
        QCOMPARE(rotatedPixelSize(QSize(300, 200), degrees), expected);
    }

    void autoSize_data() {
        QTest::addColumn<QSizeF>("image");
        QTest::addColumn<QRectF>("frame");
        QTest::newRow("fits at 100 %") << QSizeF(800, 600) << QRectF(320, 148.5, 800, 628);
        QTest::newRow("scaled to the height") << QSizeF(4000, 3000) << QRectF(155.5, 25, 1129, 875);
        QTest::newRow("scaled to the width") << QSizeF(3000, 1000) << QRectF(0, 208.5, 1440, 508);
    }
    void autoSize() {
        QFETCH(QSizeF, image);
        QFETCH(QRectF, frame);
        const auto result = autoSizeFrame(QRectF(0, 25, 1440, 875), QSizeF(0, 28), image);
        QVERIFY(result);
        QVERIFY(near(result->frame, frame));
    }
    void autoSizeRoundsHalvesUp() {
        // 1061 x 1000 scaled by 0.5: a canvas width of 530.5 points becomes 531.
        const auto result = autoSizeFrame(QRectF(0, 0, 2000, 500), QSizeF(0, 0), {1061, 1000});
        QVERIFY(result);
        QCOMPARE(result->canvasSize, QSizeF(531, 500));
        QVERIFY(!autoSizeFrame(QRectF(0, 0, 100, 100), QSizeF(0, 200), {100, 100}));
    }

    void navigatorMapping() {
        QCOMPARE(navigatorSize({4000, 3000}, 150), QSizeF(150, 112.5));
        QCOMPARE(navigatorSize({1000, 4000}, 150), QSizeF(37.5, 150));
        QCOMPARE(navigatorSize({1000000, 1000}, 150), QSizeF(150, 1));
        QCOMPARE(navigatorViewportFrame({0.25, 0.5, 0.5, 0.5}, {150, 150}),
                 QRectF(37.5, 0, 75, 75));
        QCOMPARE(navigatorViewportFrame({-0.1, 0, 1.2, 1}, {150, 100}).width(), 150.0);
        QCOMPARE(navigatorTargetForPointer({75, 50}, {150, 100}), QPointF(0.5, 0.5));
        QCOMPARE(navigatorTargetForPointer({0, 0}, {150, 100}), QPointF(0, 1));
        QCOMPARE(navigatorTargetForPointer({-30, 400}, {150, 100}), QPointF(0, 0));
        QVERIFY(!navigatorShouldShow({0, 0, 1, 1}, false));
        QVERIFY(navigatorShouldShow({0, 0, 1, 1}, true));
        QVERIFY(navigatorShouldShow({0, 0, 0.98, 1}, false));
    }
};

QTEST_GUILESS_MAIN(TestCanvasGeometry)
#include "test_canvasgeometry.moc"
