// Opening, stepping and preloading on folders of real JPEGs written at test time.
#include "model/appstate.h"
#include "model/preloadpool.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace kivo;

namespace {

// Lets every preload still decoding finish and hands its result to the model.
void finishPreloads() {
    preloadThreadPool().waitForDone();
    QCoreApplication::sendPostedEvents();
}

bool showsWhite(const ImagePtr& image) {
    // JPEG is lossy: a few levels short of white is still white.
    const QColor c = image->bitmap().pixelColor(image->width() / 2, image->height() / 2);
    return c.red() > 243 && c.green() > 243 && c.blue() > 243;
}

std::vector<FilePath> cachedFiles(const AppState& state) {
    std::vector<FilePath> files;
    for (const auto& entry : state.preloadedImages())
        files.push_back(entry.first);
    return files;
}

} // namespace

class TestLoading : public QObject {
    Q_OBJECT

    test::PrivateSettings settings_;

private Q_SLOTS:
    void cleanup() { finishPreloads(); }

    void navigationWrapsAroundAndResetsRotation() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        AppState state({settings_.get()});
        state.openFile(folder.path("c.jpg"));
        QCOMPARE(state.currentIndex(), 2);

        state.setRotation(90);
        state.navigate(+1);
        QCOMPARE(state.currentURL(), folder.path("a.jpg"));
        QCOMPARE(state.rotation(), 0.0);
        QVERIFY(state.currentImage());
        QVERIFY(!state.metadata().isEmpty());

        state.setRotation(180);
        state.navigate(-1);
        QCOMPARE(state.currentURL(), folder.path("c.jpg"));
        QCOMPARE(state.rotation(), 0.0);

        state.setRotation(270);
        state.goToIndex(1);
        QCOMPARE(state.rotation(), 0.0);
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
    }

    void oneOrTwoFilesPreloadEachNeighbourOnce() {
        test::PhotoFolder single({"photo.jpg"});
        AppState alone({settings_.get()});
        alone.openFile(single.path("photo.jpg"));
        const ImagePtr shown = alone.currentImage();
        alone.navigate(+1);
        finishPreloads();
        QCOMPARE(alone.currentImage(), shown);
        QVERIFY(alone.preloadedImages().empty());
        QCOMPARE(alone.windowTitle(), QStringLiteral("photo.jpg"));

        test::PhotoFolder pair({"a.jpg", "b.jpg"});
        AppState state({settings_.get()});
        state.openFile(pair.path("a.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), pair.paths({"b.jpg"}));
        state.navigate(-1);
        QCOMPARE(state.currentURL(), pair.path("b.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), pair.paths({"a.jpg"}));
    }

    // The neighbour decoded in the background is the very image shown after the step: nothing
    // is decoded again on the GUI thread.
    void steppingTakesThePreloadedImage() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        AppState state({settings_.get()});
        state.openFile(folder.path("b.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"a.jpg", "c.jpg"}));

        const ImagePtr preloaded = state.preloadedImages().at(folder.path("c.jpg"));
        state.navigate(+1);
        QCOMPARE(state.currentImage(), preloaded);
        // The current image leaves the cache, and a (no longer a neighbour) is dropped.
        QVERIFY(state.preloadedImages().empty());
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"b.jpg", "d.jpg"}));
    }

    // A rotation save rewrites the current file while an older decode of it may still be on
    // its way back; that stale picture must never be shown later.
    void rewrittenFileIsNotShownFromAStaleDecode() {
        test::PhotoFolder folder({"a.jpg", "b.jpg"});
        AppState state({settings_.get()});
        state.openFile(folder.path("a.jpg")); // starts decoding b in the background
        state.navigate(+1);                   // b is shown before that decode is stored
        folder.write("b.jpg", Qt::white);
        state.reloadCurrentImage();
        QVERIFY(showsWhite(state.currentImage()));

        finishPreloads();
        state.navigate(+1);
        finishPreloads();
        state.navigate(+1);
        QCOMPARE(state.currentURL(), folder.path("b.jpg"));
        QVERIFY(showsWhite(state.currentImage()));
    }

    void undecodableNeighbourIsDecodedWhenShownAndStaysEmpty() {
        test::PhotoFolder folder({"a.jpg", "c.jpg"});
        QFile broken(QFileInfo(displayPath(folder.path("a.jpg"))).dir().filePath("b.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a picture");
        broken.close();

        AppState state({settings_.get()});
        state.openFile(folder.path("a.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"c.jpg"}));
        state.navigate(+1);
        QVERIFY(!state.currentImage());
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
    }

    // Preloads hold the model weakly: a window closed while they run is not touched.
    void closingWhilePreloadingIsSafe() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        auto state = std::make_unique<AppState>(AppStateContext{settings_.get()});
        state->openFile(folder.path("b.jpg"));
        state.reset();
        finishPreloads();
    }

    void displayModeBecomesAZoomRequest_data() {
        QTest::addColumn<DisplayMode>("mode");
        QTest::addColumn<std::optional<ZoomAction>>("afterOpen");
        QTest::addColumn<std::optional<ZoomAction>>("afterSet");
        QTest::newRow("fit") << DisplayMode::fitToWindow << std::optional(ZoomAction::fit)
                             << std::optional(ZoomAction::fit);
        QTest::newRow("actual size")
            << DisplayMode::actualSize << std::optional(ZoomAction::actualSize)
            << std::optional(ZoomAction::actualSize);
        // The window sizes itself to the image; choosing the mode still refits once.
        QTest::newRow("auto size") << DisplayMode::autoSizeWindow << std::optional<ZoomAction>()
                                   << std::optional(ZoomAction::fit);
    }
    void displayModeBecomesAZoomRequest() {
        QFETCH(DisplayMode, mode);
        test::PhotoFolder folder({"a.jpg"});
        test::PrivateSettings settings;
        settings->setValue(QStringLiteral("displayMode"), caseName(mode));
        AppState state({settings.get()});
        state.openFile(folder.path("a.jpg"));
        QTEST(state.zoomAction(), "afterOpen");
        state.setZoomAction(std::nullopt);
        state.setDisplayMode(mode);
        QTEST(state.zoomAction(), "afterSet");
    }
};

QTEST_GUILESS_MAIN(TestLoading)
#include "test_loading.moc"
