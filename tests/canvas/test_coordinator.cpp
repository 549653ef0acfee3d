// The canvas's update cycle: the image, zoom and scroll steps, the state report, rotation and
// the cross-fade, seen through real widgets and the pixels they draw, alone and bound to a
// model; and its arithmetic with plain numbers (unit coordinates, turned sizes, auto-size).
#include "canvas/canvasgeometry.h"
#include "canvasharness.h"
#include "model/appstate.h"
#include "support/testsupport.h"
#include "viewer/statebinding.h"

#include <QTest>
#include <tuple>

using namespace kivo;
using namespace kivo::test;
using namespace kivo::canvas;

namespace {

// Exactly, not within the fuzz of QRectF's comparison.
bool isWhole(const QRectF& r) {
    return r.x() == 0.0 && r.y() == 0.0 && r.width() == 1.0 && r.height() == 1.0;
}

} // namespace

class TestCoordinator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void imagesFitCentredOnBlack() {
        const QColor kRed(200, 40, 40), kBlack(Qt::black);
        CanvasHarness canvas({1000, 800});
        canvas.inputs.image = solidImage(4000, 3000);
        canvas.request(ZoomAction::fit);
        QCOMPARE(canvas.magnification, 0.25);
        QVERIFY(isWhole(canvas.visibleRect) && canvas.log.contains("zoomConsumed"));
        QVERIFY(!canvas.view.coordinator().isFading()); // the first image appears at once
        // 750 points high on screen: 25 black rows above and below, the image fills the width.
        checkPixels(canvas.grab(), {{{500, 10}, kBlack}, {{500, 790}, kBlack}, {{0, 30}, kRed}});
        canvas.log.clear();
        canvas.update(); // the same image again changes nothing
        QVERIFY(canvas.log.isEmpty());

