// The canvas's update cycle: the image, zoom and scroll steps, what they defer, the state
// report, rotation and the cross-fade, seen through real widgets and the pixels they draw.
#include "canvas/rotatedimage.h"
#include "viewer/statebinding.h"
#include "canvasharness.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QTest>

using namespace kivo;
using namespace kivo::test;

class TestCoordinator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void imagesFitCentredOnBlack() {
        const QColor kRed(200, 40, 40), kBlack(Qt::black);
        CanvasHarness canvas({1000, 800});
        canvas.inputs.image = solidImage(4000, 3000);
        canvas.request(ZoomAction::fit);
        QCOMPARE(canvas.magnification, 0.25);
        QCOMPARE(canvas.visibleRect, QRectF(0, 0, 1, 1));
        QCOMPARE(canvas.log.count(QStringLiteral("zoomConsumed")), 1);
        QVERIFY(!canvas.view.coordinator().isFading()); // the first image appears at once
        // 750 points high on screen: 25 black rows above and below, the image fills the width.
        const PixelCheck filled[] = {
            {{500, 10}, kBlack}, {{500, 790}, kBlack}, {{0, 30}, kRed}, {{999, 770}, kRed}};
        QCOMPARE(firstWrongPixel(canvas.grab(), filled), QString());
        canvas.log.clear();
        canvas.update(); // the same image again changes nothing
        QVERIFY(canvas.log.isEmpty());

