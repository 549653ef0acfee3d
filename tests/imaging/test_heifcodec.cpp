// libheif decoding against files from phones and files encoded here with libheif's own
// encoders (x265, aom): container transforms, colour profiles, depth, alpha, thumbnails.

#include "heifwriter.h"
#include "imaging/codecs.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <libheif/heif.h>
#include <optional>
#include <thread>

using namespace kivo;
using kivo::test::HeifFixture;
using kivo::test::writeHeif;

namespace {

// What a viewer must show for a picture stored with EXIF orientation `o`.
QImage applyOrientation(const QImage& stored, int o) {
    QTransform clockwise;
    clockwise.rotate(90);
    switch (o) {
    case 2:
        return stored.mirrored(true, false);
    case 3:
        return stored.mirrored(true, true);
    case 4:
        return stored.mirrored(false, true);
    case 5:
        return stored.transformed(clockwise).mirrored(true, false);
    case 6:
        return stored.transformed(clockwise);
    case 7:
        return stored.transformed(clockwise).mirrored(false, true);
    case 8:
        return stored.transformed(clockwise.rotate(180));
    default:
        return stored;
    }
}

bool near(QColor a, QColor b, int tolerance = 24) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance && qAbs(a.alpha() - b.alpha()) <= tolerance;
}

// Compares the centres of the four quadrants, where lossy coding keeps colours clean.
bool sameQuadrants(const QImage& got, const QImage& expected) {
    if (got.size() != expected.size())
        return false;
    for (const double fx : {0.25, 0.75})
        for (const double fy : {0.25, 0.75}) {
            const QPoint p(int(fx * got.width()), int(fy * got.height()));
            if (!near(got.pixelColor(p), expected.pixelColor(p)))
                return false;
        }
    return true;
}

} // namespace

class HeifCodecTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void containerTransformsGiveUprightPixels_data();
    void containerTransformsGiveUprightPixels();
    void phoneFilesKeepTheirProfiles();
    void nclxBecomesAColourSpace();
    void tenBitKeepsItsPrecision();
    void avifWithAlpha();
    void reducedDecodeUsesALargeEnoughThumbnail();
    void unreadableFilesFailQuietly();
    void decodesDifferentFilesInParallel();
};

void HeifCodecTest::containerTransformsGiveUprightPixels_data() {
    QTest::addColumn<int>("orientation");
    for (int o = 1; o <= 8; ++o)
        QTest::addRow("orientation %d", o) << o;
}

void HeifCodecTest::containerTransformsGiveUprightPixels() {
    QFETCH(int, orientation);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("turned.heic"));
    const QImage stored = test::quadrantImage(64, 32).convertToFormat(QImage::Format_RGB888);
    HeifFixture fixture;
    fixture.orientation = heif_orientation(orientation);
    QVERIFY(writeHeif(stored, path, fixture));

    const auto info = probeHeif(filePathFromText(path));
    QVERIFY(info);
    QCOMPARE(info->orientation, orientation);
    if (orientation < 5) // libheif's writer records a turned image's size already turned
        QCOMPARE(info->size, QSize(64, 32));
    const auto pixels = decodeHeif(filePathFromText(path));
    QVERIFY(pixels);
    QVERIFY(sameQuadrants(pixels->image, applyOrientation(stored, orientation)));
}

void HeifCodecTest::phoneFilesKeepTheirProfiles() {
    const auto iphone = filePathFromText(
        test::corpusPath(QStringLiteral("exif-samples/heic/mobile/iphone_13_pro_max.HEIC")));
    const auto info = probeHeif(iphone);
    QVERIFY(info);
    QCOMPARE(info->size, QSize(4032, 3024)); // stored on its side, turned by 'irot'
    QCOMPARE(info->orientation, 6);
    const auto pixels = decodeHeif(iphone);
    QVERIFY(pixels);
    QCOMPARE(pixels->image.size(), QSize(3024, 4032));
    const QColorSpace p3 = QColorSpace::fromIccProfile(pixels->iccProfile);
    QVERIFY(p3.isValid());
    QCOMPARE(p3.primaries(), QColorSpace::Primaries::DciP3D65); // Display P3

    const auto hdr = filePathFromText(
        test::corpusPath(QStringLiteral("exif-samples/heic/mobile/HMD_Nokia_8.3_5G_hdr.heif")));
    const auto hdrPixels = decodeHeif(hdr);
    QVERIFY(hdrPixels);
    QVERIFY(hdrPixels->image.colorSpace().isValid());
    QCOMPARE(hdrPixels->image.size(), probeHeif(hdr)->size);

    for (const char* name :
         {"exif-samples/heic/IMG_5195.HEIC", "exif-samples/heic/samplefilehub.heif",
          "exif-samples/heic/mobile/HMD_Nokia_8.3_5G.heif"}) {
        const auto path = filePathFromText(test::corpusPath(QString::fromLatin1(name)));
        const auto p = probeHeif(path);
        QVERIFY2(p && decodeHeif(path, 256), name);
    }
}

