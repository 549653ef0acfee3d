// The PSD reader against documents written here byte by byte: every colour mode, depth and
// compression it claims to read, and files that lie about their sizes.

#include "imaging/codecs.h"
#include "imaging/psdreader.h"
#include "psdwriter.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <lcms2.h>
#include <vector>

using namespace kivo;
using kivo::test::PsdDocument;

namespace {

// A plane whose pixel i holds base + i * step, so every pixel differs from its neighbours.
std::vector<quint16> ramp(int count, int base, int step) {
    std::vector<quint16> plane(count);
    for (int i = 0; i < count; ++i)
        plane[i] = quint16(base + i * step);
    return plane;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

// A CMYK output profile that maps every ink combination to one green, so a decode that went
// through the document's profile is told apart from the naive formula at a glance.
QByteArray constantGreenCmykProfile() {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1); // lut16: a bare CLUT is enough
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        clut,
        [](const cmsUInt16Number[], cmsUInt16Number out[], void*) -> cmsInt32Number {
            cmsCIELab lab{60, -60, 50};
            cmsFloat2LabEncoded(out, &lab);
            return 1;
        },
        nullptr, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, clut);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsPipelineFree(lut);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

} // namespace

class PsdCodecTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsEveryModeDepthAndCompression_data();
    void readsEveryModeDepthAndCompression();
    void indexedPaletteAndTransparentIndex();
    void bitmapModeIsBlackOnWhite();
    void cmykThroughEmbeddedProfile();
    void rgbProfileIsHandedOn();
    void extraChannelIsNotTransparencyWhenLayersSaySo();
    void probeReportsWithoutDecoding();
    void refusesHostileHeaders_data();
    void refusesHostileHeaders();
    void everyTruncationFailsQuietly();
    void readsThroughTheFile();
};

void PsdCodecTest::readsEveryModeDepthAndCompression_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("planes");
    QTest::addColumn<bool>("rle");
    QTest::addColumn<bool>("large");
    for (const bool rle : {false, true}) {
        const char* c = rle ? "rle" : "raw";
        QTest::addRow("rgb8-%s", c) << 3 << 8 << 3 << rle << false;
        QTest::addRow("rgba8-%s", c) << 3 << 8 << 4 << rle << false;
        QTest::addRow("rgb16-%s", c) << 3 << 16 << 3 << rle << false;
        QTest::addRow("rgba16-%s", c) << 3 << 16 << 4 << rle << false;
        QTest::addRow("gray8-%s", c) << 1 << 8 << 1 << rle << false;
        QTest::addRow("grayalpha8-%s", c) << 1 << 8 << 2 << rle << false;
        QTest::addRow("gray16-%s", c) << 1 << 16 << 1 << rle << false;
        QTest::addRow("cmyk8-%s", c) << 4 << 8 << 4 << rle << false;
        QTest::addRow("cmyka16-%s", c) << 4 << 16 << 5 << rle << false;
        QTest::addRow("psb-rgb8-%s", c) << 3 << 8 << 3 << rle << true;
    }
}

void PsdCodecTest::readsEveryModeDepthAndCompression() {
    QFETCH(int, mode);
    QFETCH(int, depth);
    QFETCH(int, planes);
    QFETCH(bool, rle);
    QFETCH(bool, large);
    PsdDocument doc;
    doc.mode = mode;
    doc.depth = depth;
    doc.rle = rle;
    doc.large = large;
    doc.width = 300; // wider than one PackBits run
    const int n = doc.width * doc.height;
    const int max = depth == 16 ? 0xffff : 0xff;
    for (int p = 0; p < planes; ++p)
        doc.planes.push_back(ramp(n, 10 * p, depth == 16 ? 37 : 0));
    if (depth == 8)
        for (int p = 0; p < planes; ++p)
            for (int i = 0; i < n; ++i)
                doc.planes[p][i] = quint16((i % 50 < 25 ? 7 * i : 100) + 3 * p) & 0xff;

    const auto pixels = readPsd(doc.bytes());
    QVERIFY(pixels);
    const QImage& image = pixels->image;
    QCOMPARE(image.size(), QSize(doc.width, doc.height));
    const int colours = mode == 3 ? 3 : mode == 4 ? 4 : 1;
    QCOMPARE(image.hasAlphaChannel(), planes > colours);
    QCOMPARE(image.depth() / (mode == 1 && planes == 1 ? 1 : 4), depth);

    for (const int i : {0, 1, 26, 299, 450, n - 1}) {
        const QRgba64 px = image.pixelColor(i % doc.width, i / doc.width).rgba64();
        const auto expect = [&](int p) { return double(doc.planes[p][i]) / max; };
        const auto got = [&](quint16 v) { return double(v) / 0xffff; };
        const double tolerance = 1.0 / max;
        double r = 0, g = 0, b = 0;
        if (mode == 3) {
            r = expect(0), g = expect(1), b = expect(2);
        } else if (mode == 1) {
            r = g = b = expect(0);
        } else { // stored inverted: the value is the paper left, so multiply by the black's
            r = expect(0) * expect(3), g = expect(1) * expect(3), b = expect(2) * expect(3);
        }
        QVERIFY2(qAbs(got(px.red()) - r) <= tolerance && qAbs(got(px.green()) - g) <= tolerance &&
                     qAbs(got(px.blue()) - b) <= tolerance,
                 qPrintable(QStringLiteral("pixel %1").arg(i)));
        const double a = planes > colours ? expect(colours) : 1.0;
        QVERIFY(qAbs(got(px.alpha()) - a) <= tolerance);
    }
}

