// The window auto-size applied to a real top-level window, the window hooks, and the navigator's
// drawing and gestures.
#include "canvas/navigatoroverlay.h"
#include "canvas/statebinding.h"
#include "canvas/windowautosize.h"
#include "canvasharness.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QScreen>

using namespace kivo;
using kivo::test::CanvasHarness;
using kivo::test::solidImage;

namespace {

bool near(double a, double b) {
    return std::abs(a - b) < 1e-6;
}

} // namespace

class TestAutoSizeNavigator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void newImagesSizeAndCentreTheWindow() {
        CanvasHarness canvas({300, 200});
        const QRect screen = canvas.view.screen()->availableGeometry();
        canvas.inputs.isAutoSizeWindow = true;
        canvas.show(solidImage(screen.width() / 2, screen.height() / 2), std::nullopt);
        QTRY_COMPARE(canvas.view.size(), screen.size() / 2);
        QCOMPARE(canvas.view.frameGeometry().center(), screen.center());
        QVERIFY(near(canvas.scroll().magnification(), 1.0));
        QVERIFY(canvas.scroll().isFitMode());
        QVERIFY(!canvas.scroll().isAutoSizing());

        // Larger than the screen: scaled down until the whole window frame fills the usable
        // area, borders included.
        canvas.view.move(screen.topLeft() + QPoint(5, 5));
        canvas.show(solidImage(screen.width() * 2, screen.height() * 2), std::nullopt);
        QTRY_COMPARE(canvas.view.frameGeometry(), screen);
        const double scale = double(canvas.view.width()) / (screen.width() * 2);
        QVERIFY(scale < 0.5);
        QVERIFY(near(canvas.scroll().magnification(), scale));
        QVERIFY(near(canvas.magnification, scale));
    }

    // A fit request in auto-size mode is consumed by the finishing step, a turn after the
    // resize, not by the zoom step.
    void fitRequestIsConsumedAfterTheResize() {
        CanvasHarness canvas({300, 200});
        canvas.show(solidImage(400, 300));
        canvas.inputs.isAutoSizeWindow = true;
        canvas.inputs.zoomAction = ZoomAction::fit;
        canvas.view.scheduleUpdate();
        QCoreApplication::processEvents(QEventLoop::AllEvents); // the update and the resize
        QCOMPARE(canvas.view.size(), QSize(400, 300));
        CanvasHarness::settle();
        QCOMPARE(canvas.log.count(QStringLiteral("zoomConsumed")), 1);
        QCOMPARE(canvas.log.last(), QStringLiteral("state"));
    }

    void windowHooks() {
        QWidget window;
        auto* child = new QWidget(&window);
        QList<QWidget*> windows;
        QList<QSizeF> ends;
        new WindowAccessor(
            child, [&](QWidget* w) { windows << w; }, [&](QSizeF size) { ends << size; });
        window.resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(windows, QList<QWidget*>{&window});

        // The program's own resizes are not the user's.
        resizeWindowProgrammatically(&window, {500, 400});
        QTest::qWait(WindowAccessor::kQuietTimeMs + 150);
        QVERIFY(ends.isEmpty());

        // A user's drag: many resizes, one report once they stop, with the outer frame size.
        for (int step = 1; step <= 4; ++step) {
            window.resize(500 + 10 * step, 400 + 5 * step);
            QTest::qWait(50);
        }
        QVERIFY(ends.isEmpty());
        QTRY_COMPARE(ends.size(), 1);
        QCOMPARE(ends.first(), QSizeF(window.frameGeometry().size()));
        QTest::qWait(WindowAccessor::kQuietTimeMs + 100);
        QCOMPARE(ends.size(), 1);

        // Later moves to other windows are not reported.
        QWidget other;
        other.show();
        child->setParent(&other);
        child->show();
        QCOMPARE(windows.size(), 1);
    }

    void navigatorGesture() {
        NavigatorOverlay navigator;
        navigator.setImage(solidImage(4000, 3000));
        QCOMPARE(navigator.mapRect().size(), QSizeF(150, 112.5));
        QList<QPointF> targets;
        QList<bool> dragging;
        navigator.onNavigate = [&](QPointF point) { targets << point; };
        navigator.onDragStateChange = [&](bool state) { dragging << state; };
        navigator.show();
        QVERIFY(QTest::qWaitForWindowExposed(&navigator));

        const QPointF origin = navigator.mapRect().topLeft();
        const QPoint middle = (origin + QPointF(75, 56.25)).toPoint();
        QTest::mousePress(&navigator, Qt::LeftButton, {}, middle);
        QCOMPARE(dragging, QList<bool>{true});
        QVERIFY(std::abs(targets.last().x() - 0.5) < 0.01 &&
                std::abs(targets.last().y() - 0.5) < 0.01);
        QTest::mouseMove(&navigator, QPoint(-50, -50)); // beyond the top-left corner
        QCOMPARE(targets.last(), QPointF(0, 1));
        QTest::mouseMove(&navigator, QPoint(400, 400));
        QCOMPARE(targets.last(), QPointF(1, 0));
        const qsizetype count = targets.size();
        QTest::mouseRelease(&navigator, Qt::LeftButton, {}, QPoint(400, 400));
        QCOMPARE(dragging.last(), false);
        QCOMPARE(targets.size(), count); // the end navigates no further

        QTest::mousePress(&navigator, Qt::LeftButton, {}, origin.toPoint());
        QCOMPARE(targets.last(), QPointF(0, 1));
        QTest::mouseRelease(&navigator, Qt::LeftButton, {}, origin.toPoint());
    }

    // The visible part at full brightness inside a white outline, the rest dimmed.
    void navigatorDrawsTheViewportFrame() {
        NavigatorOverlay navigator;
        navigator.setImage(solidImage(300, 300, QColor(200, 200, 200)));
        navigator.setVisibleRect({0.25, 0.5, 0.5, 0.5});
        const QImage shot = navigator.grab().toImage();
        const QPoint map = navigator.mapRect().topLeft().toPoint();
        QCOMPARE(shot.pixelColor(map + QPoint(75, 37)), QColor(200, 200, 200));
        QCOMPARE(shot.pixelColor(map + QPoint(75, 110)), QColor(123, 123, 123));
        QCOMPARE(shot.pixelColor(map + QPoint(10, 37)), QColor(123, 123, 123));
        const QColor outline = shot.pixelColor(map + QPoint(37, 37));
        QVERIFY2(outline.red() > 215, "the frame's left edge is outlined in white");
    }

    void navigatorShowsWhilePartIsHidden() {
        kivo::test::PrivateSettings settings;
        AppState state({settings.get()});
        NavigatorOverlay navigator;
        bindNavigatorToState(navigator, state);
        state.setCurrentImage(solidImage(400, 300));
        QVERIFY(!navigator.isVisibleTo(nullptr) || navigator.isHidden());
        state.setVisibleRect({0, 0, 0.5, 1});
        QVERIFY(!navigator.isHidden());
        state.setVisibleRect({0, 0, 1, 1});
        QVERIFY(navigator.isHidden());
        state.setIsNavigatorDragging(true);
        QVERIFY(!navigator.isHidden());
        navigator.onNavigate(QPointF(0.3, 0.7));
        QCOMPARE(state.scrollTarget(), QPointF(0.3, 0.7));
    }
};

QTEST_MAIN(TestAutoSizeNavigator)
#include "test_autosize_navigator.moc"
