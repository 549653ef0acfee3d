// SPDX-License-Identifier: GPL-3.0-or-later
// Opening, stepping and preloading on folders of real JPEGs written at test time, and following
// a folder that another program changes while the window shows it.
#include "imaging/decode.h"
#include "imaging/dngwriter.h"
#include "imaging/heifwriter.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/tasks/workerpools.h"
#include "model/appstate.h"
#include "model/folderlisting.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <atomic>

using namespace kivo;
using namespace kivo::test;

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

// The colour the window shows, to tell which picture it is.
QColor shownColour(const AppState& state) {
    return state.currentImage() ? state.currentImage()->bitmap().pixelColor(4, 4) : QColor();
}

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

// A 24-megapixel photo: its decodes are still running when a test acts right after asking.
bool writeLargePicture(const QString& path, const char* format) {
    QImage picture(6000, 4000, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(picture.scanLine(y)), picture.width(),
                    qRgb(y % 256, 128, 255 - y % 256));
    return writeImage(picture, path, format);
}

// Keeps every thread of `pool` busy until released, so what is queued meanwhile waits.
struct PoolHold {
    explicit PoolHold(QThreadPool& held)
        : pool(held) {
        pool.waitForDone();
        for (int i = 0; i < pool.maxThreadCount(); ++i)
            pool.start([this] { gate.acquire(); });
    }
    ~PoolHold() {
        gate.release(pool.maxThreadCount());
        pool.waitForDone();
    }
    QThreadPool& pool;
    QSemaphore gate;
};
} // namespace

class TestLoading : public QObject {
    Q_OBJECT

    test::PrivateSettings settings_;
    WorkerPools pools_;
    QTemporaryDir large_; // 24-megapixel pictures shared by the tests that need decodes to last

    // Lets every decode still running finish and hands its result to the model.
    void finishPreloads() { settle(pools_.preload); }

    AppStateContext context() {
        return {settings_.get(), &pools_, nullptr, nullptr, [](const FilePath& url) {
                    return QList<MetadataEntry>{{"Name", displayName(url)}};
                }};
    }

    void runInFolder(const PhotoFolder& folder, const QString& script) {
        QProcess shell;
        shell.setWorkingDirectory(folder.text(QString()));
        shell.start(QStringLiteral("sh"), {QStringLiteral("-ec"), script});
        // The model keeps running while the other process works (slowly on a loaded machine).
        QTRY_VERIFY_WITH_TIMEOUT(shell.state() == QProcess::NotRunning, 15000);
        QCOMPARE(shell.exitCode(), 0);
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
        finishPreloads();
        QCOMPARE(state.currentURL(), folder.path("a.jpg"));
        QCOMPARE(state.rotation(), 0.0);
        QVERIFY(state.currentImage());
        QTRY_VERIFY(!state.metadata().isEmpty() &&
                    state.metadata().front().value == QStringLiteral("a.jpg"));

        state.setRotation(180);
        state.navigate(-1);
        QCOMPARE(state.currentURL(), folder.path("c.jpg"));
        QCOMPARE(state.rotation(), 0.0);

        state.goToIndex(1);
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
        // The rows are read on a worker; those of a file stepped past never land.
        state.navigate(+1);
        state.navigate(-1);
        QTRY_VERIFY(!state.metadata().isEmpty() &&
                    state.metadata().front().value == QStringLiteral("b.jpg"));
        pools_.metadata.waitForDone();
        QTest::qWait(20);
        QCOMPARE(state.metadata().front().value, QStringLiteral("b.jpg"));
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
        finishPreloads();
        QVERIFY(showsWhite(state.currentImage()));

        state.navigate(+1);
        finishPreloads();
        state.navigate(+1);
        finishPreloads();
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
        finishPreloads();
        QVERIFY(!state.currentImage());
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
    }

    void initTestCase() {
        QVERIFY(large_.isValid() && QDir(large_.path()).mkpath(QStringLiteral("d")));
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            QVERIFY(writeLargePicture(large_.filePath(name), "jpeg"));
        QVERIFY(writeLargePicture(large_.filePath("d/a.png"), "png"));
        QVERIFY(QFile::copy(large_.filePath("a.jpg"), large_.filePath("d/b.jpg")));
    }

