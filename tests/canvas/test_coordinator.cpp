// The canvas's update cycle: the image, zoom and scroll steps, what they defer, the state
// report, rotation and the cross-fade, seen through real widgets and the pixels they draw.
#include "canvas/rotatedimage.h"
#include "canvas/statebinding.h"
#include "canvasharness.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QTest>

using namespace kivo;
using kivo::test::CanvasHarness;
using kivo::test::solidImage;

namespace {

bool near(double a, double b) {
    return std::abs(a - b) < 1e-6;
}

QColor pixel(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

} // namespace

class TestCoordinator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstImageFitsAndIsCentredOnBlack() {
        CanvasHarness canvas({1000, 800});
        canvas.inputs.image = solidImage(4000, 3000);
        canvas.inputs.zoomAction = ZoomAction::fit;
        canvas.update();
        QVERIFY(near(canvas.magnification, 0.25));
        QCOMPARE(canvas.visibleRect, QRectF(0, 0, 1, 1));
        QCOMPARE(canvas.log.count(QStringLiteral("zoomConsumed")), 1);
        QVERIFY(!canvas.view.coordinator().isFading()); // the first image appears at once

        // 750 points high on screen: 25 black rows above and below, the image fills the width.
        const QImage shot = canvas.grab();
        QCOMPARE(pixel(shot, 500, 10), QColor(Qt::black));
        QCOMPARE(pixel(shot, 500, 790), QColor(Qt::black));
        QCOMPARE(pixel(shot, 0, 30), QColor(200, 40, 40));
        QCOMPARE(pixel(shot, 999, 770), QColor(200, 40, 40));
    }

