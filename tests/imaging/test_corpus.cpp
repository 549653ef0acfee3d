// Real-world files: camera JPEGs, TIFFs, the PngSuite and deliberately broken files.
#include "imaging/decode.h"
#include "imaging/source.h"
#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QImageReader>
#include <QRegularExpression>
#include <QTest>

using namespace kivo;

namespace {

QStringList filesIn(const QString& relative, const QStringList& patterns, bool recursive = false) {
    QStringList files;
    QDirIterator it(test::corpusPath(relative), patterns, QDir::Files,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// Whatever a file holds, the decoder returns a value or nothing, and never crashes.
void decodeEverything(const QString& path) {
    const FilePath file = filePathFromText(path);
    decodeImage(file);
    if (auto source = ImageSource::open(file)) {
        source->storedImage();
        source->thumbnail(120);
    }
}

} // namespace

class TestCorpus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (!QDir(test::corpusPath(QString())).exists())
            QSKIP("corpus not available");
    }

    void cameraJpegsDecode() {
        const QStringList files = filesIn(QStringLiteral("exif-samples/jpg"), {"*.jpg", "*.JPG"});
        QVERIFY(files.size() > 10);
        for (const QString& path : files) {
            if (path.endsWith(QLatin1String("corrupted.jpg")))
                continue;
            const ImagePtr image = decodeImage(filePathFromText(path));
            QVERIFY2(image, qPrintable(path));
            // Qt's own reader, told to apply the orientation, agrees on the upright size.
            QImageReader reader(path);
            reader.setAutoTransform(true);
            const QSize stored = reader.size();
            const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
            QCOMPARE(image->size(), turned ? stored.transposed() : stored);
            const auto thumbnail = ImageSource::open(filePathFromText(path))->thumbnail(120);
            QVERIFY2(thumbnail, qPrintable(path));
            QCOMPARE(std::max(thumbnail->width(), thumbnail->height()),
                     std::min(120, std::max(image->width(), image->height())));
        }
    }

    void tiffsDecode() {
        const QStringList files = filesIn(QStringLiteral("exif-samples/tiff"), {"*.tif", "*.tiff"});
        QVERIFY(!files.isEmpty());
        for (const QString& path : files) {
            const ImagePtr image = decodeImage(filePathFromText(path));
            QVERIFY2(image, qPrintable(path));
        }
    }

    // PngSuite names say what they hold: "s05..." is 5x5 pixels, the three pixel-aspect files
    // are 8x32, 32x8 and 8x8, everything else 32x32, and every "x..." file is corrupt on purpose.
    void pngSuite() {
        const QStringList files = filesIn(QStringLiteral("pngsuite/png"), {"*.png"});
        QVERIFY(files.size() > 100);
        static const QRegularExpression sized(QStringLiteral("^s(\\d\\d)"));
        for (const QString& path : files) {
            const QString name = QFileInfo(path).fileName();
            const ImagePtr image = decodeImage(filePathFromText(path));
            if (name.startsWith(QLatin1Char('x'))) {
                QVERIFY2(!image, qPrintable(path + QStringLiteral(" should be refused")));
                continue;
            }
            QVERIFY2(image, qPrintable(path));
            const auto match = sized.match(name);
            const int side = match.hasMatch() ? match.captured(1).toInt() : 32;
            const QSize expected = name.startsWith(QLatin1String("cdfn"))   ? QSize(8, 32)
                                   : name.startsWith(QLatin1String("cdhn")) ? QSize(32, 8)
                                   : name.startsWith(QLatin1String("cdsn")) ? QSize(8, 8)
                                                                            : QSize(side, side);
            QCOMPARE(image->size(), expected);
        }
    }

    void brokenFilesNeverCrash() {
        QStringList files = filesIn(QStringLiteral("exif-samples/jpg/invalid"), {"*"}, true);
        files << filesIn(QStringLiteral("exif-samples/jpg/tests"), {"*"}, true);
        files << test::corpusPath(QStringLiteral("exif-samples/jpg/corrupted.jpg"));
        for (const QString& path : files)
            decodeEverything(path);
    }
};

QTEST_GUILESS_MAIN(TestCorpus)
#include "test_corpus.moc"
