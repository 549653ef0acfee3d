// SPDX-License-Identifier: GPL-3.0-or-later
// The canvas under real events: wheel zoom anchored under the pointer and refit on resize,
// pinch, the floating scroll bars, drawing quality, and press, drag and click on the image
// (panning, the drag threshold, click navigation and the double click that undoes its click).
#include "canvasharness.h"

#include <QCursor>
#include <QGuiApplication>
#include <QNativeGestureEvent>
#include <QWheelEvent>

using namespace kivo;
using namespace kivo::test;

namespace {

// A notched wheel turned by `notches`, or a touchpad's pixel delta when `pixels` is given.
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

Qt::CursorShape overrideShape() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

} // namespace

class TestPointer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The wheel zooms about the pointer and leaves fit state until it comes back down to the
    // minimum; only in fit state does a resize refit.
    void wheelZoomAndRefit() {
        CanvasHarness canvas({1000, 800});
        QWidget* viewport = canvas.scroll().viewport();
        canvas.show(solidImage(4000, 3000));
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
        const QRectF clip = canvas.scroll().clipBounds();
        wheel(viewport, pointer, 0, QPoint(40, 0)); // a horizontal swipe neither zooms nor scrolls
        QCOMPARE(canvas.scroll().clipBounds(), clip);

        wheel(viewport, pointer, -100); // back down to the minimum: fit state again
        QVERIFY(canvas.scroll().isFitMode());
        canvas.resize(500, 800);
        QCOMPARE(canvas.magnification, 0.125);
        canvas.scroll().setFitMode(false); // zoomed, or fitting the window itself: no refit
        canvas.resize(1000, 800);
        QCOMPARE(canvas.scroll().magnification(), 0.125);
        canvas.scroll().setFitMode(true);
        canvas.scroll().setAutoSizing(true);
        canvas.resize(800, 800);
        QCOMPARE(canvas.scroll().magnification(), 0.125);
    }

    // The bars float over the picture: the viewport keeps the whole area while they show.
    // They come with a zoom or scroll, fade out on their own, move the view when dragged and
    // are gone after a fit.
    void scrollBarsFloatOverThePicture() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        QCOMPARE(canvas.scroll().clipBounds().size(), QSizeF(1000, 800)); // the whole area
        OverlayScrollBar* bar = canvas.scroll().horizontalOverlayBar();
        QVERIFY(bar->isVisible() && canvas.scroll().verticalOverlayBar()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!canvas.barsShown(), 3000);

        canvas.scroll().scrollClipTo({0, 100});
        QVERIFY(canvas.barsShown());
        const int y = bar->height() / 2; // the thumb starts at the left end
        QTest::mousePress(bar, Qt::LeftButton, {}, {50, y});
        QTest::mouseMove(bar, {bar->width() + 50, y});
        QTest::mouseRelease(bar, Qt::LeftButton, {}, {bar->width() + 50, y});
        QCOMPARE(canvas.scroll().clipBounds().right(), 4000.0);
        canvas.request(ZoomAction::fit);
        QVERIFY(!canvas.barsShown());
    }

    void pinchLeavesFitStateAndReportsAtTheEnd() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        QWidget* viewport = canvas.scroll().viewport();
        pinch(viewport, Qt::BeginNativeGesture);
        QVERIFY(!canvas.scroll().isFitMode());
        pinch(viewport, Qt::ZoomNativeGesture, 1.0);
        QCOMPARE(canvas.scroll().magnification(), 0.5);
        canvas.log.clear();
        pinch(viewport, Qt::EndNativeGesture);
        QCOMPARE(canvas.log, QStringList{"state"});

        // Two fingers spreading apart on a touch screen drive the same live magnification.
        QPointingDevice* touch = QTest::createTouchDevice();
        QTest::touchEvent(viewport, touch).press(0, {200, 400}).press(1, {300, 400});
        QTest::touchEvent(viewport, touch).move(0, {100, 400}).move(1, {400, 400});
        QTest::touchEvent(viewport, touch).release(0, {100, 400}).release(1, {400, 400});
        CanvasHarness::settle();
        QVERIFY(canvas.magnification > 0.3);
    }

    // Below 100 % the reduced copies are drawn smoothly; from 200 % pixels are crisp squares.
    void drawingQuality() {
        QImage stripes(1024, 1024, QImage::Format_ARGB32_Premultiplied);
        for (int x = 0; x < 1024; ++x)
            for (int y = 0; y < 1024; ++y)
                stripes.setPixelColor(x, y, (x % 2) ? Qt::white : Qt::black);
        CanvasHarness canvas({512, 512});
        canvas.show(Image::create(stripes));
        const QColor mixed = canvas.grab().pixelColor(100, 100);
        QVERIFY2(mixed.red() > 100 && mixed.red() < 156, "stripes average out to grey");

        canvas.request(ZoomAction::actualSize);
        canvas.scroll().setMagnification(4.0, {0, 0});
        canvas.scroll().scrollClipTo({0, 0});
        const QImage shot = canvas.grab();
        for (int x = 0; x < 16; ++x) // each source pixel is four screen pixels of one colour
            QCOMPARE(shot.pixelColor(x, 10), (x / 4) % 2 ? QColor(Qt::white) : QColor(Qt::black));
    }

    // The image point taken at the press stays under the pointer at every zoom, so the image
    // moves exactly as fast as the hand; and it stops at the image's edges.
    void dragFollowsThePointer() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        QWidget* document = &canvas.document();
        QWidget* viewport = canvas.scroll().viewport();
        const auto imagePointUnder = [&](QPoint at) {
            return canvas.scroll().viewportToImage(document->mapTo(viewport, at));
        };
        for (const double magnification : {2.0, 0.5}) {
            canvas.scroll().setMagnification(magnification, {2000, 1500});
            QPoint at(500, 400);
            const QPointF grabbed = imagePointUnder(at);
            QTest::mousePress(document, Qt::LeftButton, {}, at);
            for (const QPoint step : {QPoint(-30, -20), QPoint(-70, -35)})
                QTest::mouseMove(document, at += step);
            const QPointF under = imagePointUnder(at);
            QVERIFY(near(under.x(), grabbed.x(), 0.01) && near(under.y(), grabbed.y(), 0.01));
            QTest::mouseRelease(document, Qt::LeftButton, {}, at);
            QVERIFY(!QGuiApplication::overrideCursor()); // the closed hand is gone
        }
        QTest::mousePress(document, Qt::LeftButton, {}, {100, 100});
        QTest::mouseMove(document, {9000, 9000}); // pulls the image right and down, past its edge
        QTest::mouseRelease(document, Qt::LeftButton, {}, {9000, 9000});
        QCOMPARE(canvas.scroll().clipBounds().topLeft(), QPointF(0, 0));
    }

    // In fit state a click on the image's halves steps through the folder. A move of up to 3
    // window points is still a click at any zoom (a 6000 x 4000 photo fits at 1/6 here); a
    // longer one is a drag that moves nothing when the image is centred, yet shows the closed
    // hand and suppresses the click.
    void clicksAndTheDragThreshold() {
        for (const QSize size : {QSize(300, 200), QSize(6000, 4000)}) {
            CanvasHarness canvas({1000, 800});
            canvas.show(solidImage(size.width(), size.height()));
            QWidget* document = &canvas.document();
            const int middle = document->width() / 2;
            QTest::mouseClick(document, Qt::LeftButton, {}, {middle + 1, 100});
            QTest::mouseClick(document, Qt::LeftButton, {}, {middle, 100}); // the middle itself
            for (const int moved : {3, 4}) {
                const QRectF clip = canvas.scroll().clipBounds();
                QTest::mousePress(document, Qt::LeftButton, {}, {middle + 50, 100});
                QTest::mouseMove(document, {middle + 50 + moved, 100 - moved});
                QCOMPARE(overrideShape(), moved > 3 ? Qt::ClosedHandCursor : Qt::ArrowCursor);
                QTest::mouseRelease(document, Qt::LeftButton, {}, {middle + 50 + moved, 100});
                QCOMPARE(canvas.scroll().clipBounds(), clip);
            }
            QCOMPARE(canvas.log, (QStringList{"next", "previous", "next"}));
        }

        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        // The black margin is not the image; out of fit state a click only clicks.
        QTest::mouseClick(canvas.scroll().viewport(), Qt::LeftButton, {}, {100, 100});
        canvas.request(ZoomAction::zoomIn);
        QTest::mouseClick(&canvas.document(), Qt::LeftButton, {}, {10, 100});
        QVERIFY(!canvas.log.contains("next") && !canvas.log.contains("previous"));
    }

    // Through the window, as the platform delivers them: the second press of a double click
    // arrives before the double-click event.
    void doubleClickUndoesItsFirstClick() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        QWindow* window = canvas.view.windowHandle();
        const QPoint right = canvas.document().mapTo(&canvas.view, QPoint(250, 100));
        QTest::mouseDClick(window, Qt::LeftButton, {}, right);
        QCOMPARE(canvas.log, (QStringList{"next", "previous", "doubleClick"}));
        // A third click is a fresh press: it navigates again on its release.
        QTest::mouseClick(window, Qt::LeftButton, {}, right);
        QCOMPARE(canvas.log.last(), QStringLiteral("next"));

        canvas.request(ZoomAction::zoomIn);
        canvas.log.clear();
        QTest::mouseDClick(window, Qt::LeftButton, {},
                           canvas.document().mapTo(&canvas.view, QPoint(10, 10)));
        QCOMPARE(canvas.log, QStringList{"doubleClick"});
    }
};

QTEST_MAIN(TestPointer)
#include "test_pointer.moc"
