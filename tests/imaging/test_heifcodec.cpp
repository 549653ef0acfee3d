// libheif decoding against files from phones and files encoded here with libheif's own
// encoders (x265, aom): colour profiles and depth. (Container transforms, thumbnail items, alpha,
// threads and files cut short are read by the format runner, test_formats.)

#include "heifwriter.h"
#include "imaging/codecs.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QTemporaryDir>
#include <QTest>
#include <libheif/heif.h>

using namespace kivo;
using kivo::test::HeifFixture;

class HeifCodecTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Encodes `picture` into the test folder; an empty path when the encoder failed.
    FilePath heifFile(const QString& name, const QImage& picture, const HeifFixture& fixture = {}) {
        const QString path = dir_.filePath(name);
        return test::writeHeif(picture, path, fixture) ? filePathFromText(path) : FilePath();
    }

private Q_SLOTS:
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

QTEST_GUILESS_MAIN(HeifCodecTest)
#include "test_heifcodec.moc"
