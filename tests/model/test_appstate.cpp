// The viewer model's fields: stored preferences, change notification, and the application-wide
// mouse monitor.
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

using namespace kivo;

namespace {

ImagePtr solidImage(QColor color) {
    QImage bitmap(4, 4, QImage::Format_RGB32);
    bitmap.fill(color);
    return Image::create(bitmap);
}

class MoveCountingWidget : public QWidget {
public:
    MoveCountingWidget() { setMouseTracking(true); }
    int moves = 0;

protected:
    void mouseMoveEvent(QMouseEvent*) override { ++moves; }
};

} // namespace

class AppStateTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storedPreferencesAreRestored_data() {
        QTest::addColumn<QVariant>("display");
        QTest::addColumn<QVariant>("overlay");
        QTest::addColumn<QVariant>("thumbnails");
        QTest::addColumn<DisplayMode>("expectedDisplay");
        QTest::addColumn<OverlayMode>("expectedOverlay");
        QTest::addColumn<bool>("expectedThumbnails");
        QTest::newRow("nothing stored") << QVariant() << QVariant() << QVariant()
                                        << DisplayMode::fitToWindow << OverlayMode::none << false;
        QTest::newRow("case names")
            << QVariant("autoSizeWindow") << QVariant("histogram") << QVariant(true)
            << DisplayMode::autoSizeWindow << OverlayMode::histogram << true;
        QTest::newRow("garbage text")
            << QVariant("banana") << QVariant("Histogram") << QVariant("banana")
            << DisplayMode::fitToWindow << OverlayMode::none << false;
        QTest::newRow("wrong types") << QVariant(2) << QVariant(1.5) << QVariant(QSize(1, 1))
                                     << DisplayMode::fitToWindow << OverlayMode::none << false;
        QTest::newRow("boolean as text") << QVariant() << QVariant() << QVariant("true")
                                         << DisplayMode::fitToWindow << OverlayMode::none << true;
    }
    void storedPreferencesAreRestored() {
        QFETCH(QVariant, display);
        QFETCH(QVariant, overlay);
        QFETCH(QVariant, thumbnails);
        test::PrivateSettings settings;
        for (const auto& [key, value] : {std::pair{"displayMode", display},
                                         {"overlayMode", overlay},
                                         {"showThumbnailBar", thumbnails}})
            if (value.isValid())
                settings->setValue(key, value);
        AppState state({settings.get()});
        QTEST(state.displayMode(), "expectedDisplay");
        QTEST(state.overlayMode(), "expectedOverlay");
        QTEST(state.showThumbnailBar(), "expectedThumbnails");
        QCOMPARE(state.showStatusBar(), true);
        QCOMPARE(state.windowTitle(), QStringLiteral("Kivo"));
    }

    void preferencesSurviveAReopenedStore() {
        // INI files keep every value as text: what one state writes, the next must read back.
        QTemporaryDir dir;
        const QString file = dir.filePath("prefs.ini");
        {
            QSettings settings(file, QSettings::IniFormat);
            AppState state({&settings});
            state.setDisplayMode(DisplayMode::actualSize);
            state.setOverlayMode(OverlayMode::metadata);
            state.setShowThumbnailBar(true);
        }
        QSettings settings(file, QSettings::IniFormat);
        AppState state({&settings});
        QCOMPARE(state.displayMode(), DisplayMode::actualSize);
        QCOMPARE(state.overlayMode(), OverlayMode::metadata);
        QCOMPARE(state.showThumbnailBar(), true);
    }

    void fieldsNotifyOnlyOnChangeButListsAlways() {
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QSignalSpy zoom(&state, &AppState::zoomActionChanged);
        QSignalSpy target(&state, &AppState::scrollTargetChanged);
        QSignalSpy current(&state, &AppState::currentImageChanged);
        QSignalSpy overlay(&state, &AppState::overlayModeChanged);
        // Assigning the stored value is silent but still written over whatever the store holds.
        settings->setValue("overlayMode", "tampered");
        state.setOverlayMode(OverlayMode::none);
        QCOMPARE(overlay.count(), 0);
        QCOMPARE(settings->value("overlayMode").toString(), QStringLiteral("none"));
        state.setZoomAction(std::nullopt);
        state.setScrollTarget(std::nullopt);
        QCOMPARE(zoom.count() + target.count(), 0);
        state.setZoomAction(ZoomAction::fit);
        state.setZoomAction(ZoomAction::fit);
        state.setZoomAction(ZoomAction::zoomIn);
        state.setScrollTarget(QPointF(0.5, 0.5));
        state.setScrollTarget(QPointF(0.5, 0.5));
        QCOMPARE(zoom.count(), 2);
        QCOMPARE(target.count(), 1);

        // Images compare by identity: the same pixels in another image are a change.
        const ImagePtr first = solidImage(Qt::red);
        state.setCurrentImage(first);
        state.setCurrentImage(first);
        state.setCurrentImage(solidImage(Qt::red));
        QCOMPARE(current.count(), 2);

        // Changes made in place always notify.
        state.setImageFiles({"/a.jpg", "/b.jpg"});
        QSignalSpy files(&state, &AppState::imageFilesChanged);
        QSignalSpy cache(&state, &AppState::preloadedImagesChanged);
        state.setImageFiles({"/a.jpg", "/b.jpg"});
        QCOMPARE(files.count(), 0);
        state.removeImageFile(0);
        QCOMPARE(files.count(), 1);
        QCOMPARE(state.imageFiles(), std::vector<FilePath>{"/b.jpg"});

        const ImagePtr image = solidImage(Qt::blue);
        state.storePreloadedImage("/b.jpg", image);
        state.storePreloadedImage("/b.jpg", image); // re-storing the same entry still notifies
        QCOMPARE(cache.count(), 2);
        QCOMPARE(state.takePreloadedImage("/b.jpg"), image);
        QCOMPARE(state.takePreloadedImage("/b.jpg"), ImagePtr());
        QCOMPARE(cache.count(), 3);
    }

    void multiWindowModeAndWindowSize() {
        test::PrivateSettings settings;
        QSettings& store = settings.settings();
        QCOMPARE(AppState::isMultiWindowMode(store), true);
        store.setValue("multiWindowMode", false);
        QCOMPARE(AppState::isMultiWindowMode(store), false);

        QVERIFY(!AppState::savedWindowSize(store));
        AppState::saveWindowSize(store, 800, 99); // too small to be a window
        QVERIFY(!AppState::savedWindowSize(store));
        AppState::saveWindowSize(store, 100, 100);
        QCOMPARE(AppState::savedWindowSize(store), QSizeF(100, 100));
        store.setValue("lastWindowWidth", "wide");
        QVERIFY(!AppState::savedWindowSize(store));
    }

    void mouseMovementInAnyWindowShowsEveryStatusBar() {
        test::PrivateSettings settings;
        AppState first({settings.get()});
        auto second = std::make_unique<AppState>(AppStateContext{settings.get()});
        first.setShowStatusBar(false);
        second->setShowStatusBar(false);

        MoveCountingWidget window;
        window.resize(200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
        QCOMPARE(window.moves, 1); // watched, not swallowed
        QCOMPARE(first.showStatusBar(), true);
        QCOMPARE(second->showStatusBar(), true);

        // A destroyed state is forgotten: the next movement must not reach it.
        second.reset();
        first.setShowStatusBar(false);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
        QCOMPARE(first.showStatusBar(), true);
    }
};

QTEST_MAIN(AppStateTest)
#include "test_appstate.moc"
