// What the codecs do beyond the format runner's pictures, on files from phones and files written
// here: LibRaw on DNGs (which source, mosaic or embedded preview, each request is served from,
// turned by the orientation tag, and broken files), libheif on files from its own encoders (x265,
// aom: colour profiles and depth), and animated GIF and WebP. (Plain files, container transforms,
// thumbnail items, alpha, threads and files cut short: the format runner, test_formats.)

#include "dngwriter.h"
#include "heifwriter.h"
#include "imaging/codecs.h"
#include "imaging/decode.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <libheif/heif.h>
#include <thread>
#include <vector>
#include <webp/encode.h>
#include <webp/mux.h>

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

const QList<QColor> kFrameColours{Qt::red, Qt::green, Qt::blue};
const int kDurations[] = {200, 500, 0};

bool hasColour(const QImage& frame, QColor colour) {
    return !frame.isNull() && test::colourDistance(frame.pixelColor(20, 15), colour) < 8;
}

// Three flat 40x30 frames lasting 200 ms, 500 ms and 0 ms, as ImageMagick writes them.
bool writeGif(const QString& path) {
    const QString convert = QStandardPaths::findExecutable("convert");
    return !convert.isEmpty() &&
           QProcess::execute(convert,
                             {"-size", "40x30", "-delay", "20", "xc:rgb(255,0,0)", "-delay", "50",
                              "xc:rgb(0,255,0)", "-delay", "0", "xc:rgb(0,0,255)", path}) == 0;
}

// The same three frames through libwebp's animation encoder, lossless.
bool writeWebp(const QString& path) {
    WebPAnimEncoderOptions options;
    WebPAnimEncoder* encoder =
        WebPAnimEncoderOptionsInit(&options) ? WebPAnimEncoderNew(40, 30, &options) : nullptr;
    int timestamp = 0;
    bool ok = encoder != nullptr;
    for (int i = 0; ok && i < 3; ++i) {
        QImage frame(40, 30, QImage::Format_RGBA8888);
        frame.fill(kFrameColours[i]);
        WebPConfig config;
        WebPConfigInit(&config);
        config.lossless = 1;
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = 40;
        picture.height = 30;
        picture.use_argb = 1;
        ok = WebPPictureImportRGBA(&picture, frame.constBits(), int(frame.bytesPerLine())) &&
             WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += kDurations[i];
    }
    WebPData data;
    WebPDataInit(&data);
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr) &&
         WebPAnimEncoderAssemble(encoder, &data);
    ok = ok && test::writeFile(path, QByteArray(reinterpret_cast<const char*>(data.bytes),
                                                qsizetype(data.size)));
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
    return ok;
}

} // namespace

class CodecTest : public QObject {
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

    // Animated GIF and WebP: the first frame at once, the others on demand, from several threads
    // at once.
    void framesAndDelays_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("gif") << "anim.gif";
        QTest::newRow("webp") << "anim.webp";
    }

    void framesAndDelays() {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!(name.endsWith("gif") ? writeGif(path) : writeWebp(path)))
            QSKIP("no encoder for this format");
        const auto decoded = decodeImage(filePathFromText(path));
        QVERIFY(decoded && (*decoded)->isAnimated());
        const ImagePtr image = *decoded;
        QCOMPARE(image->frameCount(), 3);
        QCOMPARE(image->size(), QSize(40, 30));
        QCOMPARE(image->frameDelayMs(0), 200);
        QCOMPARE(image->frameDelayMs(1), 500);
        QCOMPARE(image->frameDelayMs(2), 100); // "as fast as possible" plays at 10 fps
        QVERIFY(hasColour(image->bitmap(), Qt::red));
        // Out of order on purpose: going back restarts the decoder from the first frame.
        for (int i : {2, 1, 0, 2, 1})
            QVERIFY2(hasColour(image->frame(i), kFrameColours[i]), qPrintable(QString::number(i)));
        QVERIFY(image->frame(3).isNull() && image->frame(-1).isNull());
        // Several threads may ask one image for its frames at once.
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = t; i < t + 90; ++i)
                    wrong += !hasColour(image->frame(i % 3), kFrameColours[i % 3]);
            });
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(wrong.load(), 0);
    }
};

QTEST_GUILESS_MAIN(CodecTest)
#include "test_codecs.moc"
