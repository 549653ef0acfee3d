// The orientation transforms move every pixel where Qt's own transforms put it, the Exif parser
// survives malformed blocks, and a real camera series looks alike however it is tagged. (Each
// format's tagged files are read upright by the format runner, test_formats.)
#include "imaging/decode.h"
#include "imaging/orientation.h"
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
        KIVO_REQUIRE_CORPUS("orientation");
        const QString folder = test::corpusPath("orientation");
        for (const QString series : {"Landscape", "Portrait"}) {
            const auto decode = [&](int o) -> ImagePtr {
                const auto image = decodeImage(
                    filePathFromText(folder + QString("/%1_%2.jpg").arg(series).arg(o)));
                return image ? *image : nullptr;
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
