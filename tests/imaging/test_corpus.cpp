// SPDX-License-Identifier: GPL-3.0-or-later
// Real-world files (camera JPEGs and TIFFs, phones' HEIF, the PngSuite kept with the tests and
// deliberately broken files) decoded and read for their properties, with a few files written here
// for what no sample holds.
#include "imaging/decode.h"
#include "imaging/source.h"
#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

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

std::optional<QVariantMap> propertiesOf(const QString& path) {
    const auto source = ImageSource::open(filePathFromText(path));
    if (!source)
        return std::nullopt;
    auto properties = source->properties();
    return properties ? std::optional(*properties) : std::nullopt;
}

QVariantMap sub(const QVariantMap& map, const QString& key) {
    return map.value(key).toMap();
}

QString corpus(const char* relative) {
    return test::corpusPath(QString::fromLatin1(relative));
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

    // The properties dictionaries.
    // The orientation, coordinates to full precision, a zero denominator that gives no value and
    // the colour profile's name. (Each row's value, from the same dictionaries, down to a padded
    // make and an exposure of exactly 1/180: the metadata panel's test.)
    void exifFieldsWithTheirTypes() {
        KIVO_REQUIRE_CORPUS("exif-samples/jpg/Nikon_D70.jpg");
        QTemporaryDir dir;
        const QString photo = dir.filePath("tagged.jpg");
        QVERIFY(test::writeImage(test::quadrantImage(320, 200), photo, "jpeg"));
        QVERIFY(test::setExifTags(photo, {{"Exif.Image.Orientation", "8"},
                                          {"Exif.GPSInfo.GPSLatitude", "43/1 28/1 281/100"},
                                          {"Exif.GPSInfo.GPSLongitude", "11/1 53/1 0/0"},
                                          {"Xmp.dc.title", "a title to make exiv2 parse XMP"}}));
        const auto top = propertiesOf(photo);
        QVERIFY(top);
        QCOMPARE(top->value(prop::Orientation), QVariant(8));
        const QVariantMap gps = sub(*top, prop::GPS);
        QVERIFY(qAbs(gps.value(prop::Latitude).toDouble() - (43 + 28 / 60.0 + 2.81 / 3600)) <
                1e-12);
        QVERIFY(!gps.contains(prop::Longitude)); // a zero denominator has no value
        QVERIFY(!top->contains(prop::ProfileName));

        const auto profiled = propertiesOf(corpus("exif-samples/jpg/Nikon_D70.jpg"));
        QVERIFY(profiled);
        QCOMPARE(profiled->value(prop::ProfileName), QVariant("sRGB IEC61966-2.1"));
    }

    void layoutOfEachFormat() {
        QTemporaryDir dir;
        const QString grey = dir.filePath("grey.jpg"), cmyk = dir.filePath("cmyk.jpg");
        QVERIFY(test::writeImage(
            test::quadrantImage(40, 30).convertToFormat(QImage::Format_Grayscale8), grey, "jpeg"));
        // Pixel size, depth, colour model and alpha, as each file stores them.
        const auto check = [](const QString& path, QSize size, int depth, const char* model,
                              bool alpha) {
            const auto p = propertiesOf(path);
            return p && QVariantList{p->value(prop::PixelWidth), p->value(prop::PixelHeight),
                                     p->value(prop::Depth), p->value(prop::ColorModel),
                                     p->value(prop::HasAlpha, false)} ==
                            QVariantList{size.width(), size.height(), depth,
                                         QString::fromLatin1(model), alpha};
        };
        const auto png = [](const char* name) {
            return test::testDataPath(QStringLiteral("pngsuite/png/%1.png").arg(name));
        };
        QVERIFY(check(png("basn0g01"), {32, 32}, 1, "Gray", false));
        QVERIFY(check(png("basn6a16"), {32, 32}, 16, "RGB", true));
        QVERIFY(check(png("basn3p08"), {32, 32}, 8, "RGB", false));
        QVERIFY(check(png("basn4a08"), {32, 32}, 8, "Gray", true));
        QVERIFY(check(grey, {40, 30}, 8, "Gray", false));
        KIVO_REQUIRE_CORPUS("exif-samples/tiff/Arbitro.tiff");
        KIVO_REQUIRE_CORPUS("exif-samples/tiff/Picoawards.tiff");
        // Associated alpha.
        QVERIFY(check(corpus("exif-samples/tiff/Arbitro.tiff"), {174, 38}, 8, "RGB", true));
        QVERIFY(check(corpus("exif-samples/tiff/Picoawards.tiff"), {436, 547}, 8, "RGB", false));
        // Qt's JPEG writer makes only RGB and grey files; ImageMagick writes the CMYK one.
        const QString convert = QStandardPaths::findExecutable("convert");
        if (convert.isEmpty())
            QSKIP("ImageMagick is not installed (scripts/setup installs it)");
        QVERIFY(QProcess::execute(convert, {grey, "-colorspace", "CMYK", cmyk}) == 0);
        QCOMPARE(propertiesOf(cmyk).value_or(QVariantMap()).value(prop::ColorModel),
                 QVariant("CMYK"));
    }

    void heifFromPhones() {
        KIVO_REQUIRE_CORPUS("exif-samples/heic/IMG_5195.HEIC");
        const QString path = corpus("exif-samples/heic/IMG_5195.HEIC");
        const auto properties = propertiesOf(path);
        QVERIFY(properties);
        // The primary image is an edited crop: its own size, not the camera's EXIF dimensions.
        QCOMPARE(properties->value(prop::PixelWidth), QVariant(2566));
        QCOMPARE(properties->value(prop::PixelHeight), QVariant(3313));
        QCOMPARE(sub(*properties, prop::TIFF).value(prop::Make), QVariant("Apple"));
        QCOMPARE(sub(*properties, prop::Exif).value(prop::ISOSpeedRatings),
                 QVariant(QVariantList{32}));
        QCOMPARE(sub(*properties, prop::GPS).value(prop::LongitudeRef), QVariant("W"));
    }

    // exiv2's XMP toolkit keeps process-wide tables; reads from several threads must not race.
    void concurrentReadsOfXmpFiles() {
        KIVO_REQUIRE_CORPUS("exif-samples/jpg/xmp/BlueSquare.jpg");
        KIVO_REQUIRE_CORPUS("exif-samples/jpg/Canon_40D_photoshop_import.jpg");
        const QStringList files{corpus("exif-samples/jpg/xmp/BlueSquare.jpg"),
                                corpus("exif-samples/jpg/Canon_40D_photoshop_import.jpg")};
        const auto once = propertiesOf(files[0]), again = propertiesOf(files[1]);
        std::atomic<int> differing{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = t; i < t + 50; ++i)
                    differing += propertiesOf(files[i % 2]) != (i % 2 ? again : once);
            });
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(differing.load(), 0);
    }
};

QTEST_MAIN(TestCorpus)
#include "test_corpus.moc"
