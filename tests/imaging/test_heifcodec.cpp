// libheif decoding against files from phones and files encoded here with libheif's own
// encoders (x265, aom): container transforms, colour profiles, depth, alpha, thumbnails.

#include "imaging/codecs.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <libheif/heif.h>
#include <optional>

using namespace kivo;

namespace {

struct HeifFixture {
    heif_compression_format format = heif_compression_HEVC;
    heif_orientation orientation = heif_orientation_normal;
    int bitDepth = 8;
    std::optional<heif_color_primaries> primaries;
    int thumbnailSize = 0;
};

// Encodes `picture` (RGB or RGBA) with libheif, as a phone would write it.
bool writeHeif(const QImage& picture, const QString& path, const HeifFixture& f) {
    const bool alpha = picture.hasAlphaChannel();
    const bool deep = f.bitDepth > 8;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* image = nullptr;
    heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, chroma, &image);
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(),
                         f.bitDepth);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const QImage source = picture.convertToFormat(QImage::Format_RGBA64);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* in = reinterpret_cast<const quint16*>(source.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            for (int c = 0; c < channels; ++c) {
                const quint16 v = in[x * 4 + c];
                if (deep)
                    reinterpret_cast<quint16*>(plane + y * stride)[x * channels + c] =
                        quint16(v >> (16 - f.bitDepth));
                else
                    plane[y * stride + x * channels + c] = uint8_t(v >> 8);
            }
        }
    }
    if (f.primaries) {
        heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
        heif_nclx_color_profile_set_color_primaries(nclx, *f.primaries);
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx, heif_transfer_characteristic_IEC_61966_2_1);
        heif_nclx_color_profile_set_matrix_coefficients(nclx,
                                                        heif_matrix_coefficients_ITU_R_BT_601_6);
        nclx->full_range_flag = 1;
        heif_image_set_nclx_color_profile(image, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    bool ok = heif_context_get_encoder_for_format(context, f.format, &encoder).code == 0;
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = f.orientation;
    options->macOS_compatibility_workaround_no_nclx_profile = 0; // else the nclx box is dropped
    heif_image_handle* handle = nullptr;
    if (ok) {
        heif_encoder_set_lossy_quality(encoder, 92);
        ok = heif_context_encode_image(context, image, encoder, options, &handle).code == 0;
    }
    if (ok && f.thumbnailSize > 0)
        ok = heif_context_encode_thumbnail(context, image, handle, encoder, options,
                                           f.thumbnailSize, nullptr)
                 .code == 0;
    if (ok)
        ok = heif_context_write_to_file(context, QFile::encodeName(path).constData()).code == 0;
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(image);
    return ok;
}

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

QTEST_GUILESS_MAIN(HeifCodecTest)
#include "test_heifcodec.moc"
