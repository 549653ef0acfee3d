// The orientation transforms move every pixel where Qt's own transforms put it, and the Exif
// parser survives malformed blocks. (Each format's tagged files are read upright by the format
// runner, test_formats.)
#include "imaging/orientation.h"
#include "support/testsupport.h"

#include <QTest>
#include <QTransform>

using namespace kivo;

namespace {

// The stored picture that a viewer honouring `orientation` shows as `upright`, made with Qt's
// own transforms so the fixture shares no code with the decoder (and kept in the same format,
// which Qt's transforms may widen).
QImage storedFor(const QImage& upright, int orientation) {
    return upright.transformed(test::shownForOrientation(orientation).inverted())
        .convertToFormat(upright.format());
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
};

QTEST_GUILESS_MAIN(TestOrientation)
#include "test_orientation.moc"