    // A window closed while its decodes run (its first level, the neighbours, the full
    // resolution) is not touched by their results.
    void closingWhileDecodingIsSafe_data() {
        QTest::addColumn<int>("stage");
        QTest::newRow("first level") << 0;
        QTest::newRow("neighbours") << 1;
        QTest::newRow("full resolution") << 2;
    }
    void closingWhileDecodingIsSafe() {
        QFETCH(int, stage);
        QWindow window;
        window.resize(400, 300);
        auto state = std::make_unique<AppState>(context());
        state->setWindow(&window);
        // Beside b.jpg in d/ is a PNG, whose preload takes long enough to be running at close.
        state->openFile(filePathFromText(large_.filePath(stage == 1 ? "d/b.jpg" : "b.jpg")));
        if (stage >= 1) // the neighbours start decoding once the first level shows
            QTRY_VERIFY_WITH_TIMEOUT(state->currentImage(), 20'000);
        if (stage >= 2) { // zoomed in: the full resolution is asked for
            state->setVisibleRect(QRectF(0.2, 0.2, 0.5, 0.5));
            state->setMagnification(1.0);
        }
        state.reset();
        finishPreloads();
    }

    // A closed window's pictures (its own, its neighbours') are let go on a worker: handing a
    // large picture's memory back takes the GUI thread milliseconds.
    void closedWindowLetsItsPicturesGoOnAWorker() {
        QWindow window;
        window.resize(400, 300);
        auto state = std::make_unique<AppState>(context());
        state->setWindow(&window);
        state->openFile(filePathFromText(large_.filePath("b.jpg")));
        finishPreloads();
        std::vector<std::weak_ptr<const Image>> held{state->currentImage()};
        for (const auto& [url, image] : state->preloadedImages())
            held.push_back(image);
        QCOMPARE(held.size(), 3u);
        {
            PoolHold hold(pools_.preload);
            state.reset();
            for (const auto& picture : held)
                QVERIFY(!picture.expired());
        }
        finishPreloads();
        for (const auto& picture : held)
            QVERIFY(picture.expired());
    }

    // Stepping onto a neighbour whose preload still runs waits for that decode instead of
    // starting another: the picture shows as the preload decodes it, at the window's size.
    void steppingOntoARunningPreloadAdoptsIt() {
        QWindow window;
        window.resize(400, 300);
        AppState state(context());
        state.setWindow(&window);
        state.openFile(filePathFromText(large_.filePath("d/b.jpg")));
        QTRY_VERIFY_WITH_TIMEOUT(state.currentImage(), 20'000); // a.png starts preloading
        state.navigate(+1);
        finishPreloads();
        QCOMPARE(*state.currentURL(), filePathFromText(large_.filePath("d/a.png")));
        QCOMPARE(state.currentImage()->size(), QSize(6000, 4000));
        QVERIFY(state.currentImage()->bitmap().width() <= 400);
        QVERIFY(!state.loadError());
    }

    // In a window a file shows as a level that fills it, and neighbours wait at that size: a
    // fitted picture needs nothing more. A larger window brings a larger level, looking closer
    // the full resolution, each as the same picture (a raw file's full demosaic in place of its
    // preview); a file refused in full keeps its level; a decode the user stepped away from
    // never shows.
    void picturesComeInLevels() {
        QTemporaryDir dir;
        for (const char* name : {"a.jpg", "b.jpg"})
            QVERIFY(writeImage(quadrantImage(1600, 1200), dir.filePath(name), "jpeg"));
        test::DngContent dng;
        dng.picture = quadrantImage(1024, 512);
        dng.preview = dng.picture.scaled(512, 256);
        QVERIFY(writeFile(dir.filePath("c.dng"), test::makeDng(dng)));
        const auto path = [&](const char* name) { return filePathFromText(dir.filePath(name)); };
        QWindow window;
        window.resize(400, 300);
        AppState state(context());
        state.setWindow(&window);
        state.setMagnification(0.3); // as the canvas reports a fitted picture
        std::vector<ImagePtr> shown;
        connect(&state, &AppState::currentImageChanged, this,
                [&] { shown.push_back(state.currentImage()); });

        state.openFile(path("a.jpg"));
        QVERIFY(state.isLoading());
        finishPreloads();
        QCOMPARE(shown.size(), 1u);
        QCOMPARE(shown[0]->bitmap().size(), QSize(400, 300));
        QCOMPARE(shown[0]->size(), QSize(1600, 1200));
        for (const auto& [url, image] : state.preloadedImages())
            QVERIFY(image->bitmap().width() <= 400 && image->bitmap().height() <= 300);
        window.resize(800, 600); // the window grows: a level for its new size
        state.setMagnification(0.5);
        finishPreloads();
        QCOMPARE(shown.size(), 2u);
        QCOMPARE(shown[1]->bitmap().size(), QSize(800, 600));
        QVERIFY(shown[1]->samePicture(*shown[0]));
        window.resize(400, 300);
        state.setMagnification(0.3);

        state.navigate(+1); // b, from its preload
        QCOMPARE(state.currentImage()->bitmap().size(), QSize(400, 300));
        state.navigate(+1); // c.dng: its preview, sized as the sensor
        finishPreloads();
        QCOMPARE(state.currentImage()->size(), QSize(1024, 512));
        QVERIFY(!state.currentImage()->isFullResolution());
        state.setVisibleRect(QRectF(0.2, 0.2, 0.5, 0.5)); // as the canvas reports it zoomed in
        state.setMagnification(1.0);
        finishPreloads();
        QVERIFY(state.currentImage()->isFullResolution());
        QCOMPARE(state.currentImage()->size(), QSize(1024, 512));

        setDecodeBudgetBytes(1 << 20); // the level fits, the full picture does not
        state.navigate(+1);            // a, at full resolution if it can
        finishPreloads();
        setDecodeBudgetBytes(0);
        QVERIFY(state.currentImage() && !state.currentImage()->isFullResolution());
        QVERIFY(!state.loadError());

        state.setVisibleRect(QRectF(0, 0, 1, 1)); // fitted again; the histogram counts all
        state.navigate(-1);
        state.setOverlayMode(OverlayMode::histogram);
        finishPreloads();
        QVERIFY(state.currentImage()->isFullResolution());
        state.setOverlayMode(OverlayMode::none);

        shown.clear();
        state.navigate(+1); // b's level; its full decode is queued at this zoom...
        const ImagePtr left = state.currentImage();
        state.navigate(+1); // ...and dropped
        finishPreloads();
        for (const ImagePtr& image : shown)
            QVERIFY(!(image->samePicture(*left) && image->isFullResolution()));

        // A PNG's rows are averaged down as they arrive: its level holds what the window shows,
        // and looking closer decodes it in full.
        QVERIFY(writeImage(quadrantImage(1600, 1200), dir.filePath("e.png"), "png"));
        state.setMagnification(0.3);
        state.openFile(path("e.png"));
        finishPreloads();
        QCOMPARE(state.currentImage()->bitmap().size(), QSize(400, 300));
        state.setVisibleRect(QRectF(0.2, 0.2, 0.5, 0.5));
        state.setMagnification(1.0);
        finishPreloads();
        QVERIFY(state.currentImage()->isFullResolution());
    }

    // A HEIF's thumbnail item of the picture's aspect shows at once, as a level of the picture,
    // and the window's level replaces it with the pixels a direct decode gives; the neighbours
    // preload their own levels only then. A thumbnail of another aspect (left stale by a crop)
    // never shows.
    void aHeifShowsItsThumbnailFirst_data() {
        QTest::addColumn<bool>("stale");
        QTest::newRow("thumbnail of the picture") << false;
        QTest::newRow("stale thumbnail") << true;
    }
    void aHeifShowsItsThumbnailFirst() {
        QFETCH(bool, stale);
        QTemporaryDir dir;
        test::HeifFixture heif;
        heif.hevcPreset = "ultrafast";
        const QImage picture = quadrantImage(1200, 800);
        if (stale)
            heif.staleThumbnail = picture.copy(0, 0, 800, 800).scaled(160, 160);
        else
            heif.thumbnailSize = 160;
        for (const char* name : {"a.heic", "b.heic"})
            QVERIFY(test::writeHeif(picture, dir.filePath(name), heif));
        const FilePath path = filePathFromText(dir.filePath("a.heic"));
        QWindow window;
        window.resize(600, 400);
        AppState state(context());
        state.setWindow(&window);
        std::vector<ImagePtr> shown;
        std::vector<std::size_t> preloadedWhenShown;
        connect(&state, &AppState::currentImageChanged, this, [&] {
            shown.push_back(state.currentImage());
            preloadedWhenShown.push_back(state.preloadedImages().size());
        });
        state.openFile(path);
        finishPreloads();
        state.setMagnification(0.5); // as the canvas reports the fitted picture
        finishPreloads();

        QCOMPARE(shown.size(), stale ? 1u : 2u);
        if (!stale) {
            QCOMPARE(shown[0]->bitmap().size(), QSize(160, 106)); // libheif rounds down
            QCOMPARE(shown[0]->size(), QSize(1200, 800));
            QVERIFY(shown[1]->samePicture(*shown[0]));
            QCOMPARE(preloadedWhenShown[0], 0u);
        }
        const auto direct = decodeImage(path);
        QVERIFY(direct);
        QVERIFY(shown.back()->isFullResolution());
        QVERIFY(shown.back()->bitmap() == (*direct)->bitmap());
        QVERIFY(!state.preloadedImages().empty());
        for (const auto& [url, image] : state.preloadedImages())
            QCOMPARE(image->bitmap().size(), QSize(600, 400));
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

    void followsAnotherProgram() {
        PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        folder.write("a.jpg", Qt::red);
        folder.write("b.jpg", Qt::green);
        folder.write("d.jpg", Qt::blue);
        PrivateSettings settings;
        WorkerPools pools;
        AppState state({settings.get(), &pools});
        state.openFile(folder.path("b.jpg"));
        const auto listing = [&] {
            return *listSupportedImages(folder.path("a.jpg").parent_path());
        };

        runInFolder(folder, "cp a.jpg 'e 10.jpg'; sleep 0.05; cp a.jpg 'e 9.jpg'; "
                            "mv d.jpg 'a 2.jpg'; rm c.jpg; touch .hidden.jpg notes.txt");
        QTRY_COMPARE_WITH_TIMEOUT(state.imageFiles(), listing(), 15000);
        QCOMPARE(state.imageFiles().size(), 5u);
        QCOMPARE(state.currentURL(), folder.path("b.jpg"));
        QCOMPARE(state.imageFiles()[size_t(state.currentIndex())], folder.path("b.jpg"));

        // Rewritten by renaming a finished file over it, then in place, slowly: each time the
        // window ends with the new picture.
        runInFolder(folder, "cp 'a 2.jpg' .b.tmp; mv .b.tmp b.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(near(shownColour(state), Qt::blue), 15000);
        runInFolder(folder, "head -c 300 a.jpg > b.jpg; sleep 0.1; tail -c +301 a.jpg >> b.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(near(shownColour(state), Qt::red), 15000);
        QCOMPARE(state.imageFiles(), listing());

        // Kivo's own rewrite is not read twice.
        QSignalSpy reloads(&state, &AppState::currentImageChanged);
        state.rotate(1);
        QTRY_COMPARE(reloads.count(), 1);
        QTest::qWait(600);
        QCOMPARE(reloads.count(), 1);

        // Removed from outside: the next file is shown, as after a delete.
        runInFolder(folder, "rm b.jpg");
        QTRY_COMPARE_WITH_TIMEOUT(state.currentURL(), folder.path("e 9.jpg"), 15000);
        QCOMPARE(state.imageFiles(), listing());
        QCOMPARE(state.imageFiles()[size_t(state.currentIndex())], folder.path("e 9.jpg"));
        pools.preload.waitForDone();
    }

    // Another program rewrites the preloaded next picture just before the user steps onto it:
    // the step shows the new content, and nothing later takes the old one for current.
    void changedNeighbourIsNotShownFromItsPreload() {
        PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        folder.write("c.jpg", Qt::blue);
        AppState state(context());
        state.openFile(folder.path("b.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), folder.paths({"a.jpg", "c.jpg"}));
        folder.write("c.jpg", Qt::white);
        state.navigate(+1);
        finishPreloads();
        QVERIFY(showsWhite(state.currentImage()));
        QTest::qWait(400); // past the watcher's settling time
        finishPreloads();
        QVERIFY(showsWhite(state.currentImage()));
    }

    // Kivo's own rotation of a large file, and a step onto a large file while the writes of a
    // rotation are still settling, read each picture once: neither is taken for another
    // program's rewrite, which would read the file (and its metadata) again.
    void ownWritesAreNotReadAgain() {
        PhotoFolder folder({"a.jpg"});
        QImage large(6000, 4000, QImage::Format_RGB32);
        large.fill(Qt::darkCyan);
        QVERIFY(writeImage(large, folder.text("b.png"), "png"));
        std::atomic<int> readsOfB = 0; // read on a worker
        AppStateContext counting = context();
        counting.readMetadata = [&](const FilePath& url) {
            readsOfB += url == folder.path("b.png");
            return QList<MetadataEntry>();
        };
        AppState state(counting);
        state.openFile(folder.path("a.jpg"));
        finishPreloads();
        state.rotate(1);
        QTest::qWait(50); // the rotation's own events are read while a.jpg is current
        state.navigate(+1);
        QTRY_VERIFY_WITH_TIMEOUT(state.currentImage() && state.currentImage()->width() == 6000,
                                 15000);
        state.rotate(1);
        QTRY_VERIFY_WITH_TIMEOUT(state.currentImage() && state.currentImage()->width() == 4000,
                                 15000);
        QTest::qWait(400);
        finishPreloads();
        QCOMPARE(readsOfB, 2); // the step and the rotation
    }

    // The folder is renamed, then deleted and made again: the window follows the rename, says
    // why it shows nothing once the folder is gone, and watches the new folder of that name.
    void followsItsFolderThroughRenameAndDeletion() {
        PhotoFolder root(QStringList{});
        QVERIFY(QDir(root.text(QString())).mkpath("album"));
        for (const char* name : {"album/a.jpg", "album/b.jpg"})
            QVERIFY(writeImage(QImage(8, 8, QImage::Format_RGB32), root.text(name), "jpeg"));
        AppState state(context());
        state.openFile(root.path("album/a.jpg"));
        finishPreloads();

        runInFolder(root, "mv album 'album 2'");
        QTRY_COMPARE_WITH_TIMEOUT(state.currentURL(), root.path("album 2/a.jpg"), 15000);
        QCOMPARE(state.imageFiles(), root.paths({"album 2/a.jpg", "album 2/b.jpg"}));
        runInFolder(root, "cp 'album 2/a.jpg' 'album 2/c.jpg'");
        QTRY_COMPARE_WITH_TIMEOUT(state.imageFiles().size(), 3u, 15000);

        runInFolder(root, "rm -r 'album 2'");
        QTRY_VERIFY_WITH_TIMEOUT(state.loadError().has_value(), 15000);
        QVERIFY(state.imageFiles().empty());
        QVERIFY(!state.currentImage());

        runInFolder(root, "mkdir 'album 2'");
        QVERIFY(writeImage(QImage(8, 8, QImage::Format_RGB32), root.text("album 2/x.jpg"), "jpeg"));
        state.openFile(root.path("album 2/x.jpg"));
        finishPreloads();
        runInFolder(root, "cp 'album 2/x.jpg' 'album 2/y.jpg'");
        QTRY_COMPARE_WITH_TIMEOUT(state.imageFiles().size(), 2u, 15000);
    }
};

QTEST_MAIN(TestLoading)
#include "test_loading.moc"
