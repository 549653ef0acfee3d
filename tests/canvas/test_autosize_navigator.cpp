// The window auto-size applied to a real top-level window, the window hooks, and the navigator's
// drawing and gestures.
#include "canvas/navigatoroverlay.h"
#include "viewer/statebinding.h"
#include "canvas/windowautosize.h"
#include "canvasharness.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QScreen>

using namespace kivo;
using namespace kivo::test;

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
        QCOMPARE(canvas.scroll().magnification(), 1.0);
        QVERIFY(canvas.scroll().isFitMode());
        QVERIFY(!canvas.scroll().isAutoSizing());

        // Larger than the screen: scaled down until the whole window frame fills the usable
        // area, borders included.
        canvas.view.move(screen.topLeft() + QPoint(5, 5));
        canvas.show(solidImage(screen.width() * 2, screen.height() * 2), std::nullopt);
        QTRY_COMPARE(canvas.view.frameGeometry(), screen);
        const double scale = double(canvas.view.width()) / (screen.width() * 2);
        QVERIFY(scale < 0.5);
        QCOMPARE(canvas.scroll().magnification(), scale);
        QCOMPARE(canvas.magnification, scale);

        // A fit request is consumed by the finishing step, a turn after the resize, not by the
        // zoom step.
        canvas.inputs.image = solidImage(400, 300);
        canvas.inputs.zoomAction = ZoomAction::fit;
        canvas.view.scheduleUpdate();
        QCoreApplication::processEvents(); // the update and the resize
        QCOMPARE(canvas.view.size(), QSize(400, 300));
        QVERIFY(!canvas.log.contains(QStringLiteral("zoomConsumed")));
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
        child->setParent(&other);
        other.show();
        QCOMPARE(windows.size(), 1);
    }

    // The visible part at full brightness inside a white outline, the rest dimmed; a press and
    // drag navigate to the point under the pointer, held inside the image.
    void navigatorDrawsAndSteers() {
        NavigatorOverlay navigator;
        navigator.setImage(solidImage(400, 300, QColor(200, 200, 200)));
        navigator.setVisibleRect({0.25, 0.5, 0.5, 0.5});
        QCOMPARE(navigator.mapRect().size(), QSizeF(150, 112.5));
        const QPoint map = navigator.mapRect().topLeft().toPoint();
        const QImage shot = navigator.grab().toImage();
        const PixelCheck shades[] = {{map + QPoint(75, 28), QColor(200, 200, 200)},
                                     {map + QPoint(75, 100), QColor(123, 123, 123)},
                                     {map + QPoint(10, 28), QColor(123, 123, 123)}};
        QCOMPARE(firstWrongPixel(shot, shades), QString());
        QVERIFY2(shot.pixelColor(map + QPoint(37, 28)).red() > 215, "a white outline");

        QList<QPointF> targets;
        QList<bool> dragging;
        navigator.onNavigate = [&](QPointF point) { targets << point; };
        navigator.onDragStateChange = [&](bool state) { dragging << state; };
        navigator.show();
        QVERIFY(QTest::qWaitForWindowExposed(&navigator));
        QTest::mousePress(&navigator, Qt::LeftButton, {}, map + QPoint(75, 56));
        QCOMPARE(dragging, QList<bool>{true});
        QVERIFY(near(targets.last().x(), 0.5, 0.01) && near(targets.last().y(), 0.5, 0.01));
        QTest::mouseMove(&navigator, QPoint(-50, -50)); // beyond the top-left corner
        QCOMPARE(targets.last(), QPointF(0, 1));
        QTest::mouseMove(&navigator, QPoint(400, 400));
        QCOMPARE(targets.last(), QPointF(1, 0));
        const qsizetype count = targets.size();
        QTest::mouseRelease(&navigator, Qt::LeftButton, {}, QPoint(400, 400));
        QCOMPARE(dragging.last(), false);
        QCOMPARE(targets.size(), count); // the end navigates no further
    }

    void navigatorShowsWhilePartIsHidden() {
        PrivateSettings settings;
        AppState state({settings.get()});
        NavigatorOverlay navigator;
        bindNavigatorToState(navigator, state);
        state.setCurrentImage(solidImage(400, 300));
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
