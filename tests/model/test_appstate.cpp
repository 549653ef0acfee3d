// The viewer model's fields: defaults, stored preferences, change notification, and the
// application-wide mouse monitor.
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
    void emptyStoreGivesDefaults() {
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QCOMPARE(state.displayMode(), DisplayMode::fitToWindow);
        QCOMPARE(state.overlayMode(), OverlayMode::none);
        QCOMPARE(state.showThumbnailBar(), false);
        QCOMPARE(state.showStatusBar(), true);
        QCOMPARE(state.magnification(), 1.0);
        QCOMPARE(state.visibleRect(), QRectF(0, 0, 1, 1));
        QVERIFY(!state.zoomAction());
        QVERIFY(!state.scrollTarget());
        QVERIFY(!state.currentURL());
        QVERIFY(!state.currentImage());
        QCOMPARE(state.currentIndex(), 0);
        QCOMPARE(state.rotation(), 0.0);
        QVERIFY(!state.hasHideStatusBarTask());
        QVERIFY(state.preloadedImages().empty());
        QCOMPARE(state.windowTitle(), QStringLiteral("Kivo"));
    }

    void storedPreferencesAreRestored_data() {
        QTest::addColumn<QVariant>("display");
        QTest::addColumn<QVariant>("overlay");
        QTest::addColumn<QVariant>("thumbnails");
        QTest::addColumn<DisplayMode>("expectedDisplay");
        QTest::addColumn<OverlayMode>("expectedOverlay");
        QTest::addColumn<bool>("expectedThumbnails");
        QTest::newRow("every case name")
            << QVariant("autoSizeWindow") << QVariant("histogram") << QVariant(true)
            << DisplayMode::autoSizeWindow << OverlayMode::histogram << true;
        QTest::newRow("actual size, metadata")
            << QVariant("actualSize") << QVariant("metadata") << QVariant(false)
            << DisplayMode::actualSize << OverlayMode::metadata << false;
        QTest::newRow("garbage text")
            << QVariant("banana") << QVariant("Histogram") << QVariant("banana")
            << DisplayMode::fitToWindow << OverlayMode::none << false;
        QTest::newRow("wrong types") << QVariant(2) << QVariant(1.5) << QVariant(QSize(1, 1))
                                     << DisplayMode::fitToWindow << OverlayMode::none << false;
        QTest::newRow("boolean as stored text")
            << QVariant("fitToWindow") << QVariant("none") << QVariant("true")
            << DisplayMode::fitToWindow << OverlayMode::none << true;
        QTest::newRow("boolean as number") << QVariant() << QVariant() << QVariant(1)
                                           << DisplayMode::fitToWindow << OverlayMode::none << true;
    }

    void storedPreferencesAreRestored() {
        QFETCH(QVariant, display);
        QFETCH(QVariant, overlay);
        QFETCH(QVariant, thumbnails);
        test::PrivateSettings settings;
        if (display.isValid())
            settings->setValue("displayMode", display);
        if (overlay.isValid())
            settings->setValue("overlayMode", overlay);
        settings->setValue("showThumbnailBar", thumbnails);
        AppState state({settings.get()});
        QTEST(state.displayMode(), "expectedDisplay");
        QTEST(state.overlayMode(), "expectedOverlay");
        QTEST(state.showThumbnailBar(), "expectedThumbnails");
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

    void assigningTheCurrentValueIsSilentButStillWritten() {
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QSignalSpy overlaySpy(&state, &AppState::overlayModeChanged);
        QSignalSpy thumbSpy(&state, &AppState::showThumbnailBarChanged);

        settings->setValue("overlayMode", "tampered");
        settings->setValue("showThumbnailBar", "tampered");
        state.setOverlayMode(OverlayMode::none);
        state.setShowThumbnailBar(false);
        QCOMPARE(overlaySpy.count(), 0);
        QCOMPARE(thumbSpy.count(), 0);
        QCOMPARE(settings->value("overlayMode").toString(), QStringLiteral("none"));
        QCOMPARE(settings->value("showThumbnailBar").toBool(), false);

        state.setOverlayMode(OverlayMode::histogram);
        QCOMPARE(overlaySpy.count(), 1);
        QCOMPARE(settings->value("overlayMode").toString(), QStringLiteral("histogram"));
    }

    void fieldsNotifyOnlyOnChange() {
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QSignalSpy magnification(&state, &AppState::magnificationChanged);
        QSignalSpy rect(&state, &AppState::visibleRectChanged);
        QSignalSpy zoom(&state, &AppState::zoomActionChanged);
        QSignalSpy target(&state, &AppState::scrollTargetChanged);
        QSignalSpy error(&state, &AppState::deleteErrorChanged);

        state.setMagnification(1.0);
        state.setVisibleRect(QRectF(0, 0, 1, 1));
        state.setZoomAction(std::nullopt);
        state.setScrollTarget(std::nullopt);
        state.setDeleteError(std::nullopt);
        QCOMPARE(magnification.count() + rect.count() + zoom.count() + target.count() +
                     error.count(),
                 0);

        state.setMagnification(0.5);
        state.setMagnification(0.5);
        state.setVisibleRect(QRectF(0.25, 0.25, 0.5, 0.5));
        state.setZoomAction(ZoomAction::fit);
        state.setZoomAction(ZoomAction::fit);
        state.setZoomAction(ZoomAction::zoomIn);
        state.setScrollTarget(QPointF(0.5, 0.5));
        state.setScrollTarget(QPointF(0.5, 0.5));
        state.setDeleteError(QStringLiteral("denied"));
        state.setDeleteError(QStringLiteral("denied"));
        QCOMPARE(magnification.count(), 1);
        QCOMPARE(rect.count(), 1);
        QCOMPARE(zoom.count(), 2);
        QCOMPARE(target.count(), 1);
        QCOMPARE(error.count(), 1);
    }

    void imagesCompareByIdentityNotPixels() {
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QSignalSpy spy(&state, &AppState::currentImageChanged);
        const ImagePtr first = solidImage(Qt::red);
        const ImagePtr twin = solidImage(Qt::red);
        state.setCurrentImage(first);
        state.setCurrentImage(first);
        QCOMPARE(spy.count(), 1);
        state.setCurrentImage(twin); // same pixels, another image: a change
        QCOMPARE(spy.count(), 2);
        state.setCurrentImage(nullptr);
        QCOMPARE(spy.count(), 3);
    }

    void inPlaceListChangesAlwaysNotify() {
        test::PrivateSettings settings;
        AppState state({settings.get()});
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
        QCOMPARE(AppState::isMultiWindowMode(*settings.get()), true);
        settings->setValue("multiWindowMode", false);
        QCOMPARE(AppState::isMultiWindowMode(*settings.get()), false);
        settings->setValue("multiWindowMode", "true");
        QCOMPARE(AppState::isMultiWindowMode(*settings.get()), true);

        QVERIFY(!AppState::savedWindowSize(*settings.get()));
        AppState::saveWindowSize(*settings.get(), 800, 99);
        QVERIFY(!AppState::savedWindowSize(*settings.get()));
        AppState::saveWindowSize(*settings.get(), 100, 100);
        QCOMPARE(AppState::savedWindowSize(*settings.get()), QSizeF(100, 100));
        settings->setValue("lastWindowWidth", "wide");
        QVERIFY(!AppState::savedWindowSize(*settings.get()));
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
        QSignalSpy secondShown(second.get(), &AppState::showStatusBarChanged);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
        QCOMPARE(window.moves, 1); // watched, not swallowed
        QCOMPARE(first.showStatusBar(), true);
        QCOMPARE(second->showStatusBar(), true);
        QCOMPARE(secondShown.count(), 1);

        // A destroyed state is forgotten: the next movement must not reach it.
        second.reset();
        first.setShowStatusBar(false);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
        QCOMPARE(first.showStatusBar(), true);
    }
};

QTEST_MAIN(AppStateTest)
#include "test_appstate.moc"
