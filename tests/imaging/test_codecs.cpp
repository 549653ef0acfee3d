// SPDX-License-Identifier: GPL-3.0-or-later
// What the codecs do beyond the format runner's pictures, on files from phones and files written
// here: LibRaw on DNGs (which source, mosaic or embedded preview, each request is served from,
// turned by the orientation tag, and broken files), libheif on files from its own encoders (x265,
// aom: colour profiles and depth), animated GIF and WebP, and the PSD reader on every colour mode,
// depth and compression it claims to read and on files that lie about their sizes. (Plain files,
// container transforms, thumbnail items, alpha, threads and files cut short: the format runner,
// test_formats.)
#include "clutprofile.h"
#include "dngwriter.h"
#include "heifwriter.h"
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/hevcdecoder.h"
#include "imaging/codecs/psdreader.h"
#include "imaging/decode.h"
#include "psdwriter.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <lcms2.h>
#include <libheif/heif.h>
#include <thread>
#include <vector>
#include <webp/encode.h>
#include <webp/mux.h>

using namespace kivo;
using kivo::test::HeifFixture;
using kivo::test::PsdDocument;

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

// A 5 x 3 document of `planes` planes all holding `value`.
PsdDocument filled(int planes, quint16 value, int mode = 3) {
    PsdDocument doc;
    doc.mode = mode;
    doc.planes.assign(planes, std::vector<quint16>(15, value));
    return doc;
}

// A layer section whose layer count is `count`: negative says the first extra channel of the
// merged image is its transparency. `padding` stands for the layers themselves.
QByteArray layerSection(int count, int padding = 0) {
    QByteArray info, section;
    PsdDocument::put(info, quint16(count), 2);
    info += QByteArray(padding, '\x5a');
    PsdDocument::put(section, info.size(), 4);
    return section + info;
}

// A CMYK output profile that maps every ink combination to one green, so a decode that went
// through the document's profile is told apart from the naive formula at a glance.
QByteArray constantGreenCmykProfile() {
    return test::clutProfile(
        4, 2,
        [](const cmsUInt16Number[], cmsUInt16Number out[], void*) -> cmsInt32Number {
            cmsCIELab lab{60, -60, 50};
            cmsFloat2LabEncoded(out, &lab);
            return 1;
        },
        nullptr);
}

