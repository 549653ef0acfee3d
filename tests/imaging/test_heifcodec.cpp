// libheif decoding against files from phones and files encoded here with libheif's own
// encoders (x265, aom): colour profiles, depth, thumbnails. (Container transforms, alpha, threads
// and files cut short are read by the format runner, test_formats.)

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

bool near(QColor a, QColor b, int tolerance = 24) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance && qAbs(a.alpha() - b.alpha()) <= tolerance;
}

} // namespace

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

    void nclxBecomesAColourSpace() {
        HeifFixture fixture;
        fixture.primaries = heif_color_primaries_SMPTE_EG_432_1; // Display P3
        const auto pixels = decodeHeif(heifFile("p3.heic", test::quadrantImage(32, 32), fixture));
        QVERIFY(pixels);
        QVERIFY(pixels->iccProfile.isEmpty());
        const QColorSpace space = pixels->image.colorSpace();
        QVERIFY(space.isValid());
        QCOMPARE(space.transferFunction(), QColorSpace::TransferFunction::SRgb);
        // An orange shown through the file's space looks as it does through Display P3, which is
        // visibly not as it would through sRGB.
        const auto shownIn = [](const QColorSpace& from) {
            QImage orange(1, 1, QImage::Format_RGB888);
            orange.fill(QColor(200, 100, 50));
            orange.setColorSpace(from);
            return orange.convertedToColorSpace(QColorSpace::SRgb).pixelColor(0, 0);
        };
        const QColor viaFile = shownIn(space);
        QVERIFY(near(viaFile, shownIn(QColorSpace::DisplayP3), 1));
        QVERIFY(viaFile.red() > 210);
    }

    void tenBitKeepsItsPrecision() {
        QImage gradient(1024, 16, QImage::Format_RGBX64);
        for (int x = 0; x < gradient.width(); ++x)
            for (int y = 0; y < gradient.height(); ++y)
                gradient.setPixelColor(x, y, QColor::fromRgba64(x * 64, x * 64, x * 64));
        HeifFixture fixture;
        fixture.bitDepth = 10;
        const FilePath path = heifFile("gradient10.heic", gradient, fixture);
        QCOMPARE(probeHeif(path)->depth, 10);
        const auto pixels = decodeHeif(path);
        QVERIFY(pixels);
        QCOMPARE(pixels->image.format(), QImage::Format_RGBX64);
        // More distinct levels along the ramp than 8 bits could hold.
        QSet<quint16> levels;
        for (int x = 0; x < gradient.width(); ++x)
            levels.insert(pixels->image.pixelColor(x, 8).rgba64().green());
        QVERIFY2(levels.size() > 400, qPrintable(QString::number(levels.size())));
    }

    void reducedDecodeIgnoresTheEmbeddedThumbnail() {
        // The thumbnail item may be stale after an edit, so the primary image is decoded.
        HeifFixture fixture;
        fixture.thumbnailSize = 160;
        fixture.orientation = heif_orientation_rotate_90_cw;
        const auto small =
            decodeHeif(heifFile("thumbnailed.heic", test::quadrantImage(640, 480), fixture), 120);
        QVERIFY(small);
        QCOMPARE(small->image.size(), QSize(480, 640)); // upright, like the main image
    }
};

QTEST_GUILESS_MAIN(HeifCodecTest)
#include "test_heifcodec.moc"
