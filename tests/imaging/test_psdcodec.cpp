// The PSD reader against documents written here byte by byte: every colour mode, depth and
// compression it claims to read, and files that lie about their sizes.

#include "clutprofile.h"
#include "imaging/codecs.h"
#include "imaging/psdreader.h"
#include "psdwriter.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>
#include <lcms2.h>
#include <vector>

using namespace kivo;
using kivo::test::PsdDocument;

namespace {

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

class PsdCodecTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
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

QTEST_GUILESS_MAIN(PsdCodecTest)
#include "test_psdcodec.moc"
