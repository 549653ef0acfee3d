// The camera and phone codecs against files from phones and files written here: LibRaw on DNGs
// (which source, mosaic or embedded preview, each request is served from, turned by the
// orientation tag, and broken files) and libheif on files from its own encoders (x265, aom):
// colour profiles and depth. (Plain files, container transforms, thumbnail items, alpha, threads
// and files cut short are read by the format runner, test_formats.)

#include "dngwriter.h"
#include "heifwriter.h"
#include "imaging/codecs.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QTemporaryDir>
#include <QTest>
#include <libheif/heif.h>

using namespace kivo;
using kivo::test::HeifFixture;

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

class CameraCodecTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    FilePath dngFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        return test::writeFile(path, bytes) ? filePathFromText(path) : FilePath();
    }

    // Encodes `picture` into the test folder; an empty path when the encoder failed.
    FilePath heifFile(const QString& name, const QImage& picture, const HeifFixture& fixture = {}) {
        const QString path = dir_.filePath(name);
        return test::writeHeif(picture, path, fixture) ? filePathFromText(path) : FilePath();
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

    void phoneFilesKeepTheirProfiles() {
        KIVO_REQUIRE_CORPUS("exif-samples/heic");
        const auto corpus = [](const char* name) {
            return filePathFromText(test::corpusPath(QStringLiteral("exif-samples/heic/") + name));
        };
        const auto iphone = corpus("mobile/iphone_13_pro_max.HEIC");
        const auto info = probeHeif(iphone);
        QVERIFY(info);
        QCOMPARE(info->size, QSize(4032, 3024)); // stored on its side, turned by 'irot'
        QCOMPARE(info->orientation, 6);
        const auto pixels = decodeHeif(iphone);
        QVERIFY(pixels);
        QCOMPARE(pixels->image.size(), QSize(3024, 4032));
        const QColorSpace p3 = QColorSpace::fromIccProfile(pixels->iccProfile);
        QCOMPARE(p3.primaries(), QColorSpace::Primaries::DciP3D65); // Display P3

        const auto hdr = corpus("mobile/HMD_Nokia_8.3_5G_hdr.heif");
        const auto hdrPixels = decodeHeif(hdr);
        QVERIFY(hdrPixels && hdrPixels->image.colorSpace().isValid());
        QCOMPARE(hdrPixels->image.size(), probeHeif(hdr)->size);

        for (const char* name :
             {"IMG_5195.HEIC", "samplefilehub.heif", "mobile/HMD_Nokia_8.3_5G.heif"})
            QVERIFY2(probeHeif(corpus(name)) && decodeHeif(corpus(name), 256), name);
    }

    // A 10-bit file whose colour space is an nclx box (Display P3 primaries, no ICC profile)
    // keeps both: more levels along a ramp than 8 bits hold, and a space that shows an orange as
    // Display P3 does, visibly not as sRGB would.
    void tenBitNclxKeepsPrecisionAndSpace() {
        QImage ramp(1024, 16, QImage::Format_RGBX64);
        for (int x = 0; x < ramp.width(); ++x)
            for (int y = 0; y < ramp.height(); ++y)
                ramp.setPixelColor(x, y, QColor::fromRgba64(x * 64, x * 64, x * 64));
        HeifFixture fixture;
        fixture.bitDepth = 10;
        fixture.primaries = heif_color_primaries_SMPTE_EG_432_1;
        const FilePath path = heifFile("p3-10bit.heic", ramp, fixture);
        QCOMPARE(probeHeif(path)->depth, 10);
        const auto pixels = decodeHeif(path);
        QVERIFY(pixels && pixels->iccProfile.isEmpty());
        QCOMPARE(pixels->image.format(), QImage::Format_RGBX64);
        QSet<quint16> levels;
        for (int x = 0; x < ramp.width(); ++x)
            levels.insert(pixels->image.pixelColor(x, 8).rgba64().green());
        QVERIFY2(levels.size() > 400, qPrintable(QString::number(levels.size())));

        const QColorSpace space = pixels->image.colorSpace();
        QCOMPARE(space.transferFunction(), QColorSpace::TransferFunction::SRgb);
        QImage orange(1, 1, QImage::Format_RGB888);
        orange.fill(QColor(200, 100, 50));
        orange.setColorSpace(space);
        const QColor viaFile = orange.convertedToColorSpace(QColorSpace::SRgb).pixelColor(0, 0);
        orange.setColorSpace(QColorSpace::DisplayP3);
        const QColor viaP3 = orange.convertedToColorSpace(QColorSpace::SRgb).pixelColor(0, 0);
        QVERIFY(test::colourDistance(viaFile, viaP3) <= 1);
        QVERIFY(viaFile.red() > 210);
    }
};

QTEST_GUILESS_MAIN(CameraCodecTest)
#include "test_cameracodecs.moc"