        // A new image cross-fades in; a small one shows at 100 %, in the middle.
        canvas.show(solidImage(300, 200));
        QVERIFY(canvas.view.coordinator().isFading());
        QTRY_VERIFY_WITH_TIMEOUT(!canvas.view.coordinator().isFading(), 1000);
        QCOMPARE(canvas.scroll().magnification(), 1.0);
        const PixelCheck centred[] = {{{350, 300}, kRed},   {{649, 499}, kRed},
                                      {{349, 400}, kBlack}, {{650, 400}, kBlack},
                                      {{500, 299}, kBlack}, {{500, 500}, kBlack}};
        QCOMPARE(firstWrongPixel(canvas.grab(), centred), QString());
    }

    void zoomRequests() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        canvas.request(ZoomAction::actualSize);
        QCOMPARE(canvas.magnification, 1.0);
        QVERIFY(!canvas.scroll().isFitMode());
        // actualSize keeps the centre of the previous view (give or take the new scroll bar).
        QVERIFY(near(canvas.scroll().clipBounds().center().x(), 2000, 10));
        for (double expected : {1.5, 2.25}) {
            canvas.request(ZoomAction::zoomIn);
            QCOMPARE(canvas.magnification, expected);
        }
        // The next image keeps the zoom, unless its own fit is larger.
        canvas.show(solidImage(5000, 4000), std::nullopt);
        QCOMPARE(canvas.scroll().magnification(), 2.25);
        canvas.scroll().setMagnification(16.0);
        canvas.request(ZoomAction::zoomIn);
        QCOMPARE(canvas.magnification, 20.0);
        canvas.scroll().setMagnification(0.1);
        canvas.show(solidImage(500, 400), std::nullopt);
        QCOMPARE(canvas.scroll().magnification(), 1.0);

        canvas.show(solidImage(4000, 3000));
        QVERIFY(canvas.scroll().isFitMode());
        canvas.request(ZoomAction::zoomOut);
        QCOMPARE(canvas.magnification, 0.25);  // stays at the minimum...
        QVERIFY(!canvas.scroll().isFitMode()); // ...but leaves fit state
    }

    // The zoom is applied inside the update; the consumption and report follow in later turns,
    // after the refit that the image step deferred.
    void deferredWorkAndScrollTargets() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        canvas.inputs.zoomAction = ZoomAction::zoomIn;
        canvas.inputs.image = solidImage(4000, 3000, Qt::blue);
        canvas.view.scheduleUpdate();
        QCoreApplication::processEvents(); // runs only the update itself
        QVERIFY(!canvas.log.contains(QStringLiteral("zoomConsumed")));
        CanvasHarness::settle();
        QCOMPARE(canvas.log.count(QStringLiteral("zoomConsumed")), 1);
        QCOMPARE(canvas.log.last(), QStringLiteral("state"));
        // The refit ran between the zoom and the consumption: max(magnification before, minimum).
        QCOMPARE(canvas.magnification, 1.0);

        // A scroll target is centred as far as the edges allow, then consumed.
        canvas.inputs.scrollTarget = QPointF(0, 0);
        canvas.update();
        QCOMPARE(canvas.log.count(QStringLiteral("scrollConsumed")), 1);
        QCOMPARE(canvas.visibleRect.topLeft(), QPointF(0, 0)); // the lower-left corner
        QCOMPARE(canvas.visibleRect.width(), canvas.scroll().clipBounds().width() / 4000);
        canvas.inputs.scrollTarget = QPointF(0.25, 0.9);
        canvas.update();
        QCOMPARE(canvas.visibleRect.center().x(), 0.25);
        QCOMPARE(canvas.visibleRect.bottom(), 1.0); // held at the top edge (y up)
    }

    void rotationTurnsThePictureClockwise() {
        const ImagePtr quadrants = Image::create(quadrantImage(300, 200));
        const ImagePtr turned = rotatedImage(quadrants, 90);
        QCOMPARE(turned->size(), QSize(200, 300));
        // Clockwise, pixel for pixel with no resampling at the seams: the former bottom-left
        // (blue) is now top-left, the former top-left (red) top-right.
        const PixelCheck corners[] = {{{0, 0}, Qt::blue},      {{199, 0}, Qt::red},
                                      {{199, 299}, Qt::green}, {{0, 299}, Qt::white},
                                      {{99, 149}, Qt::blue},   {{100, 149}, Qt::red}};
        QCOMPARE(firstWrongPixel(turned->bitmap(), corners), QString());
        QCOMPARE(rotatedImage(quadrants, 270)->bitmap().pixelColor(0, 0), QColor(Qt::green));

        // A format Qt would convert on every paint is converted once, keeping its pixels.
        QImage grey(64, 32, QImage::Format_Grayscale16);
        grey.fill(QColor(90, 90, 90));
        const ImagePtr shown = imageForDisplay(Image::create(grey), 0);
        QCOMPARE(shown->bitmap().format(), QImage::Format_RGB32);
        QCOMPARE(shown->bitmap().pixelColor(10, 10), QColor(90, 90, 90));

        // On the canvas the turned picture is what is drawn, with swapped sides.
        CanvasHarness canvas({400, 600});
        canvas.show(quadrants);
        canvas.inputs.rotation = 90;
        canvas.update();
        QCOMPARE(canvas.scroll().documentSize(), QSizeF(200, 300));
        QTRY_VERIFY_WITH_TIMEOUT(!canvas.view.coordinator().isFading(), 1000);
        // 400 x 600 fits 200 x 300 at 100 %, centred.
        const PixelCheck onCanvas[] = {{{110, 160}, Qt::blue}, {{290, 160}, Qt::red}};
        QCOMPARE(firstWrongPixel(canvas.grab(), onCanvas), QString());
    }

    // Bound to a real model: opening a file issues the fit request together with the image;
    // the canvas carries both out in one update, the model gets the report and the request
    // is cleared; a click on the right half steps to the next file.
    void boundToTheModel() {
        QTemporaryDir folder;
        for (const auto& [name, size] :
             {std::pair{"a.png", QSize(1600, 1200)}, {"b.png", {800, 600}}})
            QVERIFY(writeImage(quadrantImage(size.width(), size.height()),
                               folder.filePath(QLatin1String(name)), "png"));
        PrivateSettings settings;
        AppState state({settings.get()});
        ZoomableImageView view;
        view.resize(400, 300);
        bindCanvasToState(view, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        state.openFile(FilePath(folder.filePath(QStringLiteral("a.png")).toStdString()));
        QTRY_VERIFY(!state.zoomAction());
        QCOMPARE(state.magnification(), 0.25);
        QCOMPARE(state.visibleRect(), QRectF(0, 0, 1, 1));
        QTest::mouseClick(view.scrollView()->documentView(), Qt::LeftButton, {}, {300, 150});
        QCOMPARE(state.currentIndex(), 1);
        QTRY_COMPARE(state.magnification(), 0.5);
    }
};

QTEST_MAIN(TestCoordinator)
#include "test_coordinator.moc"
