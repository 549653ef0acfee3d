// The scroll view's rules under real events: fit and refit on resize, wheel zoom anchored under
// the pointer, the wheel never scrolling, pinch, scroll bars and drawing quality.
#include "canvasharness.h"

#include <QNativeGestureEvent>
#include <QScrollBar>
#include <QWheelEvent>

using namespace kivo;
using kivo::test::CanvasHarness;
using kivo::test::solidImage;

namespace {

bool near(double a, double b, double tolerance = 1e-6) {
    return std::abs(a - b) <= tolerance;
}

// A notched wheel turned by `notches` (120 eighths of a degree each) at `position`.
void turnWheel(QWidget* target, QPointF position, double notches) {
    QWheelEvent event(position, target->mapToGlobal(position), QPoint(),
                      QPoint(0, qRound(notches * 120)), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &event);
}

void swipe(QWidget* target, QPointF position, QPoint pixels) {
    QWheelEvent event(position, target->mapToGlobal(position), pixels, pixels * 2, Qt::NoButton,
                      Qt::NoModifier, Qt::ScrollUpdate, false);
    QCoreApplication::sendEvent(target, &event);
}

void pinch(QWidget* target, Qt::NativeGestureType type, QPointF position, double value = 0) {
    QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, position, position,
                              target->mapToGlobal(position), value, QPointF());
    QCoreApplication::sendEvent(target, &event);
}

} // namespace