    void smallImageShowsAtActualSizeInTheMiddle() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(300, 200));
        QVERIFY(near(canvas.scroll().magnification(), 1.0));
        const QImage shot = canvas.grab();
        QCOMPARE(pixel(shot, 350, 300), QColor(200, 40, 40));
        QCOMPARE(pixel(shot, 649, 499), QColor(200, 40, 40));
        QCOMPARE(pixel(shot, 349, 400), QColor(Qt::black));
        QCOMPARE(pixel(shot, 650, 400), QColor(Qt::black));
        QCOMPARE(pixel(shot, 500, 299), QColor(Qt::black));
        QCOMPARE(pixel(shot, 500, 500), QColor(Qt::black));
    }

    void zoomRequests() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        canvas.inputs.zoomAction = ZoomAction::actualSize;
        canvas.update();
        QVERIFY(near(canvas.magnification, 1.0));
        QVERIFY(!canvas.scroll().isFitMode());
        // actualSize keeps the centre of the previous view, the middle of the image (give or
        // take the scroll bar that has appeared since).
        QVERIFY(std::abs(canvas.scroll().clipBounds().center().x() - 2000) < 10);

        for (double expected : {1.5, 2.25, 3.375}) {
            canvas.inputs.zoomAction = ZoomAction::zoomIn;
            canvas.update();
            QVERIFY(near(canvas.magnification, expected));
        }
        canvas.scroll().setMagnification(16.0);
        canvas.inputs.zoomAction = ZoomAction::zoomIn;
        canvas.update();
        QVERIFY(near(canvas.magnification, 20.0));

        canvas.inputs.zoomAction = ZoomAction::fit;
        canvas.update();
        QVERIFY(canvas.scroll().isFitMode());
        canvas.inputs.zoomAction = ZoomAction::zoomOut;
        canvas.update();
        QVERIFY(near(canvas.magnification, 0.25)); // stays at the minimum...
        QVERIFY(!canvas.scroll().isFitMode());     // ...but leaves fit state
    }

    // The zoom is applied inside the update; the consumption and report follow in later turns,
    // after the refit that the image step deferred.
    void deferredWorkRunsAfterTheUpdateInOrder() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        canvas.inputs.zoomAction = ZoomAction::zoomIn;
        canvas.inputs.image = solidImage(4000, 3000, Qt::blue);
        canvas.view.scheduleUpdate();
        QCoreApplication::processEvents(); // runs only the update itself
        QVERIFY(canvas.log.isEmpty() || !canvas.log.contains(QStringLiteral("zoomConsumed")));
        CanvasHarness::settle();
        QCOMPARE(canvas.log.count(QStringLiteral("zoomConsumed")), 1);
        QCOMPARE(canvas.log.last(), QStringLiteral("state"));
        // The refit ran between the zoom and the consumption: max(magnification from before
        // the update, minimum).
        QVERIFY(near(canvas.magnification, 1.0));
    }

    void nextImageKeepsTheZoomUnlessItsFitIsLarger() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        canvas.inputs.zoomAction = ZoomAction::zoomIn;
        canvas.update();
        canvas.show(solidImage(5000, 4000), std::nullopt);
        QVERIFY(near(canvas.scroll().magnification(), 1.5));
        canvas.scroll().setMagnification(0.1);
        canvas.show(solidImage(500, 400), std::nullopt); // its fit scale 1.0 wins over 0.1
        QVERIFY(near(canvas.scroll().magnification(), 1.0));
    }

    void sameImageAndRotationChangeNothing() {
        CanvasHarness canvas({600, 400});
        canvas.show(solidImage(1200, 800));
        canvas.update();
        QVERIFY(canvas.log.isEmpty());
        QVERIFY(!canvas.view.coordinator().isFading());
    }

    void newImageCrossFades() {
        CanvasHarness canvas({600, 400});
        canvas.show(solidImage(1200, 800));
        canvas.show(solidImage(1200, 800, Qt::blue));
        QVERIFY(canvas.view.coordinator().isFading());
        QTRY_VERIFY_WITH_TIMEOUT(!canvas.view.coordinator().isFading(), 1000);
        QCOMPARE(pixel(canvas.grab(), 300, 200), QColor(Qt::blue));
    }

    void rotationTurnsThePictureClockwise() {
        const ImagePtr quadrants = Image::create(kivo::test::quadrantImage(300, 200));
        const ImagePtr turned = rotatedImage(quadrants, 90);
        QCOMPARE(turned->size(), QSize(200, 300));
        // Clockwise: the former top-left (red) is now top-right, the former bottom-left (blue)
        // top-left; pixel for pixel, no resampling at the seams.
        const QImage& b = turned->bitmap();
        QCOMPARE(b.pixelColor(0, 0), QColor(Qt::blue));
        QCOMPARE(b.pixelColor(199, 0), QColor(Qt::red));
        QCOMPARE(b.pixelColor(199, 299), QColor(Qt::green));
        QCOMPARE(b.pixelColor(0, 299), QColor(Qt::white));
        QCOMPARE(b.pixelColor(99, 149), QColor(Qt::blue));
        QCOMPARE(b.pixelColor(100, 149), QColor(Qt::red));
        QCOMPARE(rotatedImage(quadrants, 270)->bitmap().pixelColor(0, 0), QColor(Qt::green));
        QCOMPARE(rotatedImage(quadrants, 180)->bitmap().pixelColor(0, 0), QColor(Qt::white));
        QCOMPARE(rotatedImage(quadrants, 30)->size(), QSize(360, 324));
        QCOMPARE(rotatedImage(quadrants, 360), quadrants);
        QCOMPARE(imageForDisplay(quadrants, 0), quadrants);

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
        const QImage shot = canvas.grab(); // 400 x 600 fits 200 x 300 at 100 %, centred
        QCOMPARE(pixel(shot, 110, 160), QColor(Qt::blue));
        QCOMPARE(pixel(shot, 290, 160), QColor(Qt::red));
    }

    void scrollTargetCentresAsFarAsTheEdgesAllow() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        canvas.inputs.scrollTarget = QPointF(0, 0);
        canvas.update();
        QCOMPARE(canvas.log.count(QStringLiteral("scrollConsumed")), 1);
        QCOMPARE(canvas.visibleRect.topLeft(), QPointF(0, 0)); // the lower-left corner
        QVERIFY(near(canvas.visibleRect.width(), canvas.scroll().clipBounds().width() / 4000));
        canvas.inputs.scrollTarget = QPointF(0.5, 0.5);
        canvas.update();
        QVERIFY(near(canvas.visibleRect.center().x(), 0.5));
        QVERIFY(near(canvas.visibleRect.center().y(), 0.5));
        canvas.inputs.scrollTarget = QPointF(0.25, 0.9);
        canvas.update();
        QVERIFY(near(canvas.visibleRect.center().x(), 0.25));
        QVERIFY(near(canvas.visibleRect.y() + canvas.visibleRect.height(), 1.0)); // top edge
    }

    // Bound to a real model: opening a file issues the fit request together with the image;
    // the canvas carries both out in one update, the model gets the report and the request
    // is cleared; a click on the right half steps to the next file.
    void boundToTheModel() {
        QTemporaryDir folder;
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(1600, 1200),
                                       folder.filePath(QStringLiteral("a.png")), "png"));
        QVERIFY(kivo::test::writeImage(kivo::test::quadrantImage(800, 600),
                                       folder.filePath(QStringLiteral("b.png")), "png"));
        kivo::test::PrivateSettings settings;
        AppState state({settings.get()});
        ZoomableImageView view;
        view.resize(400, 300);
        bindCanvasToState(view, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        state.openFile(FilePath(folder.filePath(QStringLiteral("a.png")).toStdString()));
        QTRY_VERIFY(!state.zoomAction());
        QVERIFY(near(state.magnification(), 0.25));
        QCOMPARE(state.visibleRect(), QRectF(0, 0, 1, 1));

        QTest::mouseClick(view.scrollView()->documentView(), Qt::LeftButton, {}, {300, 150});
        QCOMPARE(state.currentIndex(), 1);
        QTRY_VERIFY(near(state.magnification(), 0.5));
    }
};

QTEST_MAIN(TestCoordinator)
#include "test_coordinator.moc"
