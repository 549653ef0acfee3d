// SPDX-License-Identifier: GPL-3.0-or-later
// The canvas's update cycle: the image, zoom and scroll steps, the state report, rotation, the
// cross-fade and animation playback, seen through real widgets and the pixels they draw, alone
// and bound to a model; and its arithmetic with plain numbers (unit coordinates, turned sizes,
// auto-size).
#include "canvas/canvasgeometry.h"
#include "canvas/frameplayer.h"
#include "canvas/navigatoroverlay.h"
#include "canvas/windowautosize.h"
#include "canvasharness.h"
#include "imaging/codecs/animation.h"
#include "model/appstate.h"
#include "support/testsupport.h"
#include "viewer/statebinding.h"

#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
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

const QList<QColor> kColours{Qt::red, Qt::green, Qt::blue};

// Three flat 60 x 20 frames, 20 ms each; `broken` is a frame index that cannot be decoded.
struct ColourFrames : FrameSource {
    int broken = -1;
    int frameCount() const override { return 3; }
    int frameDelayMs(int) const override { return 20; }
    QImage decodeFrame(int index) override {
        return index == broken ? QImage() : solidImage(60, 20, kColours.at(index))->bitmap();
    }
};

ImagePtr animation(int broken = -1) {
    auto frames = std::make_unique<ColourFrames>();
    frames->broken = broken;
    QImage first = frames->decodeFrame(0); // before the frames are handed over
    return Image::createAnimated(std::move(first), std::move(frames));
}

