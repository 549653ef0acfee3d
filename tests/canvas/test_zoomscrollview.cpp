// The scroll view's rules under real events: fit and refit on resize, wheel zoom anchored under
// the pointer, the wheel never scrolling, pinch, scroll bars and drawing quality.
#include "canvasharness.h"

#include <QNativeGestureEvent>
#include <QScrollBar>
#include <QWheelEvent>

using namespace kivo;
using namespace kivo::test;

namespace {

// A notched wheel turned by `notches` (120 eighths of a degree each), or a touchpad's pixel
// delta when `pixels` is given.
void wheel(QWidget* target, QPointF position, double notches, QPoint pixels = {}) {
    const QPoint angle = pixels.isNull() ? QPoint(0, qRound(notches * 120)) : pixels * 2;
    QWheelEvent event(position, target->mapToGlobal(position), pixels, angle, Qt::NoButton,
                      Qt::NoModifier, pixels.isNull() ? Qt::NoScrollPhase : Qt::ScrollUpdate,
                      false);
    QCoreApplication::sendEvent(target, &event);
}

void pinch(QWidget* target, Qt::NativeGestureType type, double value = 0) {
    const QPointF position(500, 400);
    QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, position, position,
                              target->mapToGlobal(position), value, QPointF());
    QCoreApplication::sendEvent(target, &event);
}

} // namespace