struct Kind {
    const char* name;
    int mode, depth, planes;
    bool large; // PSB
};
constexpr Kind kinds[] = {{"rgb8", 3, 8, 3, false},     {"rgba8", 3, 8, 4, false},
                          {"rgb16", 3, 16, 3, false},   {"rgba16", 3, 16, 4, false},
                          {"gray8", 1, 8, 1, false},    {"grayalpha8", 1, 8, 2, false},
                          {"gray16", 1, 16, 1, false},  {"cmyk8", 4, 8, 4, false},
                          {"cmyka16", 4, 16, 5, false}, {"psb-rgb8", 3, 8, 3, true}};

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
    // A screen level (fit box) takes the cheapest source that fills the box and says the
    // sensor's size; a thumbnail the cheapest at least its size; no request, the full mosaic.
    void decodesTheRightSource_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("previewSize"); // empty: none
        QTest::addColumn<int>("maxPixelSize");
        QTest::addColumn<QSize>("fitBox");
        QTest::addColumn<QSize>("expectedSize"); // before turning
        QTest::addColumn<bool>("expectPreview");
        QTest::addColumn<bool>("uncompressed");
        const QSize none, half(128, 64), full(256, 128), small(96, 48);
        QTest::newRow("full mosaic turned clockwise")
            << 6 << none << 0 << none << full << false << false;
        QTest::newRow("full mosaic although a preview is there")
            << 8 << full << 0 << none << full << false << false;
        QTest::newRow("large reduced size, full demosaic")
            << 1 << none << 200 << none << full << false << false;
        QTest::newRow("preview fills the screen, turned anticlockwise")
            << 8 << full << 0 << QSize(100, 200) << full << true << false;
        QTest::newRow("preview too small for the screen")
            << 1 << small << 0 << QSize(120, 60) << half << false << false;
        QTest::newRow("small preview for a thumbnail")
            << 6 << small << 90 << none << small << true << false;
        QTest::newRow("uncompressed preview turned clockwise")
            << 6 << half << 0 << QSize(64, 128) << half << true << true;
        QTest::newRow("thumbnail larger than the preview")
            << 1 << small << 120 << none << half << false << false;
    }

    void decodesTheRightSource() {
        QFETCH(int, orientation);
        QFETCH(QSize, previewSize);
        QFETCH(int, maxPixelSize);
        QFETCH(QSize, fitBox);
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
        const auto pixels = decodeRaw(path, maxPixelSize, fitBox);
        QVERIFY(pixels);
        if (fitBox.isValid())
            QCOMPARE(pixels->fullSize.isEmpty() ? pixels->image.size() : pixels->fullSize,
                     orientation >= 5 ? QSize(128, 256) : QSize(256, 128));
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

    // The HEVC decoder that uses every core gives exactly the pixels of libheif's own: a photo
    // coded as one large image (decoded on several threads), and the corpus's phone pictures
    // (grids of small tiles, each on one thread), whose colour descriptions come from the
    // bitstream.
    void threadedHevcDecodesAsLibheifsOwn() {
        QTemporaryDir dir;
        QImage photo(2400, 1600, QImage::Format_RGB32);
        QRandomGenerator noise(7);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y,
                               qRgb((x / 9 + int(noise.bounded(40))) & 0xff,
                                    (y / 7 + int(noise.bounded(40))) & 0xff,
                                    int(noise.bounded(256))));
        test::HeifFixture fixture;
        fixture.hevcPreset = "ultrafast";
        QStringList files{dir.filePath("photo.heic")};
        QVERIFY(test::writeHeif(photo, files.front(), fixture));
        QVERIFY2(QFileInfo(files.front()).size() > (1 << 20), "too small to be decoded threaded");
        for (const char* folder : {"exif-samples/heic", "exif-samples/heic/mobile"}) {
            const QDir corpus(test::corpusPath(folder));
            for (const QString& name : corpus.entryList({"*.HEIC", "*.heif"}, QDir::Files))
                files << corpus.filePath(name);
        }
        useThreadedHevcDecoder();
        const auto decode = [](const QString& file, const char* decoder) {
            heif_context* context = heif_context_alloc();
            heif_image_handle* handle = nullptr;
            heif_image* image = nullptr;
            heif_decoding_options* options = heif_decoding_options_alloc();
            options->decoder_id = decoder;
            QByteArray pixels;
            if (heif_context_read_from_file(context, QFile::encodeName(file).constData(), nullptr)
                        .code == heif_error_Ok &&
                heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
                heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                                  options)
                        .code == heif_error_Ok) {
                int stride = 0;
                const uint8_t* plane =
                    heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
                const int width = heif_image_get_width(image, heif_channel_interleaved);
                for (int y = 0; y < heif_image_get_height(image, heif_channel_interleaved); ++y)
                    pixels.append(reinterpret_cast<const char*>(plane) + qsizetype(y) * stride,
                                  width * 3);
            }
            heif_image_release(image);
            heif_image_handle_release(handle);
            heif_decoding_options_free(options);
            heif_context_free(context);
            return pixels;
        };
        for (const QString& file : files) {
            const QByteArray threaded = decode(file, kThreadedHevcDecoderId);
            QVERIFY2(!threaded.isEmpty(), qPrintable(file));
            QVERIFY2(threaded == decode(file, "libde265"), qPrintable(file));
        }
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
        // Its thumbnail item, turned upright as the grid is, in the same colours.
        const auto thumbnail = decodeHeifThumbnail(iphone);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->image.size(), QSize(240, 320));
        QCOMPARE(thumbnail->fullSize, QSize(3024, 4032));
        QCOMPARE(QColorSpace::fromIccProfile(thumbnail->iccProfile).primaries(), p3.primaries());
        const QColor small = thumbnail->image.pixelColor(120, 160);
        const QColor large = pixels->image.pixelColor(1512, 2016);
        QVERIFY(qAbs(small.red() - large.red()) + qAbs(small.green() - large.green()) +
                    qAbs(small.blue() - large.blue()) <
                90);

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

    // The PSD reader on documents written here byte by byte: every colour mode, depth and
    // compression it claims to read, and files that lie about their sizes.
    void readsEveryModeDepthAndCompression_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("rle");
        for (const bool rle : {false, true})
            for (int k = 0; k < int(std::size(kinds)); ++k)
                QTest::addRow("%s-%s", kinds[k].name, rle ? "rle" : "raw") << k << rle;
    }

    void readsEveryModeDepthAndCompression() {
        QFETCH(int, kind);
        QFETCH(bool, rle);
        const auto [name, mode, depth, planes, large] = kinds[kind];
        PsdDocument doc;
        doc.mode = mode;
        doc.depth = depth;
        doc.rle = rle;
        doc.large = large;
        doc.width = 300; // wider than one PackBits run
        const int n = doc.width * doc.height;
        // 8-bit planes alternate runs and literals so PackBits uses both.
        for (int p = 0; p < planes; ++p) {
            doc.planes.emplace_back(n);
            for (int i = 0; i < n; ++i)
                doc.planes[p][i] = depth == 16
                                       ? quint16(10 * p + 37 * i)
                                       : quint16(((i % 50 < 25 ? 7 * i : 100) + 3 * p) & 0xff);
        }

        const auto pixels = readPsd(doc.bytes());
        QVERIFY(pixels);
        const QImage& image = pixels->image;
        QCOMPARE(image.size(), QSize(doc.width, doc.height));
        const int colours = mode == 3 ? 3 : mode == 4 ? 4 : 1;
        QCOMPARE(image.hasAlphaChannel(), planes > colours);
        QCOMPARE(image.depth() / (mode == 1 && planes == 1 ? 1 : 4), depth);
        const double max = depth == 16 ? 0xffff : 0xff;
        for (const int i : {0, 1, 26, 299, 450, n - 1}) {
            const QRgba64 px = image.pixelColor(i % doc.width, i / doc.width).rgba64();
            const auto stored = [&](int p) { return doc.planes[p][i] / max; };
            // CMYK is stored inverted: each value is the paper left, multiplied by the black's.
            const double black = mode == 4 ? stored(3) : 1;
            const double expected[4] = {stored(0) * black, stored(mode == 1 ? 0 : 1) * black,
                                        stored(mode == 1 ? 0 : 2) * black,
                                        planes > colours ? stored(colours) : 1.0};
            const quint16 got[4] = {px.red(), px.green(), px.blue(), px.alpha()};
            for (int c = 0; c < 4; ++c)
                QVERIFY2(qAbs(got[c] / 65535.0 - expected[c]) <= 1 / max,
                         qPrintable(QStringLiteral("pixel %1 channel %2").arg(i).arg(c)));
        }
    }

    void indexedPaletteAndTransparentIndex() {
        PsdDocument doc = filled(1, 5, 2);
        doc.rle = true;
        doc.colorModeData = QByteArray(768, '\0');
        doc.colorModeData[5] = char(200);       // index 5: red
        doc.colorModeData[256 + 6] = char(150); // index 6: green
        doc.colorModeData[512 + 6] = char(10);
        doc.addResource(1047, QByteArray("\x00\x06", 2));
        doc.planes[0][14] = 6;
        const auto pixels = readPsd(doc.bytes());
        QVERIFY(pixels);
        QCOMPARE(pixels->image.pixel(0, 0), qRgba(200, 0, 0, 255));
        QCOMPARE(pixels->image.pixel(4, 2), qRgba(0, 150, 10, 0));
        QVERIFY(readPsdInfo(doc.bytes())->hasAlpha);
    }

    void bitmapModeIsBlackOnWhite() {
        PsdDocument doc = filled(1, 0, 0);
        doc.depth = 1;
        doc.width = 11; // not a whole number of bytes per row
        doc.planes[0].resize(33);
        doc.planes[0][10] = doc.planes[0][11] = 1;
        const auto pixels = readPsd(doc.bytes());
        QVERIFY(pixels);
        QCOMPARE(qGray(pixels->image.pixel(10, 0)), 0);
        QCOMPARE(qGray(pixels->image.pixel(0, 1)), 0);
        QCOMPARE(qGray(pixels->image.pixel(9, 0)), 255);
    }

    void embeddedProfiles() {
        // CMYK goes through its profile to sRGB; no ink is white by the naive formula.
        PsdDocument cmyk = filled(4, 255, 4);
        cmyk.addResource(1039, constantGreenCmykProfile());
        const auto pixels = readPsd(cmyk.bytes());
        QVERIFY(pixels);
        QVERIFY(pixels->iccProfile.isEmpty());
        const QColor c = pixels->image.pixelColor(2, 1);
        QVERIFY2(c.green() > 120 && c.red() < 60 && c.alpha() == 255, qPrintable(c.name()));
        // An RGB profile is handed on as it stands, past other resources, never parsed here.
        PsdDocument rgb = filled(3, 128);
        rgb.addResource(1000, QByteArray("xyz"));
        rgb.addResource(1039, QByteArray("odd-sized profile"));
        QCOMPARE(readPsd(rgb.bytes())->iccProfile, QByteArray("odd-sized profile"));
    }

    void extraChannelIsNotTransparencyWhenLayersSaySo() {
        PsdDocument doc = filled(4, 40);
        for (const auto& [layers, alpha] : {std::pair{2, 255}, std::pair{-2, 40}}) {
            doc.layerSection = layerSection(layers);
            const auto pixels = readPsd(doc.bytes());
            QVERIFY(pixels);
            QCOMPARE(qAlpha(pixels->image.pixel(1, 1)), alpha);
        }
    }

    // The probe reads the header alone: a document without pixel data still reports its layout.
    void probeReportsWithoutDecoding() {
        PsdDocument doc = filled(4, 0, 4);
        doc.depth = 16;
        doc.width = 20000;
        doc.height = 10000;
        doc.planes.assign(4, {});
        const auto info = readPsdInfo(doc.bytes());
        QVERIFY(info && info->size == QSize(20000, 10000) && info->depth == 16 && !info->hasAlpha);
        QCOMPARE(info->colorModel, QStringLiteral("CMYK"));
        QVERIFY(!readPsd(doc.bytes()));
    }

    void refusesHostileHeaders_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray base = filled(3, 1).bytes();
        const auto patched = [&](int offset, QByteArray value) {
            return QByteArray(base).replace(offset, value.size(), value);
        };
        QTest::newRow("signature") << patched(0, "8BPX");
        QTest::newRow("version 3") << patched(4, QByteArray("\0\3", 2));
        QTest::newRow("no channels") << patched(12, QByteArray("\0\0", 2));
        QTest::newRow("fewer channels than the mode") << patched(12, QByteArray("\0\2", 2));
        QTest::newRow("zero height") << patched(14, QByteArray(4, '\0'));
        QTest::newRow("too wide") << patched(18, QByteArray("\0\1\0\0", 4));
        QTest::newRow("depth 32") << patched(22, QByteArray("\0\x20", 2));
        QTest::newRow("Lab") << patched(24, QByteArray("\0\x09", 2));
        QTest::newRow("zip") << patched(base.size() - 45 - 2, QByteArray("\0\2", 2));
        QTest::newRow("colour data past the end") << patched(26, QByteArray("\x7f\0\0\0", 4));
        // Within the header's pixel budget but not the bytes': PackBits counts far below what
        // 30000 pixels a row can be packed into.
        PsdDocument wide = filled(3, 0);
        wide.width = wide.height = 30000;
        wide.rle = true;
        wide.planes.assign(3, {});
        QTest::newRow("packbits counts too small for the width")
            << wide.bytes() + QByteArray(3 * 30000 * 2, '\x01');
        PsdDocument overrun = filled(3, 1);
        overrun.rle = true;
        QByteArray b = overrun.bytes();
        b[b.size() - 2] = char(0x7f); // a literal run longer than the row
        QTest::newRow("packbits run past the row") << b;
    }

    void refusesHostileHeaders() {
        QFETCH(QByteArray, bytes);
        QVERIFY(!readPsd(bytes));
    }

    void everyTruncationFailsQuietly() {
        PsdDocument doc = filled(4, 0);
        doc.rle = true;
        doc.addResource(1039, QByteArray(33, 'p'));
        for (int p = 0; p < 4; ++p)
            for (int i = 0; i < 15; ++i)
                doc.planes[p][i] = quint16(p + 11 * i);
        const QByteArray bytes = doc.bytes();
        QVERIFY(readPsd(bytes));
        for (qsizetype length = 0; length < bytes.size(); ++length) {
            QVERIFY2(!readPsd(bytes.first(length)), qPrintable(QString::number(length)));
            QBuffer cut;
            cut.setData(bytes.first(length));
            QVERIFY(cut.open(QIODevice::ReadOnly));
            const auto essentials = readPsdEssentials(cut, true);
            QVERIFY(!essentials || !readPsd(*essentials));
        }
    }

    void readsThroughTheFile() {
        QTemporaryDir dir;
        PsdDocument doc = filled(4, 90);
        doc.layerSection = layerSection(-3, 1 << 20); // a megabyte skipped on the way
        const QString name = dir.filePath(QStringLiteral("layered é.psd"));
        QVERIFY(test::writeFile(name, doc.bytes()));
        const FilePath path = filePathFromText(name);
        const auto pixels = decodePsd(path);
        QVERIFY(pixels);
        QCOMPARE(pixels->image.pixelColor(4, 2), QColor(90, 90, 90, 90));
        const auto info = probePsd(path);
        QVERIFY(info && info->hasAlpha);
        QCOMPARE(info->size, QSize(5, 3));
        // A name that is not UTF-8 is still a name.
        const FilePath bytesName = filePathFromText(dir.path()) / std::string("caf\xe9.psd");
        QVERIFY(std::filesystem::copy_file(path, bytesName));
        QVERIFY(decodePsd(bytesName));
    }
};

QTEST_GUILESS_MAIN(CodecTest)
#include "test_codecs.moc"
