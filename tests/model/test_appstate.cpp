// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer model's fields: stored preferences, change notification, and the status bar that
// mouse movement anywhere in the application shows and that hides two seconds after the last.
#include "model/appstate.h"
#include "model/statusbar.h"
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

// Time the test steps by hand, so every timing is exact and instant.
class ManualClock final : public StatusBarClock {
public:
    double now() const override { return now_; }

    std::unique_ptr<QObject> wakeAfter(double seconds, std::function<void()> wake) override {
        auto handle = std::make_unique<QObject>();
        pending_.push_back({now_ + seconds, QPointer<QObject>(handle.get()), std::move(wake)});
        return handle;
    }

    // Moves time forward, running every wake-up that falls due, in order.
    void advance(double seconds) {
        const double until = now_ + seconds;
        for (;;) {
            auto next = std::min_element(pending_.begin(), pending_.end(),
                                         [](const Wake& a, const Wake& b) { return a.at < b.at; });
            if (next == pending_.end() || next->at > until)
                break;
            Wake wake = std::move(*next);
            pending_.erase(next);
            now_ = wake.at;
            if (wake.handle) // a destroyed handle cancelled its wake-up
                wake.callback();
        }
        now_ = until;
    }

private:
    struct Wake {
        double at;
        QPointer<QObject> handle;
        std::function<void()> callback;
    };
    double now_ = 1000.0;
    std::vector<Wake> pending_;
};

} // namespace

class AppStateTest : public QObject {
    Q_OBJECT

    test::PrivateSettings settings_;

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

        QCOMPARE(AppState::isMultiWindowMode(settings), true);
        settings.setValue("multiWindowMode", false);
        QCOMPARE(AppState::isMultiWindowMode(settings), false);
        AppState::saveWindowSize(settings, 800, 99); // too small to be a window
        QVERIFY(!AppState::savedWindowSize(settings));
        AppState::saveWindowSize(settings, 100, 100);
        QCOMPARE(AppState::savedWindowSize(settings), QSizeF(100, 100));
    }

    void fieldsNotifyOnlyOnChangeButListsAlways() {
        AppState state({settings_.get()});
        QSignalSpy zoom(&state, &AppState::zoomActionChanged);
        QSignalSpy current(&state, &AppState::currentImageChanged);
        QSignalSpy overlay(&state, &AppState::overlayModeChanged);
        state.setOverlayMode(OverlayMode::none); // the value it has: silent
        QCOMPARE(overlay.count(), 0);
        state.setZoomAction(ZoomAction::fit);
        state.setZoomAction(ZoomAction::fit);
        QCOMPARE(zoom.count(), 1);

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
        state.removeImageFile(0);
        QCOMPARE(files.count(), 1);
        const ImagePtr image = solidImage(Qt::blue);
        state.storePreloadedImage("/b.jpg", image);
        state.storePreloadedImage("/b.jpg", image);
        QCOMPARE(state.takePreloadedImage("/b.jpg"), image);
        QCOMPARE(cache.count(), 3);
    }

    void statusBarHidesTwoSecondsAfterTheLastActivity() {
        ManualClock clock;
        AppState state({settings_.get(), nullptr, &clock});
        clock.advance(60);
        QVERIFY(state.showStatusBar()); // no activity yet, no countdown

        for (int second = 0; second < 5; ++second) {
            state.showStatusBarTemporarily();
            clock.advance(1.0);
            QVERIFY(state.showStatusBar());
        }
        clock.advance(0.99);
        QVERIFY(state.showStatusBar());
        clock.advance(0.1);
        QVERIFY(!state.showStatusBar());

        // A window closed while its bar waits: the wake-up must not reach its model.
        auto closing =
            std::make_unique<AppState>(AppStateContext{settings_.get(), nullptr, &clock});
        closing->showStatusBarTemporarily();
        closing.reset();
        clock.advance(5);
    }

    void mouseMovementInAnyWindowShowsEveryStatusBar() {
        AppState first({settings_.get()});
        auto second = std::make_unique<AppState>(AppStateContext{settings_.get()});
        first.setShowStatusBar(false);
        second->setShowStatusBar(false);

        QWidget window;
        window.resize(200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
        QCOMPARE(first.showStatusBar(), true);
        QCOMPARE(second->showStatusBar(), true);

        // A destroyed state is forgotten: the next movement must not reach it.
        second.reset();
        QCoreApplication::sendEvent(window.windowHandle(), &move);
        QCOMPARE(first.showStatusBar(), true);
    }
};

QTEST_MAIN(AppStateTest)
#include "test_appstate.moc"