class TestZoomScrollView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The wheel zooms about the pointer and leaves fit state until it comes back down to the
    // minimum; only in fit state does a resize refit.
    void wheelZoomAndRefit() {
        CanvasHarness canvas({1000, 800});
        QWidget* viewport = canvas.scroll().viewport();
        canvas.show(solidImage(300, 200)); // shown at 100 %, which is also its minimum
        wheel(viewport, {500, 400}, -1);
        QCOMPARE(canvas.scroll().magnification(), 1.0);
        QVERIFY(canvas.scroll().isFitMode());

        canvas.show(solidImage(4000, 3000));
        QCOMPARE(canvas.scroll().minMagnification(), 0.25);
        const QPointF pointer(700, 300);
        const QPointF before = canvas.scroll().viewportToImage(pointer);
        wheel(&canvas.document(), canvas.document().mapFrom(viewport, pointer), 3);
        QCOMPARE(canvas.scroll().magnification(), 0.25 * 1.3);
        QVERIFY(!canvas.scroll().isFitMode());
        const QPointF after = canvas.scroll().viewportToImage(pointer);
        QVERIFY(near(before.x(), after.x(), 0.01) && near(before.y(), after.y(), 0.01));
        const double m = canvas.scroll().magnification(); // a touchpad: 0.005 per pixel
        wheel(viewport, pointer, 0, QPoint(0, 20));
        QCOMPARE(canvas.scroll().magnification(), m * 1.1);

        wheel(viewport, pointer, -100);
        QCOMPARE(canvas.scroll().magnification(), 0.25);
        QVERIFY(canvas.scroll().isFitMode());
        canvas.resize(500, 800);
        QCOMPARE(canvas.scroll().magnification(), 0.125);
        QCOMPARE(canvas.magnification, 0.125); // and reported

        canvas.scroll().setFitMode(false);
        canvas.scroll().setMagnification(0.5);
        canvas.resize(1000, 800);
        QCOMPARE(canvas.scroll().magnification(), 0.5);
        QCOMPARE(canvas.scroll().minMagnification(), 0.25);

        canvas.scroll().setAutoSizing(true);
        canvas.scroll().setFitMode(true);
        canvas.resize(800, 800);
        QCOMPARE(canvas.scroll().magnification(), 0.5); // an auto-size does its own fit

        // Without a document the minimum stays what it was.
        const double minimum = canvas.scroll().minMagnification();
        canvas.scroll().setDocumentSize({});
        canvas.scroll().updateMinMagnification();
        QCOMPARE(canvas.scroll().minMagnification(), minimum);
    }

    // The wheel never scrolls; scroll bars appear when the zoomed image overflows, take their
    // room from the viewport, and move the clip to the image's edge and no further.
    void scrollBarsButNoWheelScrolling() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        QWidget* viewport = canvas.scroll().viewport();
        const QRectF clip = canvas.scroll().clipBounds();
        wheel(viewport, {500, 400}, 0, QPoint(40, 0)); // horizontal only
        QVERIFY(canvas.scroll().verticalScrollBar()->isVisible());
        wheel(canvas.scroll().verticalScrollBar(), {5, 50}, -1);
        QCOMPARE(canvas.scroll().clipBounds(), clip);

        QScrollBar* horizontal = canvas.scroll().horizontalScrollBar();
        QVERIFY(viewport->width() < 1000 && viewport->height() < 800);
        QCOMPARE(clip.size(), QSizeF(viewport->size()));
        QCOMPARE(horizontal->maximum(), 4000 - viewport->width());
        horizontal->setValue(horizontal->maximum());
        QCOMPARE(canvas.scroll().clipBounds().right(), 4000.0);
        CanvasHarness::settle();
        QCOMPARE(canvas.visibleRect.right(), 1.0);
        canvas.request(ZoomAction::fit);
        QVERIFY(!horizontal->isVisible());
        QCOMPARE(viewport->size(), QSize(1000, 800));

        // At the maximum, further zoom-in changes nothing, fit state included.
        canvas.scroll().setMagnification(20.0);
        canvas.scroll().setFitMode(true);
        wheel(viewport, {500, 400}, 1);
        QCOMPARE(canvas.scroll().magnification(), 20.0);
        QVERIFY(canvas.scroll().isFitMode());
    }

    void pinchLeavesFitStateAndReportsAtTheEnd() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        QWidget* viewport = canvas.scroll().viewport();
        pinch(viewport, Qt::BeginNativeGesture);
        QVERIFY(!canvas.scroll().isFitMode());
        pinch(viewport, Qt::ZoomNativeGesture, 1.0);
        QCOMPARE(canvas.scroll().magnification(), 0.5);
        pinch(viewport, Qt::ZoomNativeGesture, -0.9);
        QCOMPARE(canvas.scroll().magnification(), 0.25); // bounded by the minimum
        canvas.log.clear();
        pinch(viewport, Qt::EndNativeGesture);
        QCOMPARE(canvas.log, QStringList{QStringLiteral("state")});
        // Ended at the minimum, yet still out of fit state: a resize does not refit.
        canvas.resize(500, 800);
        QCOMPARE(canvas.scroll().magnification(), 0.25);

        // Two fingers spreading apart on a touch screen drive the same live magnification.
        QPointingDevice* touch = QTest::createTouchDevice();
        QTest::touchEvent(viewport, touch).press(0, {200, 400}).press(1, {300, 400});
        QTest::touchEvent(viewport, touch).move(0, {150, 400}).move(1, {350, 400});
        QTest::touchEvent(viewport, touch).move(0, {100, 400}).move(1, {400, 400});
        QTest::touchEvent(viewport, touch).release(0, {100, 400}).release(1, {400, 400});
        CanvasHarness::settle();
        QVERIFY(canvas.scroll().magnification() > 0.3);
        QCOMPARE(canvas.magnification, canvas.scroll().magnification());
    }

    // Below 100 % the reduced copies are drawn smoothly; from 200 % pixels are crisp squares.
    void drawingQuality() {
        QImage stripes(1024, 1024, QImage::Format_ARGB32_Premultiplied);
        for (int x = 0; x < 1024; ++x)
            for (int y = 0; y < 1024; ++y)
                stripes.setPixelColor(x, y, (x % 2) ? Qt::white : Qt::black);
        CanvasHarness canvas({512, 512});
        canvas.show(Image::create(stripes));
        QCOMPARE(canvas.scroll().magnification(), 0.5);
        const QColor mixed = canvas.grab().pixelColor(100, 100);
        QVERIFY2(mixed.red() > 100 && mixed.red() < 156, "stripes average out to grey");

        canvas.request(ZoomAction::actualSize);
        canvas.scroll().setMagnification(4.0, {0, 0});
        canvas.scroll().scrollClipTo({0, 0});
        const QImage shot = canvas.grab();
        for (int x = 0; x < 16; ++x) // each source pixel is four screen pixels of one colour
            QCOMPARE(shot.pixelColor(x, 10), (x / 4) % 2 ? QColor(Qt::white) : QColor(Qt::black));
    }
};

QTEST_MAIN(TestZoomScrollView)
#include "test_zoomscrollview.moc"
