// The window auto-size applied to a real top-level window (offscreen, then on an X server with
// and without a window manager), the window hooks, and the navigator's drawing and gestures.
#include "canvas/navigatoroverlay.h"
#include "canvas/windowautosize.h"
#include "canvasharness.h"
#include "model/appstate.h"
#include "support/testsupport.h"
#include "viewer/statebinding.h"

#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace kivo;
using namespace kivo::test;

namespace {

bool nearPoint(QPoint a, QPoint b) {
    return (a - b).manhattanLength() <= 1; // halves of a point round either way
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
        if (qEnvironmentVariableIsSet("KIVO_ON_X_SERVER"))
            QSKIP("already running on the X server");
        for (const char* program : {"xvfb-run", "openbox"})
            if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
                QSKIP("xvfb-run and openbox are needed");
        const QString waitForManager = QStringLiteral(
            "openbox --sm-disable --startup 'touch managed' & for i in $(seq 100); do "
            "[ -e managed ] && break; sleep 0.1; done; [ -e managed ] || exit 3; ");
        for (const QString& start : {QString(), waitForManager}) {
            QTemporaryDir home;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", "xcb");
            environment.insert("HOME", home.path());
            environment.insert("KIVO_ON_X_SERVER", "1");
            QProcess test;
            test.setProcessEnvironment(environment);
            test.setWorkingDirectory(home.path());
            test.setProcessChannelMode(QProcess::MergedChannels);
            test.start("xvfb-run",
                       {"-a", "sh", "-c", start + "exec \"$0\" newImagesSizeAndCentreTheWindow",
                        QCoreApplication::applicationFilePath()});
            QVERIFY(test.waitForFinished(60000));
            QVERIFY2(test.exitCode() == 0, test.readAll().constData());
        }
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

QTEST_MAIN(TestAutoSizeNavigator)
#include "test_autosize_navigator.moc"
