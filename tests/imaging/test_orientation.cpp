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

// The stored picture that a viewer honouring `orientation` shows as `upright`. Built with Qt's
// own transforms so the fixture does not share code with the decoder.
QImage transformedFor(const QImage& upright, int orientation) {
    switch (orientation) {
    case 2:
        return upright.mirrored(true, false);
    case 3:
        return upright.mirrored(true, true);
    case 4:
        return upright.mirrored(false, true);
    case 5: // transpose
        return upright.transformed(QTransform(0, 1, 1, 0, 0, 0));
    case 6: // shown turned clockwise, so stored turned counter-clockwise
        return upright.transformed(QTransform().rotate(-90));
    case 7: // transverse
        return upright.transformed(QTransform(0, -1, -1, 0, 0, 0));
    case 8:
        return upright.transformed(QTransform().rotate(90));
    default:
        return upright;
    }
}

QImage storedFor(const QImage& upright, int orientation) {
    // Qt's general transforms widen the format; the fixture must keep the original one.
    return transformedFor(upright, orientation).convertToFormat(upright.format());
}

bool near(QRgb a, QRgb b, int tolerance = 40) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Red, green, blue and white quadrants where test::quadrantImage puts them.
void verifyUpright(const QImage& image) {
    QVERIFY(!image.isNull());
    const int w = image.width(), h = image.height();
    QVERIFY2(near(image.pixel(w / 4, h / 4), qRgb(255, 0, 0)), "top-left is not red");
    QVERIFY2(near(image.pixel(3 * w / 4, h / 4), qRgb(0, 255, 0)), "top-right is not green");
    QVERIFY2(near(image.pixel(w / 4, 3 * h / 4), qRgb(0, 0, 255)), "bottom-left is not blue");
    QVERIFY2(near(image.pixel(3 * w / 4, 3 * h / 4), qRgb(255, 255, 255)),
             "bottom-right is not white");
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
        for (const char* format : {"jpeg", "tiff"})
            for (int o = 1; o <= 8; ++o)
                QTest::addRow("%s-%d", format, o) << QByteArray(format) << o;
    }

    void taggedFilesDecodeUpright() {
        QFETCH(QByteArray, format);
        QFETCH(int, orientation);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tagged.") + QString::fromLatin1(format));
        const QImage upright = test::quadrantImage(96, 64);
        const QImage stored = storedFor(upright, orientation);
        QVERIFY(test::writeImage(stored, path, format.constData(), 95));
        QVERIFY(test::setExifTags(
            path, {{QStringLiteral("Exif.Image.Orientation"), QString::number(orientation)}}));

        const ImagePtr image = decodeImage(filePathFromText(path));
        QVERIFY(image);
        QCOMPARE(image->size(), upright.size());
        verifyUpright(image->bitmap());

        const auto source = ImageSource::open(filePathFromText(path));
        QVERIFY(source);
        const auto thumbnail = source->thumbnail(48);
        QVERIFY(thumbnail);
        QCOMPARE(std::max(thumbnail->width(), thumbnail->height()), 48);
        QVERIFY(thumbnail->width() > thumbnail->height());
        verifyUpright(*thumbnail);

        const auto storedImage = source->storedImage();
        QVERIFY(storedImage);
        QCOMPARE(storedImage->size(), stored.size());
        QVERIFY(near(storedImage->pixel(0, 0), stored.pixel(0, 0)));
    }

    // Every pixel of a picture lands where Qt's own transforms put it, for every pixel size the
    // orienting loops are instantiated for. 67x45 is not a multiple of the 4x4 blocks the 32-bit
    // path uses, so their edges are covered too.
    void applyOrientationMovesEveryPixel_data() {
        QTest::addColumn<int>("format");
        for (QImage::Format f :
             {QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGB888,
              QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBA64,
              QImage::Format_RGBA32FPx4})
            QTest::addRow("format-%d", int(f)) << int(f);
    }

    void applyOrientationMovesEveryPixel() {
        QFETCH(int, format);
        QImage source(67, 45, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                const int v = (x * 7 + y * 131) & 0xff;
                source.setPixel(x, y, qRgb(v, v, v));
            }
        const QImage typed = source.convertToFormat(QImage::Format(format));
        for (int o = 1; o <= 8; ++o) {
            const QImage turned = applyOrientation(storedFor(typed, o), o);
            QCOMPARE(turned.format(), typed.format());
            QCOMPARE(turned.size(), typed.size());
            for (int y = 0; y < typed.height(); ++y)
                for (int x = 0; x < typed.width(); ++x)
                    if (turned.pixel(x, y) != typed.pixel(x, y))
                        QFAIL(qPrintable(QStringLiteral("orientation %1 misplaces (%2, %3)")
                                             .arg(o)
                                             .arg(x)
                                             .arg(y)));
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
    void corpusSeriesLooksAlike_data() {
        QTest::addColumn<QString>("series");
        QTest::newRow("landscape") << QStringLiteral("Landscape");
        QTest::newRow("portrait") << QStringLiteral("Portrait");
    }

    void corpusSeriesLooksAlike() {
        QFETCH(QString, series);
        const QString folder = test::corpusPath(QStringLiteral("orientation"));
        if (!QDir(folder).exists())
            QSKIP("corpus not available");
        const ImagePtr reference =
            decodeImage(filePathFromText(folder + QStringLiteral("/%1_0.jpg").arg(series)));
        QVERIFY(reference);
        for (int o = 1; o <= 8; ++o) {
            const QString path = folder + QStringLiteral("/%1_%2.jpg").arg(series).arg(o);
            const ImagePtr image = decodeImage(filePathFromText(path));
            QVERIFY2(image, qPrintable(path));
            QCOMPARE(image->size(), reference->size());
            const double difference = meanDifference(image->bitmap(), reference->bitmap());
            QVERIFY2(difference < 8,
                     qPrintable(QStringLiteral("%1 differs by %2").arg(path).arg(difference)));
        }
    }
};

QTEST_GUILESS_MAIN(TestOrientation)
#include "test_orientation.moc"
