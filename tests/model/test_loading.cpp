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

// One small JPEG per name, each a flat colour of its own so a test can tell which one it sees.
class PhotoFolder {
public:
    explicit PhotoFolder(const QStringList& names) {
        int hue = 0;
        for (const QString& name : names) {
            write(name, QColor::fromHsv(hue, 255, 255));
            hue = (hue + 67) % 360;
        }
    }
    void write(const QString& name, const QColor& colour) {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(colour);
        QVERIFY(test::writeImage(image, dir_.filePath(name), "jpeg"));
    }
    FilePath path(const QString& name) const { return filePathFromText(dir_.filePath(name)); }

private:
    QTemporaryDir dir_;
};

// Lets every preload still decoding finish and hands its result to the model.
void finishPreloads() {
    preloadThreadPool().waitForDone();
    QCoreApplication::sendPostedEvents();
}

QColor centreColour(const ImagePtr& image) {
    return image ? image->bitmap().pixelColor(image->width() / 2, image->height() / 2) : QColor();
}

bool sameColour(const QColor& a, const QColor& b) {
    // JPEG is lossy: a few levels of difference are still the same flat colour.
    return std::abs(a.red() - b.red()) < 12 && std::abs(a.green() - b.green()) < 12 &&
           std::abs(a.blue() - b.blue()) < 12;
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

private Q_SLOTS:
    void cleanup() { finishPreloads(); }

    void navigationWrapsAroundAndResetsRotation() {
        PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        test::PrivateSettings settings;
        AppState state({settings.get()});
        state.openFile(folder.path("c.jpg"));
        QCOMPARE(state.currentIndex(), 2);
        QVERIFY(state.currentImage());

        state.setRotation(90);
        state.navigate(+1);
        QCOMPARE(state.currentURL(), folder.path("a.jpg"));
        QCOMPARE(state.currentIndex(), 0);
        QCOMPARE(state.rotation(), 0.0);
        QVERIFY(state.currentImage());
        QVERIFY(!state.metadata().isEmpty());

        state.setRotation(180);
        state.navigate(-1);
        QCOMPARE(state.currentURL(), folder.path("c.jpg"));
        QCOMPARE(state.rotation(), 0.0);

        state.setRotation(270);
        state.goToIndex(1);
        QCOMPARE(state.currentURL(), folder.path("b.jpg"));
        QCOMPARE(state.rotation(), 0.0);
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
    }

    void singleFileHasNothingToStepToOrPreload() {
        PhotoFolder folder({"photo.jpg"});
        test::PrivateSettings settings;
        AppState state({settings.get()});
        state.openFile(folder.path("photo.jpg"));
        const ImagePtr shown = state.currentImage();
        state.navigate(+1);
        state.navigate(-1);
        finishPreloads();
        QCOMPARE(state.currentImage(), shown);
        QVERIFY(state.preloadedImages().empty());
        QCOMPARE(state.windowTitle(), QStringLiteral("photo.jpg"));
        QCOMPARE(AppState({settings.get()}).windowTitle(), QStringLiteral("Kivo"));
    }

    // The neighbour decoded in the background is the very image shown after the step: nothing
    // is decoded again on the GUI thread.
    void steppingTakesThePreloadedImage() {
        PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        test::PrivateSettings settings;
        AppState state({settings.get()});
        state.openFile(folder.path("b.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), (std::vector{folder.path("a.jpg"), folder.path("c.jpg")}));

        const ImagePtr preloaded = state.preloadedImages().at(folder.path("c.jpg"));
        state.navigate(+1);
        QCOMPARE(state.currentImage(), preloaded);
        // The current image leaves the cache, and a (no longer a neighbour) is dropped.
        QVERIFY(state.preloadedImages().empty());
        finishPreloads();
        QCOMPARE(cachedFiles(state), (std::vector{folder.path("b.jpg"), folder.path("d.jpg")}));
    }

    void twoFilesShareOneNeighbour() {
        PhotoFolder folder({"a.jpg", "b.jpg"});
        test::PrivateSettings settings;
        AppState state({settings.get()});
        state.openFile(folder.path("a.jpg"));
        QCOMPARE(state.windowTitle(), QStringLiteral("a.jpg [1/2]"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), std::vector{folder.path("b.jpg")});
        state.navigate(-1);
        QCOMPARE(state.currentURL(), folder.path("b.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), std::vector{folder.path("a.jpg")});
    }

    // A rotation save rewrites the current file while an older decode of it may still be on
    // its way back; that stale picture must never be shown later.
    void rewrittenFileIsNotShownFromAStaleDecode() {
        PhotoFolder folder({"a.jpg", "b.jpg"});
        test::PrivateSettings settings;
        AppState state({settings.get()});
        state.openFile(folder.path("a.jpg")); // starts decoding b in the background
        state.navigate(+1);                   // b is shown before that decode is stored
        folder.write("b.jpg", Qt::white);
        state.reloadCurrentImage();
        QVERIFY(sameColour(centreColour(state.currentImage()), Qt::white));

        finishPreloads();
        state.navigate(+1);
        finishPreloads();
        state.navigate(+1);
        QCOMPARE(state.currentURL(), folder.path("b.jpg"));
        QVERIFY(sameColour(centreColour(state.currentImage()), Qt::white));
    }

    void undecodableNeighbourIsDecodedWhenShownAndStaysEmpty() {
        PhotoFolder folder({"a.jpg", "c.jpg"});
        QFile broken(QFileInfo(displayPath(folder.path("a.jpg"))).dir().filePath("b.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a picture");
        broken.close();

        test::PrivateSettings settings;
        AppState state({settings.get()});
        state.openFile(folder.path("a.jpg"));
        finishPreloads();
        QCOMPARE(cachedFiles(state), std::vector{folder.path("c.jpg")});
        state.navigate(+1);
        QVERIFY(!state.currentImage());
        QCOMPARE(state.currentURL(), folder.path("b.jpg"));
        QCOMPARE(state.windowTitle(), QStringLiteral("b.jpg [2/3]"));
    }

    // Preloads hold the model weakly: a window closed while they run is not touched.
    void closingWhilePreloadingIsSafe() {
        PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        test::PrivateSettings settings;
        auto state = std::make_unique<AppState>(AppStateContext{settings.get()});
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
        QFETCH(std::optional<ZoomAction>, afterOpen);
        QFETCH(std::optional<ZoomAction>, afterSet);
        PhotoFolder folder({"a.jpg"});
        test::PrivateSettings settings;
        settings->setValue(QStringLiteral("displayMode"), caseName(mode));
        AppState state({settings.get()});
        QVERIFY(state.displayMode() == mode);
        state.openFile(folder.path("a.jpg"));
        QCOMPARE(state.zoomAction(), afterOpen);
        state.setZoomAction(std::nullopt);
        state.setDisplayMode(mode);
        QCOMPARE(state.zoomAction(), afterSet);
    }
};

QTEST_GUILESS_MAIN(TestLoading)
#include "test_loading.moc"
