// LibRaw decoding against DNG files written here: which source (mosaic or embedded preview) each
// request is served from, turned by the orientation tag, and broken files. (Plain DNGs, threads
// and cut files are read by the format runner, test_formats.)

#include "dngwriter.h"
#include "imaging/codecs.h"
#include "support/testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;

namespace {

// The colours at the quadrants' centres agree within what a demosaic leaves.
bool sameQuadrants(const QImage& got, const QImage& expected) {
    for (const double fy : {0.25, 0.75})
        for (const double fx : {0.25, 0.75}) {
            if (test::colourDistance(got.pixelColor(int(fx * got.width()), int(fy * got.height())),
                                     expected.pixelColor(int(fx * expected.width()),
                                                         int(fy * expected.height()))) > 60)
                return false;
        }
    return true;
}

// The scene mirrored, so a test can tell the preview from a demosaic of the mosaic.
QImage previewOf(const QImage& scene, QSize size) {
    return scene.mirrored(true, false).scaled(size);
}

} // namespace

class RawCodecTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    FilePath dngFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        return test::writeFile(path, bytes) ? filePathFromText(path) : FilePath();
    }

private Q_SLOTS:
    void decodesTheRightSource_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("previewSize"); // empty: none
        QTest::addColumn<int>("maxPixelSize");
        QTest::addColumn<QSize>("expectedSize"); // before turning
        QTest::addColumn<bool>("expectPreview");
        QTest::addColumn<bool>("uncompressed");
        const QSize none, half(128, 64), full(256, 128), small(96, 48);
        QTest::newRow("mosaic turned clockwise") << 6 << none << 0 << half << false << false;
        QTest::newRow("large reduced size, full demosaic")
            << 1 << none << 200 << full << false << false;
        QTest::newRow("preview turned anticlockwise") << 8 << full << 0 << full << true << false;
        QTest::newRow("preview too small to show") << 1 << small << 0 << half << false << false;
        QTest::newRow("small preview for a thumbnail")
            << 6 << small << 90 << small << true << false;
        QTest::newRow("uncompressed preview turned clockwise")
            << 6 << half << 0 << half << true << true;
        QTest::newRow("thumbnail larger than the preview")
            << 1 << small << 120 << half << false << false;
    }

    void decodesTheRightSource() {
        QFETCH(int, orientation);
        QFETCH(QSize, previewSize);
        QFETCH(int, maxPixelSize);
        QFETCH(QSize, expectedSize);
        QFETCH(bool, expectPreview);
        test::DngContent dng;
        dng.picture = test::quadrantImage(256, 128);
        dng.orientation = orientation;
        if (previewSize.isValid())
            dng.preview = previewOf(dng.picture, previewSize);
        QFETCH(bool, uncompressed);
        dng.uncompressedPreview = uncompressed;
        const FilePath path = dngFile(QStringLiteral("camera.dng"), test::makeDng(dng));

        const auto info = probeRaw(path);
        QVERIFY(info);
        QCOMPARE(info->size, QSize(256, 128));
        QCOMPARE(info->orientation, orientation);
        const auto pixels = decodeRaw(path, maxPixelSize);
        QVERIFY(pixels);
        const QImage source =
            expectPreview ? previewOf(dng.picture, expectedSize) : dng.picture.scaled(expectedSize);
        const QImage expected = source.transformed(test::shownForOrientation(orientation));
        QCOMPARE(pixels->image.size(), expected.size());
        QVERIFY(sameQuadrants(pixels->image, expected));
    }

    // (Files cut short are read by the format runner.)
    void brokenFilesFailQuietly() {
        const QByteArray broken[] = {
            QByteArray(),
            QByteArray("not a raw file at all"),
            QByteArray("II*\0\xff\xff\xff\x7f", 8) + QByteArray(64, '\xff'),
        };
        for (const QByteArray& bytes : broken) {
            const FilePath path = dngFile(QStringLiteral("broken.nef"), bytes);
            QVERIFY2(!decodeRaw(path) && !probeRaw(path), bytes.left(8).toHex().constData());
        }
        QVERIFY(!decodeRaw(filePathFromText(dir_.filePath(QStringLiteral("absent.cr2")))));
    }
};

QTEST_GUILESS_MAIN(RawCodecTest)
#include "test_rawcodec.moc"