void PsdCodecTest::indexedPaletteAndTransparentIndex() {
    PsdDocument doc;
    doc.mode = 2;
    doc.rle = true;
    doc.colorModeData = QByteArray(768, '\0');
    doc.colorModeData[5] = char(200);       // index 5: red
    doc.colorModeData[256 + 6] = char(150); // index 6: green
    doc.colorModeData[512 + 6] = char(10);
    doc.addResource(1047, QByteArray("\x00\x06", 2));
    doc.planes = {std::vector<quint16>(15, 5)};
    doc.planes[0][14] = 6;
    const auto pixels = readPsd(doc.bytes());
    QVERIFY(pixels);
    QCOMPARE(pixels->image.pixel(0, 0), qRgba(200, 0, 0, 255));
    QCOMPARE(pixels->image.pixel(4, 2), qRgba(0, 150, 10, 0));
    QVERIFY(readPsdInfo(doc.bytes())->hasAlpha);
}

void PsdCodecTest::bitmapModeIsBlackOnWhite() {
    PsdDocument doc;
    doc.mode = 0;
    doc.depth = 1;
    doc.width = 11; // not a whole number of bytes per row
    doc.planes = {std::vector<quint16>(33, 0)};
    doc.planes[0][10] = 1;
    doc.planes[0][11] = 1;
    const auto pixels = readPsd(doc.bytes());
    QVERIFY(pixels);
    QCOMPARE(qGray(pixels->image.pixel(10, 0)), 0);
    QCOMPARE(qGray(pixels->image.pixel(0, 1)), 0);
    QCOMPARE(qGray(pixels->image.pixel(9, 0)), 255);
}

void PsdCodecTest::cmykThroughEmbeddedProfile() {
    PsdDocument doc;
    doc.mode = 4;
    doc.planes.assign(4, std::vector<quint16>(15, 255)); // no ink: white by the naive formula
    doc.addResource(1039, constantGreenCmykProfile());
    const auto pixels = readPsd(doc.bytes());
    QVERIFY(pixels);
    QVERIFY(pixels->iccProfile.isEmpty()); // already sRGB
    const QColor c = pixels->image.pixelColor(2, 1);
    QVERIFY2(c.green() > 120 && c.red() < 60 && c.alpha() == 255, qPrintable(c.name()));
}

void PsdCodecTest::rgbProfileIsHandedOn() {
    PsdDocument doc;
    doc.planes.assign(3, std::vector<quint16>(15, 128));
    const QByteArray profile = QByteArray("odd-sized profile"); // handed on, never parsed here
    doc.addResource(1000, QByteArray("xyz"));
    doc.addResource(1039, profile);
    const auto pixels = readPsd(doc.bytes());
    QVERIFY(pixels);
    QCOMPARE(pixels->iccProfile, profile);
}

void PsdCodecTest::extraChannelIsNotTransparencyWhenLayersSaySo() {
    PsdDocument doc;
    doc.planes.assign(4, std::vector<quint16>(15, 40));
    QByteArray layerInfo;
    PsdDocument::put(layerInfo, 2, 2); // two layers, positive: the merged image is opaque
    PsdDocument::put(doc.layerSection, layerInfo.size(), 4);
    doc.layerSection += layerInfo;
    auto pixels = readPsd(doc.bytes());
    QVERIFY(pixels);
    QCOMPARE(qAlpha(pixels->image.pixel(1, 1)), 255);

    doc.layerSection.clear();
    layerInfo.clear();
    PsdDocument::put(layerInfo, quint16(-2), 2); // negative: first extra channel is transparency
    PsdDocument::put(doc.layerSection, layerInfo.size(), 4);
    doc.layerSection += layerInfo;
    pixels = readPsd(doc.bytes());
    QVERIFY(pixels);
    QCOMPARE(qAlpha(pixels->image.pixel(1, 1)), 40);
}

