// Opening, stepping and preloading on folders of real JPEGs written at test time.
#include "imaging/workerpools.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QTest>

using namespace kivo;

namespace {

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
    WorkerPools pools_;

    // Lets every preload still decoding finish and hands its result to the model.
    void finishPreloads() {
        pools_.preload.waitForDone();
        QCoreApplication::sendPostedEvents();
    }

    AppStateContext context() {
        return {settings_.get(), &pools_, nullptr, nullptr, [](const FilePath& url) {
                    return QList<MetadataEntry>{{"Name", displayName(url)}};
                }};
    }

private Q_SLOTS:
    void cleanup() { finishPreloads(); }

    void navigationWrapsAroundAndResetsRotation() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        AppState state(context());
        state.openFile(folder.path("c.jpg"));
        QCOMPARE(state.currentIndex(), 2);

        state.setRotation(90);
        state.navigate(+1);
        QCOMPARE(state.currentURL(), folder.path("a.jpg"));
        QCOMPARE(state.rotation(), 0.0);
        QVERIFY(state.currentImage());
        QCOMPARE(state.metadata().front().value, QStringLiteral("a.jpg"));

        state.setRotation(180);
        state.navigate(-1);
        QCOMPARE(state.currentURL(), folder.path("c.jpg"));
        QCOMPARE(state.rotation(), 0.0);

        state.goToIndex(1);
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
    }

    void twoFilesAreEachOthersBothNeighbours() {
        test::PhotoFolder pair({"a.jpg", "b.jpg"});
        AppState state(context());
        state.openFile(pair.path("a.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), pair.paths({"b.jpg"}));
        state.navigate(-1);
        finishPreloads();
        QCOMPARE(cachedFiles(state), pair.paths({"a.jpg"}));
    }

    // The neighbour decoded in the background is the very image shown after the step: nothing
    // is decoded again on the GUI thread.
    void steppingTakesThePreloadedImage() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        AppState state(context());
        state.openFile(folder.path("b.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"a.jpg", "c.jpg"}));

        const ImagePtr preloaded = state.preloadedImages().at(folder.path("c.jpg"));
        state.navigate(+1);
        QCOMPARE(state.currentImage(), preloaded);
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"b.jpg", "d.jpg"}));
    }

    // Stepping on before the neighbours' decodes come back: a result whose file is no longer
    // the previous or next image is not kept, so fast stepping never piles up pictures.
    void lateResultOfAFormerNeighbourIsDropped() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
        AppState state(context());
        state.openFile(folder.path("a.jpg")); // starts decoding b and e
        state.goToIndex(2);                   // c: its neighbours are b and d
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"b.jpg", "d.jpg"}));
    }

    // A rotation save rewrites the current file while an older decode of it may still be on
    // its way back; that stale picture must never be shown later.
    void rewrittenFileIsNotShownFromAStaleDecode() {
        test::PhotoFolder folder({"a.jpg", "b.jpg"});
        AppState state(context());
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

    void undecodableNeighbourStaysEmpty() {
        test::PhotoFolder folder({"a.jpg", "c.jpg"});
        QFile broken(QFileInfo(folder.text("a.jpg")).dir().filePath("b.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a picture") > 0);
        broken.close();

        AppState state(context());
        state.openFile(folder.path("a.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"c.jpg"}));
        state.navigate(+1);
        QVERIFY(!state.currentImage());
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
    }

    // A window closed while its preloads run is not touched by their results.
    void closingWhilePreloadingIsSafe() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        auto state = std::make_unique<AppState>(context());
        state->openFile(folder.path("b.jpg"));
        state.reset();
        finishPreloads();
    }

    void displayModeBecomesAZoomRequest() {
        // In auto-size mode the window sizes itself to the image; choosing the mode still
        // refits once.
        using Zoom = std::optional<ZoomAction>;
        for (const auto& [mode, afterOpen, afterSet] :
             {std::tuple{DisplayMode::fitToWindow, Zoom(ZoomAction::fit), Zoom(ZoomAction::fit)},
              {DisplayMode::actualSize, Zoom(ZoomAction::actualSize), Zoom(ZoomAction::actualSize)},
              {DisplayMode::autoSizeWindow, Zoom(), Zoom(ZoomAction::fit)}}) {
            test::PhotoFolder folder({"a.jpg"});
            settings_->setValue(QStringLiteral("displayMode"), caseName(mode));
            AppState state(context());
            state.openFile(folder.path("a.jpg"));
            QCOMPARE(state.zoomAction(), afterOpen);
            state.setZoomAction(std::nullopt);
            state.setDisplayMode(mode);
            QCOMPARE(state.zoomAction(), afterSet);
        }
    }
};

QTEST_GUILESS_MAIN(TestLoading)
#include "test_loading.moc"
