// Press, drag and click on the image: panning through the centring constraint, the drag
// threshold, click navigation in fit state and the double click that undoes its first click.
#include "canvasharness.h"

#include <QCursor>
#include <QGuiApplication>

using namespace kivo;
using namespace kivo::test;

namespace {

Qt::CursorShape overrideShape() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

} // namespace

class TestPanning : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        for (const double magnification : {1.0, 2.0, 0.5}) {
            canvas.scroll().setMagnification(magnification, {2000, 1500});
            canvas.log.clear();
            QPoint at(500, 400);
            const QPointF grabbed = imagePointUnder(at);
            QTest::mousePress(document, Qt::LeftButton, {}, at);
            for (const QPoint step : {QPoint(-30, -20), QPoint(-40, -10), QPoint(-30, -25)})
                QTest::mouseMove(document, at += step);
            QCOMPARE(overrideShape(), Qt::ClosedHandCursor);
            const QPointF under = imagePointUnder(at);
            QVERIFY2(near(under.x(), grabbed.x(), 0.01) && near(under.y(), grabbed.y(), 0.01),
                     qPrintable(QString::number(magnification)));
            QTest::mouseRelease(document, Qt::LeftButton, {}, at);
            QVERIFY(!QGuiApplication::overrideCursor());
            CanvasHarness::settle();
            QVERIFY(canvas.log.contains(QStringLiteral("state")));
        }

        QTest::mousePress(document, Qt::LeftButton, {}, {100, 100});
        QTest::mouseMove(document, {9000, 9000}); // pulls the image right and down, past its edge
        QTest::mouseRelease(document, Qt::LeftButton, {}, {9000, 9000});
        QCOMPARE(canvas.scroll().clipBounds().topLeft(), QPointF(0, 0));
    }

    // In fit state a click on the image's halves steps through the folder; a move within the
    // threshold is still a click, a longer one a drag that moves nothing when the image is
    // centred, yet shows the closed hand and suppresses the click.
    void clicksAndTheDragThreshold() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        QWidget* document = &canvas.document();
        QCOMPARE(document->geometry(), QRect(350, 300, 300, 200));
        QCOMPARE(document->cursor().shape(), Qt::OpenHandCursor);
        QTest::mouseClick(document, Qt::LeftButton, {}, {151, 100});
        QTest::mouseClick(document, Qt::LeftButton, {}, {150, 100}); // exactly the middle
        QTest::mouseClick(document, Qt::LeftButton, {}, {10, 100});
        QTest::mousePress(document, Qt::LeftButton, {}, {200, 100});
        QTest::mouseMove(document, {203, 97});
        QTest::mouseRelease(document, Qt::LeftButton, {}, {203, 97});
        QCOMPARE(canvas.log, (QStringList{QStringLiteral("next"), QStringLiteral("previous"),
                                          QStringLiteral("previous"), QStringLiteral("next")}));

        canvas.log.clear();
        const QRectF clip = canvas.scroll().clipBounds();
        QTest::mousePress(document, Qt::LeftButton, {}, {200, 100});
        QTest::mouseMove(document, {204, 100});
        QCOMPARE(overrideShape(), Qt::ClosedHandCursor);
        QTest::mouseRelease(document, Qt::LeftButton, {}, {204, 100});
        QCOMPARE(canvas.scroll().clipBounds(), clip);
        // The black margin is not the image.
        QTest::mouseClick(canvas.scroll().viewport(), Qt::LeftButton, {}, {100, 100});
        QVERIFY(canvas.log.isEmpty());

        // Out of fit state a click only clicks.
        canvas.request(ZoomAction::zoomIn);
        canvas.log.clear();
        QTest::mouseClick(document, Qt::LeftButton, {}, {document->width() - 5, 100});
        QVERIFY(canvas.log.isEmpty());
    }

    // Through the window, as the platform delivers them: the second press of a double click
    // arrives before the double-click event.
    void doubleClickUndoesItsFirstClick() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        QWindow* window = canvas.view.windowHandle();
        const QPoint right = canvas.document().mapTo(&canvas.view, QPoint(250, 100));
        QTest::mouseDClick(window, Qt::LeftButton, {}, right);
        QCOMPARE(canvas.log, (QStringList{QStringLiteral("next"), QStringLiteral("previous"),
                                          QStringLiteral("doubleClick")}));
        // A third click is a fresh press: it navigates again on its release.
        QTest::mouseClick(window, Qt::LeftButton, {}, right);
        QCOMPARE(canvas.log.last(), QStringLiteral("next"));

        canvas.request(ZoomAction::zoomIn);
        canvas.log.clear();
        QTest::mouseDClick(window, Qt::LeftButton, {},
                           canvas.document().mapTo(&canvas.view, QPoint(10, 10)));
        QCOMPARE(canvas.log, QStringList{QStringLiteral("doubleClick")});
    }
};

QTEST_MAIN(TestPanning)
#include "test_panning.moc"