        // A new image cross-fades in; a small one shows at 100 %, in the middle.
        canvas.show(solidImage(300, 200));
        QVERIFY(canvas.view.coordinator().isFading());
        QTRY_VERIFY_WITH_TIMEOUT(!canvas.view.coordinator().isFading(), 1000);
        checkPixels(
            canvas.grab(),
            {{{350, 300}, kRed}, {{649, 499}, kRed}, {{349, 400}, kBlack}, {{500, 500}, kBlack}});
    }

    void zoomAndScrollRequests() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        canvas.request(ZoomAction::zoomOut);
        QCOMPARE(canvas.magnification, 0.25);  // stays at the minimum...
        QVERIFY(!canvas.scroll().isFitMode()); // ...but leaves fit state
        canvas.request(ZoomAction::actualSize);
        QCOMPARE(canvas.scroll().clipBounds().center(), QPointF(2000, 1500)); // about the centre
        canvas.request(ZoomAction::zoomIn);
        QCOMPARE(canvas.magnification, 1.5);
        // The next image keeps the zoom, unless its own fit is larger.
        canvas.show(solidImage(5000, 4000), std::nullopt);
        QCOMPARE(canvas.scroll().magnification(), 1.5);
        canvas.scroll().setMagnification(0.1);
        canvas.show(solidImage(500, 400), std::nullopt);
        QCOMPARE(canvas.scroll().magnification(), 1.0);

        // A scroll target is centred as far as the edges allow, then consumed.
        canvas.show(solidImage(4000, 3000), ZoomAction::actualSize);
        canvas.inputs.scrollTarget = QPointF(0, 0);
        canvas.update();
        QCOMPARE(canvas.log.count("scrollConsumed"), 1);
        QCOMPARE(canvas.visibleRect, QRectF(0, 0, 0.25, 800.0 / 3000)); // the lower-left corner
        canvas.inputs.scrollTarget = QPointF(0.25, 0.9);
        canvas.update();
        QCOMPARE(canvas.visibleRect.center().x(), 0.25);
        QCOMPARE(canvas.visibleRect.bottom(), 1.0); // held at the top edge (y up)
    }

    // After any fit the whole picture is on screen, exactly, with no scroll bar over it: also
    // when the picture's shape is within a bar's width of the window's.
    void fitShowsTheWholePicture() {
        CanvasHarness canvas({1000, 800});
        canvas.show(solidImage(4000, 3000));
        canvas.show(solidImage(5000, 4000), std::nullopt); // the next photo, still fitted
        QCOMPARE(canvas.magnification, 0.2);
        QVERIFY(isWhole(canvas.visibleRect) && !canvas.barsShown());

        // Auto-size: the window takes the picture's shape; zoom in, then double-click.
        canvas.inputs.isAutoSizeWindow = true;
        canvas.request(ZoomAction::fit);
        canvas.request(ZoomAction::zoomIn);
        QVERIFY(!isWhole(canvas.visibleRect));
        canvas.request(ZoomAction::fit);
        QTRY_VERIFY(canvas.log.endsWith("state") && isWhole(canvas.visibleRect));
        QVERIFY(!canvas.barsShown());
    }

    // 90 turns the picture a quarter clockwise, 270 counter-clockwise: 300 x 200 quadrants
    // become 200 x 300, here at 100 % from (100, 150), pixel for pixel with a sharp seam.
    void rotationTurnsThePicture() {
        CanvasHarness canvas({400, 600});
        canvas.show(Image::create(quadrantImage(300, 200)));
        for (const auto& [degrees, left, right] :
             {std::tuple{90.0, Qt::blue, Qt::red}, {270.0, Qt::green, Qt::white}}) {
            canvas.inputs.rotation = degrees;
            canvas.update();
            QCOMPARE(canvas.scroll().documentSize(), QSizeF(200, 300));
            QTRY_VERIFY_WITH_TIMEOUT(!canvas.view.coordinator().isFading(), 1000);
            checkPixels(canvas.grab(), {{{199, 160}, left}, {{200, 160}, right}});
        }
    }

    // Bound to a real model: opening a file issues the fit request with the image; the canvas
    // carries both out, the model gets the report and the request is cleared; a click on the
    // right half steps to the next file. A scroll target set while the last one is being
    // consumed is carried out, not cleared with it.
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
        QVERIFY(isWhole(state.visibleRect()));
        QTest::mouseClick(view.scrollView()->documentView(), Qt::LeftButton, {}, {300, 150});
        QCOMPARE(state.currentIndex(), 1);
        QTRY_COMPARE(state.magnification(), 0.5);

        state.setZoomAction(ZoomAction::actualSize);
        QTRY_VERIFY(!state.zoomAction());
        // The navigator's next step arrives after the canvas scrolled, before it reported the
        // step consumed.
        const QPointF last(0.7, 0.6);
        QObject::connect(
            &state, &AppState::visibleRectChanged, &view,
            [&] {
                QMetaObject::invokeMethod(
                    &state, [&] { state.setScrollTarget(last); }, Qt::QueuedConnection);
            },
            Qt::SingleShotConnection);
        state.setScrollTarget(QPointF(0.3, 0.3));
        QTRY_VERIFY(!state.scrollTarget());
        QTRY_VERIFY(near(state.visibleRect().center().x(), last.x(), 0.01) &&
                    near(state.visibleRect().center().y(), last.y(), 0.01));
    }

    void unitCoordinatesAndSizes() {
        const QSizeF photo(4000, 3000);
        QCOMPARE(*visibleUnitRect({0, 0, 2000, 1500}, photo), QRectF(0, 0.5, 0.5, 0.5)); // y up
        // A fitted clip a rounding error short of the image is exactly the whole image.
        const QRectF dust = *visibleUnitRect({1e-9, 0, 4000 * (1 - 1e-14), 3000}, photo);
        QVERIFY(dust.x() == 0.0 && dust.width() == 1.0);
        QCOMPARE(clipOriginForUnitTarget({0, 0}, photo, {1000, 800}), QPointF(-500, 2600));

        // Quarter turns swap the sides exactly; floating-point sine and cosine would not.
        const std::tuple<double, QSize> turns[] = {
            {90, {200, 300}}, {-90, {200, 300}}, {45, {354, 354}}, {qQNaN(), {300, 200}}};
        for (const auto& [degrees, expected] : turns)
            QCOMPARE(rotatedPixelSize(QSize(300, 200), degrees), expected);
        QCOMPARE(navigatorSize({1000000, 1000}, 150), QSizeF(150, 1)); // never thinner than 1
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
};

QTEST_MAIN(TestCoordinator)
#include "test_coordinator.moc"
