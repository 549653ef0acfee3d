// LibRaw decoding against DNG files written here: a bare mosaic, one with an embedded JPEG
// preview, turned by the orientation tag, and broken ones.

#include "dngwriter.h"
#include "imaging/codecs.h"
#include "support/testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

using namespace kivo;

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

bool looksLike(QColor got, QColor expected, int tolerance = 60) {
    return qAbs(got.red() - expected.red()) <= tolerance &&
           qAbs(got.green() - expected.green()) <= tolerance &&
           qAbs(got.blue() - expected.blue()) <= tolerance;
}

// The colours at the centres of the four quadrants, top-left first, row by row.
QList<QColor> quadrants(const QImage& image) {
    QList<QColor> colours;
    for (const double fy : {0.25, 0.75})
        for (const double fx : {0.25, 0.75})
            colours << image.pixelColor(int(fx * image.width()), int(fy * image.height()));
    return colours;
}

} // namespace

// The scene mirrored, so a test can tell the preview from a demosaic of the mosaic.
QImage previewOf(const QImage& scene, QSize size) {
    return scene.mirrored(true, false).scaled(size);
}

QImage turnedClockwise(const QImage& image) {
    QTransform turn;
    return image.transformed(turn.rotate(90));
}

bool sameQuadrants(const QImage& got, const QImage& expected) {
    const QList<QColor> a = quadrants(got), b = quadrants(expected);
    for (int i = 0; i < 4; ++i)
        if (!looksLike(a[i], b[i]))
            return false;
    return true;
}

class RawCodecTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodesTheRightSource_data();
    void decodesTheRightSource();
    void brokenFilesFailQuietly();
    void decodesDifferentFilesInParallel();
};

void RawCodecTest::decodesTheRightSource_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("previewSize"); // empty: none
    QTest::addColumn<int>("maxPixelSize");
    QTest::addColumn<QSize>("expectedSize"); // before turning
    QTest::addColumn<bool>("expectPreview");
    QTest::addColumn<bool>("uncompressed");
    const QSize none;
    QTest::newRow("mosaic, half-size demosaic")
        << 1 << none << 0 << QSize(128, 64) << false << false;
    QTest::newRow("mosaic turned clockwise") << 6 << none << 0 << QSize(128, 64) << false << false;
    QTest::newRow("mosaic, upside down") << 3 << none << 0 << QSize(128, 64) << false << false;
    QTest::newRow("large reduced size, full demosaic")
        << 1 << none << 200 << QSize(256, 128) << false << false;
    QTest::newRow("preview of half the sensor")
        << 1 << QSize(128, 64) << 0 << QSize(128, 64) << true << false;
    QTest::newRow("preview turned anticlockwise")
        << 8 << QSize(256, 128) << 0 << QSize(256, 128) << true << false;
    QTest::newRow("preview too small to show")
        << 1 << QSize(96, 48) << 0 << QSize(128, 64) << false << false;
    QTest::newRow("small preview for a thumbnail")
        << 6 << QSize(96, 48) << 90 << QSize(96, 48) << true << false;
    QTest::newRow("uncompressed preview turned clockwise")
        << 6 << QSize(128, 64) << 0 << QSize(128, 64) << true << true;
    QTest::newRow("thumbnail larger than the preview")
        << 1 << QSize(96, 48) << 120 << QSize(128, 64) << false << false;
}

void RawCodecTest::decodesTheRightSource() {
    QFETCH(bool, uncompressed);
    QFETCH(int, orientation);
    QFETCH(QSize, previewSize);
    QFETCH(int, maxPixelSize);
    QFETCH(QSize, expectedSize);
    QFETCH(bool, expectPreview);
    QTemporaryDir dir;
    test::DngSpec spec;
    spec.picture = test::quadrantImage(256, 128);
    spec.orientation = orientation;
    if (previewSize.isValid())
        spec.preview = previewOf(spec.picture, previewSize);
    spec.uncompressedPreview = uncompressed;
    const QString path = writeFile(dir, QStringLiteral("camera.dng"), test::makeDng(spec));

    const auto info = probeRaw(filePathFromText(path));
    QVERIFY(info);
    QCOMPARE(info->size, QSize(256, 128));
    QCOMPARE(info->orientation, orientation);

    const auto pixels = decodeRaw(filePathFromText(path), maxPixelSize);
    QVERIFY(pixels);
    QImage expected =
        expectPreview ? previewOf(spec.picture, expectedSize) : spec.picture.scaled(expectedSize);
    if (orientation == 6)
        expected = turnedClockwise(expected);
    else if (orientation == 8)
        expected = turnedClockwise(expected).mirrored(true, true);
    else if (orientation == 3)
        expected = expected.mirrored(true, true);
    QCOMPARE(pixels->image.size(), expected.size());
    QVERIFY(sameQuadrants(pixels->image, expected));
}

void RawCodecTest::brokenFilesFailQuietly() {
    QTemporaryDir dir;
    test::DngSpec spec;
    spec.picture = test::quadrantImage(64, 64);
    spec.preview = spec.picture;
    const QByteArray good = test::makeDng(spec);
    const QList<QByteArray> broken = {
        QByteArray(),
        QByteArray("not a raw file at all"),
        good.first(good.size() / 3), // the pixels cut off
        good.first(16),
        QByteArray("II*\0\xff\xff\xff\x7f", 8) + QByteArray(64, '\xff'),
    };
    for (int i = 0; i < broken.size(); ++i) {
        const auto path =
            filePathFromText(writeFile(dir, QStringLiteral("broken%1.nef").arg(i), broken[i]));
        // A cut-off file may still open; what matters is an answer instead of a crash.
        const auto pixels = decodeRaw(path);
        if (i != 2)
            QVERIFY2(!pixels && !probeRaw(path), qPrintable(QString::number(i)));
    }
    QVERIFY(!decodeRaw(filePathFromText(dir.filePath(QStringLiteral("absent.cr2")))));
}

void RawCodecTest::decodesDifferentFilesInParallel() {
    QTemporaryDir dir;
    std::vector<FilePath> paths;
    for (int i = 0; i < 4; ++i) {
        test::DngSpec spec;
        spec.picture = test::quadrantImage(128 + 32 * i, 128);
        spec.orientation = i % 2 ? 6 : 1;
        paths.push_back(filePathFromText(
            writeFile(dir, QStringLiteral("shot%1.dng").arg(i), test::makeDng(spec))));
    }
    std::vector<QSize> sizes(paths.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < paths.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round)
                if (const auto pixels = decodeRaw(paths[i]))
                    sizes[i] = pixels->image.size();
        });
    for (auto& t : threads)
        t.join();
    for (std::size_t i = 0; i < paths.size(); ++i)
        QCOMPARE(sizes[i], decodeRaw(paths[i])->image.size());
}

QTEST_GUILESS_MAIN(RawCodecTest)
#include "test_rawcodec.moc"