class TestZoomScrollView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resizeRefitsOnlyInFitState() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        QVERIFY(near(canvas.scroll().minMagnification(), 0.25));
        canvas.view.resize(500, 800);
        CanvasHarness::settle();
        QVERIFY(near(canvas.scroll().magnification(), 0.125));
        QVERIFY(near(canvas.magnification, 0.125)); // and reported

        canvas.scroll().setFitMode(false);
        canvas.scroll().setMagnification(0.5);
        canvas.view.resize(1000, 800);
        CanvasHarness::settle();
        QVERIFY(near(canvas.scroll().magnification(), 0.5));
        QVERIFY(near(canvas.scroll().minMagnification(), 0.25));

        canvas.scroll().setAutoSizing(true);
        canvas.scroll().setFitMode(true);
        canvas.view.resize(800, 800);
        CanvasHarness::settle();
        QVERIFY(near(canvas.scroll().magnification(), 0.5)); // an auto-size does its own fit
    }

    void wheelZoomsUnderThePointer() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        QWidget* viewport = canvas.scroll().viewport();
        const QPointF pointer(700, 300);
        const QPointF before = canvas.scroll().viewportToImage(pointer);
        turnWheel(&canvas.document(), canvas.document().mapFrom(viewport, pointer), 3);
        QCOMPARE(canvas.scroll().magnification(), 0.25 * 1.3);
        QVERIFY(!canvas.scroll().isFitMode());
        const QPointF after = canvas.scroll().viewportToImage(pointer);
        QVERIFY(near(before.x(), after.x(), 0.01) && near(before.y(), after.y(), 0.01));

        // A touchpad: 0.005 per pixel of delta.
        const double m = canvas.scroll().magnification();
        swipe(viewport, pointer, QPoint(0, 20));
        QVERIFY(near(canvas.scroll().magnification(), m * 1.1));

        // Back down to the minimum is fit state again: the next resize refits.
        turnWheel(viewport, pointer, -100);
        QVERIFY(near(canvas.scroll().magnification(), 0.25));
        QVERIFY(canvas.scroll().isFitMode());
        canvas.view.resize(500, 800);
        CanvasHarness::settle();
        QVERIFY(near(canvas.scroll().magnification(), 0.125));
    }

    void wheelNeverScrolls() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        QWidget* viewport = canvas.scroll().viewport();
        const QRectF clip = canvas.scroll().clipBounds();
        swipe(viewport, {500, 400}, QPoint(40, 0)); // horizontal only
        QCOMPARE(canvas.scroll().clipBounds(), clip);
        QScrollBar* bar = canvas.scroll().verticalScrollBar();
        QVERIFY(bar->isVisible());
        turnWheel(bar, {5, 50}, -1);
        QCOMPARE(canvas.scroll().clipBounds(), clip);

        // At the maximum, further zoom-in changes nothing, fit state included.
        canvas.scroll().setMagnification(20.0);
        canvas.scroll().setFitMode(true);
        turnWheel(viewport, {500, 400}, 1);
        QVERIFY(near(canvas.scroll().magnification(), 20.0));
        QVERIFY(canvas.scroll().isFitMode());
    }

    // Scroll bars appear when the zoomed image overflows, take their room from the viewport,
    // and move the clip to the image's edge and no further.
    void scrollBarsFollowTheClip() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        QScrollBar* horizontal = canvas.scroll().horizontalScrollBar();
        const QSize viewport = canvas.scroll().viewport()->size();
        QVERIFY(viewport.width() < 1000 && viewport.height() < 800);
        QCOMPARE(canvas.scroll().clipBounds().size(), QSizeF(viewport));
        QCOMPARE(horizontal->maximum(), 4000 - viewport.width());
        horizontal->setValue(1000);
        QCOMPARE(canvas.scroll().clipBounds().x(), 1000.0);
        horizontal->setValue(horizontal->maximum());
        QCOMPARE(canvas.scroll().clipBounds().right(), 4000.0);
        CanvasHarness::settle();
        QVERIFY(std::abs(canvas.visibleRect.right() - 1.0) < 1e-9);

        canvas.inputs.zoomAction = ZoomAction::fit;
        canvas.update();
        QVERIFY(!horizontal->isVisible());
        QCOMPARE(canvas.scroll().viewport()->size(), QSize(1000, 800));
    }

    void smallImageIgnoresZoomOut() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        turnWheel(canvas.scroll().viewport(), {500, 400}, -1);
        QVERIFY(near(canvas.scroll().magnification(), 1.0));
        QVERIFY(canvas.scroll().isFitMode());
        QVERIFY(!canvas.scroll().horizontalScrollBar()->isVisible());
    }

    void pinchLeavesFitStateAndReportsAtTheEnd() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        QWidget* viewport = canvas.scroll().viewport();
        pinch(viewport, Qt::BeginNativeGesture, {500, 400});
        QVERIFY(!canvas.scroll().isFitMode());
        pinch(viewport, Qt::ZoomNativeGesture, {500, 400}, 1.0);
        QVERIFY(near(canvas.scroll().magnification(), 0.5));
        pinch(viewport, Qt::ZoomNativeGesture, {500, 400}, -0.9);
        QVERIFY(near(canvas.scroll().magnification(), 0.25)); // bounded by the minimum
        canvas.log.clear();
        pinch(viewport, Qt::EndNativeGesture, {500, 400});
        QCOMPARE(canvas.log, QStringList{QStringLiteral("state")});
        // Ended at the minimum, yet still out of fit state: a resize does not refit.
        canvas.view.resize(500, 800);
        CanvasHarness::settle();
        QVERIFY(near(canvas.scroll().magnification(), 0.25));
    }

    // Two fingers on a touch screen, spreading apart: Qt's pinch gesture drives the same live
    // magnification.
    void touchPinchZooms() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        QWidget* viewport = canvas.scroll().viewport();
        QPointingDevice* touch = QTest::createTouchDevice();
        QTest::touchEvent(viewport, touch).press(0, {400, 400}).press(1, {600, 400});
        QTest::touchEvent(viewport, touch).move(0, {350, 400}).move(1, {650, 400});
        QTest::touchEvent(viewport, touch).move(0, {300, 400}).move(1, {700, 400});
        QTest::touchEvent(viewport, touch).release(0, {300, 400}).release(1, {700, 400});
        CanvasHarness::settle();
        QVERIFY(!canvas.scroll().isFitMode());
        QVERIFY(canvas.scroll().magnification() > 0.3); // the fingers spread apart
        QVERIFY(near(canvas.magnification, canvas.scroll().magnification()));
    }

    void noDocumentKeepsTheMinimum() {
        ZoomScrollView view;
        view.resize(400, 300);
        view.setDocumentSize({800, 600});
        view.updateMinMagnification();
        QVERIFY(near(view.minMagnification(), 0.5));
        view.setDocumentSize({});
        view.updateMinMagnification();
        QVERIFY(near(view.minMagnification(), 0.5));
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

        canvas.inputs.zoomAction = ZoomAction::actualSize;
        canvas.update();
        canvas.scroll().setMagnification(4.0, {0, 0});
        canvas.scroll().scrollClipTo({0, 0});
        const QImage shot = canvas.grab();
        for (int x = 0; x < 16; ++x) // each source pixel is four screen pixels of one colour
            QCOMPARE(shot.pixelColor(x, 10), (x / 4) % 2 ? QColor(Qt::white) : QColor(Qt::black));
    }
};

QTEST_MAIN(TestZoomScrollView)
#include "test_zoomscrollview.moc"
