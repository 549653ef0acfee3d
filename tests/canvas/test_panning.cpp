// Press, drag and click on the image: panning through the centring constraint, the drag
// threshold, click navigation in fit state and the double click that undoes its first click.
#include "canvasharness.h"

#include <QCursor>
#include <QGuiApplication>

using namespace kivo;
using kivo::test::CanvasHarness;
using kivo::test::solidImage;

namespace {

Qt::CursorShape overrideShape() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

} // namespace

class TestPanning : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dragFollowsThePointer_data() {
        QTest::addColumn<double>("magnification");
        QTest::newRow("100 %") << 1.0;
        QTest::newRow("200 %") << 2.0;
        QTest::newRow("50 %") << 0.5;
    }
    void dragFollowsThePointer() {
        QFETCH(double, magnification);
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        canvas.scroll().setMagnification(magnification, {2000, 1500});
        QWidget* document = &canvas.document();
        QWidget* viewport = canvas.scroll().viewport();
        const QPoint press(500, 400);
        const QPointF grabbed = canvas.scroll().viewportToImage(document->mapTo(viewport, press));

        QTest::mousePress(document, Qt::LeftButton, {}, press);
        QPoint at = press;
        for (const QPoint step : {QPoint(-30, -20), QPoint(-40, -10), QPoint(-30, -25)}) {
            at += step;
            QTest::mouseMove(document, at);
        }
        QCOMPARE(overrideShape(), Qt::ClosedHandCursor);
        // The image point taken at the press is still under the pointer.
        const QPointF under = canvas.scroll().viewportToImage(document->mapTo(viewport, at));
        QVERIFY(std::abs(under.x() - grabbed.x()) < 0.01 &&
                std::abs(under.y() - grabbed.y()) < 0.01);
        QTest::mouseRelease(document, Qt::LeftButton, {}, at);
        QVERIFY(!QGuiApplication::overrideCursor());
        CanvasHarness::settle();
        QVERIFY(canvas.log.contains(QStringLiteral("state")));
        QVERIFY(!canvas.log.contains(QStringLiteral("next")));
        QVERIFY(!canvas.log.contains(QStringLiteral("previous")));
    }

    void dragStopsAtTheEdges() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        QWidget* document = &canvas.document();
        QTest::mousePress(document, Qt::LeftButton, {}, {100, 100});
        QTest::mouseMove(document, {900, 700}); // pulls the image right and down, past its edge
        QTest::mouseRelease(document, Qt::LeftButton, {}, {900, 700});
        QCOMPARE(canvas.scroll().clipBounds().topLeft(), QPointF(0, 0));
    }

    // In fit state a small image is centred: a drag moves nothing, still shows the closed hand
    // and suppresses the click; a move within the threshold is still a click.
    void thresholdSeparatesClicksFromDrags() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        QWidget* document = &canvas.document();
        QCOMPARE(document->geometry(), QRect(350, 300, 300, 200));
        QCOMPARE(document->cursor().shape(), Qt::OpenHandCursor);

        QTest::mousePress(document, Qt::LeftButton, {}, {200, 100});
        QTest::mouseMove(document, {203, 97});
        QTest::mouseRelease(document, Qt::LeftButton, {}, {203, 97});
        QCOMPARE(canvas.log, QStringList{QStringLiteral("next")});

        canvas.log.clear();
        const QRectF clip = canvas.scroll().clipBounds();
        QTest::mousePress(document, Qt::LeftButton, {}, {200, 100});
        QTest::mouseMove(document, {204, 100});
        QCOMPARE(overrideShape(), Qt::ClosedHandCursor);
        QTest::mouseRelease(document, Qt::LeftButton, {}, {204, 100});
        QCOMPARE(canvas.scroll().clipBounds(), clip);
        QVERIFY(canvas.log.isEmpty());
    }

    void clickHalvesInFitStateOnly() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        QWidget* document = &canvas.document();
        QTest::mouseClick(document, Qt::LeftButton, {}, {151, 100});
        QTest::mouseClick(document, Qt::LeftButton, {}, {150, 100}); // exactly the middle
        QTest::mouseClick(document, Qt::LeftButton, {}, {10, 100});
        QCOMPARE(canvas.log, (QStringList{QStringLiteral("next"), QStringLiteral("previous"),
                                          QStringLiteral("previous")}));
        canvas.log.clear();
        // The black margin is not the image.
        QTest::mouseClick(canvas.scroll().viewport(), Qt::LeftButton, {}, {100, 100});
        QVERIFY(canvas.log.isEmpty());

        canvas.inputs.zoomAction = ZoomAction::zoomIn;
        canvas.update();
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

        canvas.inputs.zoomAction = ZoomAction::zoomIn;
        canvas.update();
        canvas.log.clear();
        const QPoint middle = canvas.document().mapTo(&canvas.view, QPoint(10, 10));
        QTest::mouseDClick(window, Qt::LeftButton, {}, middle);
        QCOMPARE(canvas.log, QStringList{QStringLiteral("doubleClick")});
    }
};

QTEST_MAIN(TestPanning)
#include "test_panning.moc"