void HeifCodecTest::nclxBecomesAColourSpace() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p3.heic"));
    HeifFixture fixture;
    fixture.primaries = heif_color_primaries_SMPTE_EG_432_1; // Display P3
    QVERIFY(writeHeif(test::quadrantImage(32, 32), path, fixture));
    const auto pixels = decodeHeif(filePathFromText(path));
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

void HeifCodecTest::tenBitKeepsItsPrecision() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gradient10.heic"));
    QImage gradient(1024, 16, QImage::Format_RGBX64);
    for (int x = 0; x < gradient.width(); ++x)
        for (int y = 0; y < gradient.height(); ++y)
            gradient.setPixelColor(
                x, y, QColor::fromRgba64(quint16(x * 64), quint16(x * 64), quint16(x * 64)));
    HeifFixture fixture;
    fixture.bitDepth = 10;
    QVERIFY(writeHeif(gradient, path, fixture));
    QCOMPARE(probeHeif(filePathFromText(path))->depth, 10);
    const auto pixels = decodeHeif(filePathFromText(path));
    QVERIFY(pixels);
    QCOMPARE(pixels->image.format(), QImage::Format_RGBX64);
    // More distinct levels along the ramp than 8 bits could hold.
    QSet<quint16> levels;
    for (int x = 0; x < gradient.width(); ++x)
        levels.insert(pixels->image.pixelColor(x, 8).rgba64().green());
    QVERIFY2(levels.size() > 400, qPrintable(QString::number(levels.size())));
}

void HeifCodecTest::avifWithAlpha() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clear.avif"));
    QImage picture = test::quadrantImage(48, 48).convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 48; ++x)
            picture.setPixelColor(x, y, QColor(0, 0, 0, 0));
    HeifFixture fixture;
    fixture.format = heif_compression_AV1;
    QVERIFY(writeHeif(picture, path, fixture));
    const auto info = probeHeif(filePathFromText(path));
    QVERIFY(info && info->hasAlpha);
    const auto pixels = decodeHeif(filePathFromText(path));
    QVERIFY(pixels && pixels->image.hasAlphaChannel());
    QVERIFY(pixels->image.pixelColor(10, 10).alpha() < 16);
    QVERIFY(near(pixels->image.pixelColor(36, 36), Qt::white));
}

void HeifCodecTest::reducedDecodeUsesALargeEnoughThumbnail() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("with-thumbnail.heic"));
    HeifFixture fixture;
    fixture.thumbnailSize = 160;
    fixture.orientation = heif_orientation_rotate_90_cw;
    QVERIFY(writeHeif(test::quadrantImage(640, 480), path, fixture));
    const auto small = decodeHeif(filePathFromText(path), 120);
    QVERIFY(small);
    QCOMPARE(small->image.size(), QSize(120, 160)); // turned like the main image
    QCOMPARE(decodeHeif(filePathFromText(path), 200)->image.size(), QSize(480, 640));
}

void HeifCodecTest::unreadableFilesFailQuietly() {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.heic"));
    QVERIFY(writeHeif(test::quadrantImage(64, 64), good, {}));
    QFile in(good);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    for (const qsizetype cut : {qsizetype(0), qsizetype(12), bytes.size() / 2, bytes.size() - 10}) {
        const QString path = dir.filePath(QStringLiteral("cut%1.heic").arg(cut));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes.first(cut));
        out.close();
        QVERIFY(!decodeHeif(filePathFromText(path)));
    }
    QVERIFY(!probeHeif(filePathFromText(dir.filePath(QStringLiteral("absent.heic")))));
}

void HeifCodecTest::decodesDifferentFilesInParallel() {
    QTemporaryDir dir;
    std::vector<FilePath> paths;
    for (int i = 0; i < 4; ++i) {
        const QString path = dir.filePath(QStringLiteral("shot%1.heic").arg(i));
        HeifFixture fixture;
        fixture.format = i % 2 ? heif_compression_AV1 : heif_compression_HEVC;
        fixture.orientation = heif_orientation(1 + i * 2);
        QVERIFY(writeHeif(test::quadrantImage(96 + 16 * i, 64), path, fixture));
        paths.push_back(filePathFromText(path));
    }
    std::vector<QImage> images(paths.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < paths.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round)
                if (const auto pixels = decodeHeif(paths[i]))
                    images[i] = pixels->image;
        });
    for (auto& t : threads)
        t.join();
    for (std::size_t i = 0; i < paths.size(); ++i)
        QCOMPARE(images[i], decodeHeif(paths[i])->image);
}

QTEST_GUILESS_MAIN(HeifCodecTest)
#include "test_heifcodec.moc"