void PsdCodecTest::probeReportsWithoutDecoding() {
    PsdDocument doc;
    doc.mode = 4;
    doc.depth = 16;
    doc.width = 20000;
    doc.height = 10000;
    doc.planes.assign(4, {}); // no pixel data at all: probing must not need it
    QByteArray bytes = doc.bytes();
    const auto info = readPsdInfo(bytes);
    QVERIFY(info);
    QCOMPARE(info->size, QSize(20000, 10000));
    QCOMPARE(info->depth, 16);
    QCOMPARE(info->colorModel, QStringLiteral("CMYK"));
    QVERIFY(!info->hasAlpha);
    QVERIFY(!readPsd(bytes)); // and decoding it finds nothing to decode
}

void PsdCodecTest::refusesHostileHeaders_data() {
    QTest::addColumn<QByteArray>("bytes");
    PsdDocument good;
    good.planes.assign(3, std::vector<quint16>(15, 1));
    const QByteArray base = good.bytes();
    const auto patched = [&](int offset, QByteArray value) {
        QByteArray b = base;
        b.replace(offset, value.size(), value);
        return b;
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
    // Within the pixel budget of the header, but not of the bytes: the PackBits counts claim
    // far less than 30000 pixels a row can be packed into.
    PsdDocument wide;
    wide.width = 30000;
    wide.height = 30000;
    wide.rle = true;
    wide.planes.assign(3, {});
    QByteArray lying = wide.bytes() + QByteArray(3 * 30000 * 2, '\x01');
    QTest::newRow("packbits counts too small for the width") << lying;
    PsdDocument overrun;
    overrun.rle = true;
    overrun.planes.assign(3, std::vector<quint16>(15, 1));
    QByteArray b = overrun.bytes();
    b[b.size() - 2] = char(0x7f); // a literal run longer than the row
    QTest::newRow("packbits run past the row") << b;
}

void PsdCodecTest::refusesHostileHeaders() {
    QFETCH(QByteArray, bytes);
    QVERIFY(!readPsd(bytes));
}

void PsdCodecTest::everyTruncationFailsQuietly() {
    PsdDocument doc;
    doc.rle = true;
    doc.addResource(1039, QByteArray(33, 'p'));
    for (int p = 0; p < 4; ++p)
        doc.planes.push_back(ramp(15, p, 11));
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

void PsdCodecTest::readsThroughTheFile() {
    QTemporaryDir dir;
    PsdDocument doc;
    doc.planes.assign(4, std::vector<quint16>(15, 90));
    // A megabyte of layers, skipped on the way to the merged image; their count is negative,
    // so the fourth channel is the merged transparency.
    QByteArray layers;
    PsdDocument::put(layers, quint16(-3), 2);
    layers += QByteArray(1 << 20, '\x5a');
    PsdDocument::put(doc.layerSection, layers.size(), 4);
    doc.layerSection += layers;
    const QString path = writeFile(dir, QStringLiteral("layered é.psd"), doc.bytes());
    const auto pixels = decodePsd(filePathFromText(path));
    QVERIFY(pixels);
    QCOMPARE(pixels->image.pixelColor(4, 2), QColor(90, 90, 90, 90));
    const auto info = probePsd(filePathFromText(path));
    QVERIFY(info && info->hasAlpha);
    QCOMPARE(info->size, QSize(5, 3));
    QVERIFY(!decodePsd(filePathFromText(dir.filePath(QStringLiteral("missing.psd")))));
    // A name that is not UTF-8 is still a name.
    const FilePath bytesName = filePathFromText(dir.path()) / std::string("caf\xe9.psd");
    QVERIFY(std::filesystem::copy_file(filePathFromText(path), bytesName));
    QVERIFY(decodePsd(bytesName));
    const QString empty = writeFile(dir, QStringLiteral("empty.psd"), {});
    QVERIFY(!probePsd(filePathFromText(empty)));
}

QTEST_GUILESS_MAIN(PsdCodecTest)
#include "test_psdcodec.moc"
