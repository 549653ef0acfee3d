// Real-world files: camera JPEGs and TIFFs, the PngSuite (kept with the tests) and deliberately
// broken files.
#include "imaging/decode.h"
#include "imaging/source.h"
#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;

namespace {

QStringList filesIn(const QString& folder, const QStringList& patterns,
                    QDirIterator::IteratorFlags flags = QDirIterator::NoIteratorFlags) {
    QStringList files;
    QDirIterator it(folder, patterns, QDir::Files, flags);
    while (it.hasNext())
        files << it.next();
    return files;
}

} // namespace

class TestCorpus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Qt's own reader, told to apply the orientation, agrees on the upright size.
    void cameraFilesMatchQtsReader() {
        KIVO_REQUIRE_CORPUS("exif-samples/jpg");
        KIVO_REQUIRE_CORPUS("exif-samples/tiff");
        const QStringList files =
            filesIn(test::corpusPath("exif-samples/jpg"), {"*.jpg", "*.JPG"}) +
            filesIn(test::corpusPath("exif-samples/tiff"), {"*.tif", "*.tiff"});
        QVERIFY(files.size() > 10);
        for (const QString& path : files) {
            if (path.endsWith("corrupted.jpg"))
                continue;
            const auto imageDecoded = decodeImage(filePathFromText(path));
            const ImagePtr image = imageDecoded ? *imageDecoded : nullptr;
            QVERIFY2(image, qPrintable(path));
            QImageReader reader(path);
            reader.setAutoTransform(true);
            const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
            QCOMPARE(image->size(), turned ? reader.size().transposed() : reader.size());
            const auto thumbnail = ImageSource::open(filePathFromText(path))->thumbnail(120);
            QVERIFY2(thumbnail, qPrintable(path));
            QCOMPARE(std::max(thumbnail->width(), thumbnail->height()),
                     std::min(120, std::max(image->width(), image->height())));
        }
    }

    // PngSuite names say what they hold: "s05..." is 5x5 pixels, the three pixel-aspect files
    // are 8x32, 32x8 and 8x8, everything else 32x32, and every "x..." file is corrupt on purpose.
    void pngSuite() {
        const QStringList files = filesIn(test::testDataPath("pngsuite/png"), {"*.png"});
        QVERIFY(files.size() > 100);
        static const QRegularExpression sized("^s(\\d\\d)");
        for (const QString& path : files) {
            const QString name = QFileInfo(path).fileName();
            const auto imageDecoded = decodeImage(filePathFromText(path));
            const ImagePtr image = imageDecoded ? *imageDecoded : nullptr;
            QVERIFY2(!image == name.startsWith('x'), qPrintable(path));
            if (!image)
                continue;
            const auto match = sized.match(name);
            const int side = match.hasMatch() ? match.captured(1).toInt() : 32;
            const QSize expected = name.startsWith("cdfn")   ? QSize(8, 32)
                                   : name.startsWith("cdhn") ? QSize(32, 8)
                                   : name.startsWith("cdsn") ? QSize(8, 8)
                                                             : QSize(side, side);
            QCOMPARE(image->size(), expected);
        }
    }

    // Whatever a file holds (truncated blocks, wrong types, huge counts), every way in returns a
    // value or nothing, and never crashes.
    void brokenFilesNeverCrash() {
        KIVO_REQUIRE_CORPUS("exif-samples/jpg/invalid");
        KIVO_REQUIRE_CORPUS("exif-samples/jpg/tests");
        KIVO_REQUIRE_CORPUS("exif-samples/jpg/corrupted.jpg");
        KIVO_REQUIRE_CORPUS("exif-samples/jpg/Canon_40D.jpg");
        QTemporaryDir dir;
        const QString cut = dir.filePath("cut.jpg"); // a camera file ending inside its Exif block
        QVERIFY(QFile::copy(test::corpusPath("exif-samples/jpg/Canon_40D.jpg"), cut));
        QVERIFY(QFile(cut).resize(600));
        const QStringList files =
            filesIn(test::corpusPath("exif-samples/jpg/invalid"), {"*"},
                    QDirIterator::Subdirectories) +
            filesIn(test::corpusPath("exif-samples/jpg/tests"), {"*"},
                    QDirIterator::Subdirectories) +
            filesIn(test::testDataPath("pngsuite/png"), {"x*.png"}) +
            QStringList{test::corpusPath("exif-samples/jpg/corrupted.jpg"), cut};
        for (const QString& path : files) {
            decodeImage(filePathFromText(path));
            if (auto source = ImageSource::open(filePathFromText(path))) {
                source->storedImage();
                source->thumbnail(120);
                source->properties();
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCorpus)
#include "test_corpus.moc"
