// Every EXIF orientation comes out upright, from the display decode and the thumbnail alike,
// while the stored image keeps the pixels as they are in the file.
#include "imaging/decode.h"
#include "imaging/orientation.h"
#include "imaging/source.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

using namespace kivo;

namespace {

// The stored picture that a viewer honouring `orientation` shows as `upright`, made with Qt's
// own transforms so the fixture shares no code with the decoder (and kept in the same format,
// which Qt's general transforms widen).
QImage storedFor(const QImage& upright, int orientation) {
    static const QTransform kTurns[] = {{},
                                        {},
                                        {},
                                        {},
                                        {},
                                        QTransform(0, 1, 1, 0, 0, 0),
                                        QTransform().rotate(-90),
                                        QTransform(0, -1, -1, 0, 0, 0),
                                        QTransform().rotate(90)};
    const QImage stored = orientation >= 2 && orientation <= 4
                              ? upright.mirrored(orientation != 4, orientation != 2)
                              : upright.transformed(kTurns[orientation]);
    return stored.convertToFormat(upright.format());
}

bool near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 40 && std::abs(qGreen(a) - qGreen(b)) <= 40 &&
           std::abs(qBlue(a) - qBlue(b)) <= 40;
}

// Red, green, blue and white quadrants where test::quadrantImage puts them.
bool isUpright(const QImage& image) {
    const int w = image.width(), h = image.height();
    return near(image.pixel(w / 4, h / 4), qRgb(255, 0, 0)) &&
           near(image.pixel(3 * w / 4, h / 4), qRgb(0, 255, 0)) &&
           near(image.pixel(w / 4, 3 * h / 4), qRgb(0, 0, 255)) &&
           near(image.pixel(3 * w / 4, 3 * h / 4), qRgb(255, 255, 255));
}

double meanDifference(const QImage& a, const QImage& b) {
    const QImage sa = a.scaled(60, 60, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage sb = b.scaled(60, 60, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const QRgb p = sa.pixel(x, y), q = sb.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (60 * 60 * 3);
}

} // namespace

class TestOrientation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void taggedFilesDecodeUpright_data() {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("orientation");
        for (const char* format : {"jpeg", "tiff", "png", "webp"})
            for (int o = 1; o <= 8; ++o)
                QTest::addRow("%s-%d", format, o) << QByteArray(format) << o;
    }

    void taggedFilesDecodeUpright() {
        QFETCH(QByteArray, format);
        QFETCH(int, orientation);
        QTemporaryDir dir;
        const QString path = dir.filePath("tagged." + QString::fromLatin1(format));
        const QImage stored = storedFor(test::quadrantImage(96, 64), orientation);
        QVERIFY(test::writeImage(stored, path, format.constData(), 95));
        QVERIFY(
            test::setExifTags(path, {{"Exif.Image.Orientation", QString::number(orientation)}}));

        const ImagePtr image = decodeImage(filePathFromText(path));
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(96, 64));
        QVERIFY(isUpright(image->bitmap()));
        const auto source = ImageSource::open(filePathFromText(path));
        QVERIFY(source);
        const auto thumbnail = source->thumbnail(48);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(48, 32));
        QVERIFY(isUpright(*thumbnail));
        const auto storedImage = source->storedImage();
        QVERIFY(storedImage);
        QCOMPARE(storedImage->size(), stored.size());
        QVERIFY(near(storedImage->pixel(0, 0), stored.pixel(0, 0)));
    }

    // Every pixel lands where Qt's own transforms put it, for every pixel size the orienting
    // loops are instantiated for. 67x45 is not a multiple of the 4x4 blocks the 32-bit path
    // uses, so their edges are covered too.
    void applyOrientationMovesEveryPixel() {
        QImage source(67, 45, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                const int v = (x * 7 + y * 131) & 0xff;
                source.setPixel(x, y, qRgb(v, v, v));
            }
        for (QImage::Format format :
             {QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGB888,
              QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBA64,
              QImage::Format_RGBA32FPx4}) {
            const QImage typed = source.convertToFormat(format);
            for (int o = 1; o <= 8; ++o)
                QVERIFY2(applyOrientation(storedFor(typed, o), o) == typed,
                         qPrintable(QString::asprintf("format %d, orientation %d", format, o)));
        }
    }

    void exifOrientationSurvivesMalformedBlocks() {
        QCOMPARE(exifOrientation({}), 1);
        QCOMPARE(exifOrientation("II*\0"), 1);
        // IFD offset far beyond the block, an entry count larger than the block.
        QCOMPARE(exifOrientation(QByteArrayView("II*\0\xff\xff\xff\x7f", 8)), 1);
        QCOMPARE(exifOrientation(QByteArrayView("MM\0*\0\0\0\x08\xff\xff", 10)), 1);
        // One big-endian entry: orientation 6.
        const char entry[] = "MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0";
        QCOMPARE(exifOrientation(QByteArrayView(entry, sizeof entry - 1)), 6);
    }

    // Real camera files stored with every orientation: shown upright they all look alike.
    void corpusSeriesLooksAlike() {
        const QString folder = test::corpusPath("orientation");
        if (!QDir(folder).exists())
            QSKIP("corpus not available");
        for (const QString series : {"Landscape", "Portrait"}) {
            const auto decode = [&](int o) {
                return decodeImage(
                    filePathFromText(folder + QString("/%1_%2.jpg").arg(series).arg(o)));
            };
            const ImagePtr reference = decode(0);
            QVERIFY(reference);
            for (int o = 1; o <= 8; ++o) {
                const ImagePtr image = decode(o);
                QVERIFY(image && image->size() == reference->size());
                const double difference = meanDifference(image->bitmap(), reference->bitmap());
                QVERIFY2(
                    difference < 8,
                    qPrintable(QString("%1 %2 differs by %3").arg(series).arg(o).arg(difference)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestOrientation)
#include "test_orientation.moc"
