// Rotating the current image: the file rewritten in place and shown turned after the reload, and
// the on-screen fall-back when it cannot be rewritten. The arithmetic of the tags and the safety
// of the replacement are the image service's own tests.
#include "imaging/dngwriter.h"
#include "imaging/workerpools.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace kivo;

namespace {

// The EXIF orientation as Qt's reader applies it (1 when there is none).
long exifOrientation(const QString& path) {
    static constexpr long byTransformation[8] = {1, 2, 4, 3, 6, 7, 5, 8};
    return byTransformation[QImageReader(path).transformation()];
}

// The colour at the centre of the picture's top-left quadrant, within what lossy coding and a
// demosaic leave.
bool topLeftIs(const ImagePtr& image, QColor expected) {
    return test::colourDistance(image->bitmap().pixelColor(image->width() / 4, image->height() / 4),
                                expected) < 60;
}

// Takes away the right to write into `folder` for as long as it lives. Root ignores permission
// bits, so as root the process's effective identity becomes nobody's meanwhile.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder)
        : folder_(QFile::encodeName(folder)) {
        ::chmod(folder_.constData(), 0555);
        if (::geteuid() == 0)
            dropped_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~ReadOnlyFolder() {
        if (dropped_) {
            [[maybe_unused]] const int ignored = ::seteuid(0) + ::setegid(0);
        }
        ::chmod(folder_.constData(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    QByteArray folder_;
    bool dropped_ = false;
};

} // namespace

class TestRotation : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::PrivateSettings settings_;
    WorkerPools pools_;

    QString fixture(const QString& name, const char* format) {
        const QString path = dir_->filePath(name);
        test::writeImage(test::quadrantImage(300, 200), path, format);
        ::chmod(QFile::encodeName(path), 0644);
        return path;
    }

    std::unique_ptr<AppState> openState(const QString& path) {
        auto state = std::make_unique<AppState>(AppStateContext{settings_.get(), &pools_});
        state->openFile(filePathFromText(path));
        return state;
    }

    bool noHiddenFiles() const {
        return QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).filter("^\\.").isEmpty();
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        // Searchable by the unprivileged identity ReadOnlyFolder takes on.
        ::chmod(QFile::encodeName(dir_->path()), 0755);
    }
    void cleanup() { pools_.preload.waitForDone(); }

    void jpegTagIsRewrittenAndTheReloadShowsIt() {
        const QString path = fixture("photo.jpg", "jpeg");
        QVERIFY(test::setExifTags(path, {{"Exif.Image.Orientation", "2"}}));
        const auto state = openState(path);
        state->rotate(+1);
        QCOMPARE(state->rotation(), 0.0);
        QCOMPARE(exifOrientation(path), 5L);
        QCOMPARE(state->currentImage()->size(), QSize(200, 300));
        state->rotate(-1);
        QCOMPARE(exifOrientation(path), 2L);
        QCOMPARE(state->currentImage()->size(), QSize(300, 200));
        QVERIFY(noHiddenFiles()); // (what the replacement keeps: the atomic replace test)
    }

    // What the reload shows is what LibRaw makes of the rewritten file (its flip), for the
    // demosaic and for an embedded preview stored without a tag of its own.
    void cameraRawIsShownTurnedAfterTheReload_data() {
        QTest::addColumn<bool>("withPreview");
        QTest::newRow("mosaic") << false;
        QTest::newRow("embedded preview") << true;
    }
    void cameraRawIsShownTurnedAfterTheReload() {
        QFETCH(bool, withPreview);
        test::DngContent dng;
        dng.picture = test::quadrantImage(256, 128);
        if (withPreview)
            dng.preview = dng.picture;
        const QString path = dir_->filePath("camera.dng");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(test::makeDng(dng)) > 0);
        file.close();

        const auto state = openState(path);
        QVERIFY(state->currentImage());
        const QSize before = state->currentImage()->size();
        QVERIFY(topLeftIs(state->currentImage(), Qt::red));
        state->rotate(+1);
        QCOMPARE(state->rotation(), 0.0); // written, not only turned on screen
        QCOMPARE(state->currentImage()->size(), before.transposed());
        QVERIFY(topLeftIs(state->currentImage(), Qt::blue)); // the former bottom-left
    }

    void readOnlyFolderTurnsOnScreenThenTheFileTakesTheWholeTurn() {
        const QString path = fixture("drawing.png", "png");
        const QByteArray before = test::readFile(path);
        const auto state = openState(path);
        {
            const ReadOnlyFolder readOnly(dir_->path());
            state->rotate(+1);
            QCOMPARE(state->rotation(), 90.0);
            state->rotate(-1);
            state->rotate(-1);
            QCOMPARE(state->rotation(), 270.0);
            state->rotate(+1);
            state->rotate(+1);
            QCOMPARE(state->rotation(), 90.0);
        }
        QCOMPARE(test::readFile(path), before);
        QVERIFY(noHiddenFiles());
        // Writable again: the file takes the quarter turn on screen plus this one, so the
        // picture stays where it was turned to, upside down, and nothing is left on screen.
        state->rotate(+1);
        QCOMPARE(state->rotation(), 0.0);
        QCOMPARE(state->currentImage()->size(), QSize(300, 200));
        QVERIFY(topLeftIs(state->currentImage(), Qt::white));
    }
};

QTEST_MAIN(TestRotation)
#include "test_rotation.moc"