bool nearPoint(QPoint a, QPoint b) {
    return (a - b).manhattanLength() <= 1; // halves of a point round either way
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

    // A sharper level of the picture on screen swaps in without a fade and without the view
    // moving: same magnification, same visible rectangle, at fit and zoomed in alike. The
    // reduced level is drawn stretched over the full size meanwhile.
    void aSharperLevelKeepsTheView() {
        CanvasHarness canvas({1000, 800});
        QImage full(4000, 3000, QImage::Format_RGB32);
        full.fill(Qt::darkGreen);
        for (const auto action : {ZoomAction::fit, ZoomAction::actualSize}) {
            canvas.show(Image::createLevel(full.scaled(1000, 750), full.size()), action);
            QCOMPARE(canvas.scroll().documentSize(), QSizeF(4000, 3000));
            canvas.inputs.scrollTarget = QPointF(0.3, 0.6);
            canvas.update();
            const double magnification = canvas.magnification;
            const QRectF visible = canvas.visibleRect;
            QTRY_VERIFY(!canvas.view.coordinator().isFading());
            canvas.inputs.image = canvas.inputs.image->refined(full);
            canvas.update();
            QVERIFY(!canvas.view.coordinator().isFading());
            QVERIFY(canvas.document().image()->isFullResolution());
            QCOMPARE(canvas.scroll().magnification(), magnification);
            QCOMPARE(canvas.visibleRect, visible);
        }
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
        for (const double degrees : {90.0, -90.0, 270.0})
            QCOMPARE(rotatedPixelSize(QSize(300, 200), degrees), QSize(200, 300));
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

    // Frames play in order and loop, turned like the still picture, until the next picture or a
    // frame that cannot be decoded.
    void framesLoopTurnedLikeTheStillUntilTheNextPicture() {
        CanvasHarness canvas({200, 200});
        FramePlayer* player = canvas.view.coordinator().framePlayer();
        QSignalSpy shown(player, &FramePlayer::frameShown);
        canvas.inputs.rotation = 90;
        canvas.show(animation());
        QCOMPARE(canvas.scroll().documentSize(), QSizeF(20, 60));
        QTRY_VERIFY(shown.size() >= 4);
        player->stop();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(shown.at(i).first().toInt(), (i + 1) % 3);
        const QImage shot = canvas.grab(); // a 20 x 60 column in the middle
        QCOMPARE(shot.pixelColor(100, 75), kColours.at(shown.last().first().toInt()));
        QCOMPARE(shot.pixelColor(80, 100), QColor(Qt::black));

        canvas.show(animation());
        canvas.show(solidImage(40, 40, Qt::white));
        QVERIFY(!player->isPlaying());
        const qsizetype count = shown.size();
        QTest::qWait(100);
        QCOMPARE(shown.size(), count);

        // A frame that cannot be decoded ends playback on the last good one.
        canvas.show(animation(2));
        QTRY_VERIFY(!player->isPlaying());
        QCOMPARE(shown.last().first().toInt(), 1);
        QTRY_COMPARE(canvas.grab().pixelColor(100, 100), QColor(Qt::green)); // faded in
    }

    void newImagesSizeAndCentreTheWindow() {
        CanvasHarness canvas({300, 200});
        const QRect screen = canvas.view.screen()->availableGeometry();
        canvas.inputs.isAutoSizeWindow = true;
        canvas.show(solidImage(screen.width() / 2, screen.height() / 2), std::nullopt);
        QTRY_COMPARE(canvas.view.size(), screen.size() / 2);
        QTRY_VERIFY(nearPoint(canvas.view.frameGeometry().center(), screen.center()));
        QTRY_COMPARE(canvas.magnification, 1.0);
        QVERIFY(canvas.scroll().isFitMode() && !canvas.scroll().isAutoSizing());

        // Larger than the screen: scaled down until the window frame, borders included, fills
        // the usable area on one side; centred on it.
        canvas.view.move(screen.topLeft() + QPoint(5, 5));
        const QSize large = screen.size() * 2;
        canvas.show(solidImage(large.width(), large.height()), std::nullopt);
        const auto fillsOneSide = [&] {
            const QRect frame = canvas.view.frameGeometry();
            return screen.contains(frame) && nearPoint(frame.center(), screen.center()) &&
                   (frame.width() == screen.width() || frame.height() == screen.height());
        };
        QTRY_VERIFY(fillsOneSide());
        QTRY_VERIFY(
            near(canvas.magnification, double(canvas.view.height()) / large.height(), 1e-3));

        // A fit request is consumed once the window has its new size.
        canvas.inputs.image = solidImage(400, 300);
        canvas.request(ZoomAction::fit);
        QTRY_COMPARE(canvas.view.size(), QSize(400, 300));
        QTRY_VERIFY(canvas.log.count("zoomConsumed") == 1 && canvas.log.endsWith("state"));
        QTRY_COMPARE(canvas.magnification, 1.0);
    }

    // The case above again on a real X server, bare and under openbox: no decorations and
    // geometry as asked on one, decorations and a window manager's say on the other.
    void autoSizeOnARealXServer() {
        for (const bool windowManager : {false, true})
            KIVO_RERUN_ON_X_SERVER("newImagesSizeAndCentreTheWindow", windowManager);
    }

    void windowHooks() {
        QWidget window;
        auto* child = new QWidget(&window);
        QList<QWidget*> windows;
        QList<QSizeF> ends;
        new WindowAccessor(
            child, [&](QWidget* w) { windows << w; }, [&](QSizeF size) { ends << size; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // A user's drag: many resizes, one report once they stop, with the outer frame size.
        for (int step = 1; step <= 4; ++step) {
            window.resize(500 + 10 * step, 400 + 5 * step);
            QTest::qWait(50);
        }
        QTRY_COMPARE(ends.size(), 1);
        QCOMPARE(ends.first(), QSizeF(window.frameGeometry().size()));
        resizeWindowProgrammatically(&window, {500, 400}); // not the user's
        QWidget other; // later moves to other windows are not reported
        child->setParent(&other);
        other.show();
        QTest::qWait(1000);
        QCOMPARE(ends.size(), 1);
        QCOMPARE(windows, QList<QWidget*>{&window});
    }

    // Bound to a model: shown only while part of the picture is hidden or a drag is under way;
    // drawing the picture as the canvas shows it, turned on screen when the turn could not be
    // saved, the visible part bright and the rest dimmed; presses steer to the point under the
    // pointer, held inside the picture.
    void navigatorFollowsTheDisplayedPicture() {
        PrivateSettings settings;
        AppState state({settings.get()});
        NavigatorOverlay navigator;
        bindNavigatorToState(navigator, state);
        state.setCurrentImage(Image::create(quadrantImage(400, 300)));
        QVERIFY(navigator.isHidden());
        state.setRotation(90);
        state.setVisibleRect({0, 0.5, 1, 0.5}); // the upper half of the turned picture
        QVERIFY(!navigator.isHidden());
        QCOMPARE(navigator.mapRect().size(), QSizeF(112.5, 150));
        const QPoint map = navigator.mapRect().topLeft().toPoint();
        // Turned clockwise: blue (bottom-left) now top-left, red (top-left) top-right.
        checkPixels(navigator.grab().toImage(), {{map + QPoint(20, 30), Qt::blue},
                                                 {map + QPoint(90, 30), Qt::red},
                                                 {map + QPoint(90, 120), QColor(0, 178, 0)}});

        QVERIFY(QTest::qWaitForWindowExposed(&navigator));
        QTest::mousePress(&navigator, Qt::LeftButton, {}, map + QPoint(28, 112));
        QVERIFY(near(state.scrollTarget()->x(), 0.25, 0.01) &&
                near(state.scrollTarget()->y(), 0.25, 0.01));
        state.setVisibleRect({0, 0, 1, 1});
        QVERIFY(state.isNavigatorDragging() && !navigator.isHidden());
        QTest::mouseMove(&navigator, QPoint(-50, -50)); // beyond the top-left corner
        QCOMPARE(*state.scrollTarget(), QPointF(0, 1));
        QTest::mouseRelease(&navigator, Qt::LeftButton, {}, QPoint(-50, -50));
        QVERIFY(!state.isNavigatorDragging() && navigator.isHidden());
    }
};

QTEST_MAIN(TestCoordinator)
#include "test_coordinator.moc"
