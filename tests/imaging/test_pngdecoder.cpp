// SPDX-License-Identifier: GPL-3.0-or-later
// PNG through libspng against the pictures Qt's reader gave before: every PngSuite file pixel
// for pixel, levels scaled while the rows arrive, and files that are cut short or too large.
#include "imaging/codecs/qtdecoder.h"
#include "imaging/decode.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/tasks/cancellation.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;

namespace {

// The path every PNG took before: Qt's reader, the same orientation and colour conversion.
QImage throughQt(const QString& path) {
    auto pixels = decodeWithQt(filePathFromText(path), formatInfo(ImageFormat::png), true);
    return pixels ? toDisplaySrgb(pixels->image, pixels->iccProfile) : QImage();
}

QImage decoded(const QString& path, QSize box = {}) {
    auto image = decodeLevel(filePathFromText(path), box, box.isValid());
    return image ? (*image)->bitmap() : QImage();
}

// The largest difference of any channel, alpha included (premultiplied, as shown).
int largestDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return worst;
}

// A smooth picture with detail at every scale, translucent at one edge.
QImage photoLike(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgba((x * 255) / width, (y * 255) / height,
                                 ((x / 40 + y / 40) % 2) * 200, x < width / 8 ? 128 : 255));
    return image;
}

} // namespace

class TestPngDecoder : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private Q_SLOTS:
    // Every PngSuite file that is not broken on purpose: bit depths 1 to 16, grey, palette,
    // tRNS, alpha, Adam7, gAMA and cHRM, eXIf. One step of rounding is allowed where the
    // 16-to-8-bit reduction happens before rather than after premultiplying. Qt's reader leaves
    // the transparent colour of a 16-bit RGB picture opaque; libspng applies it, as the format
    // says, so those two files are checked for that alone.
    void pngSuiteMatchesQtsReader_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("trns16");
        const QDir suite(test::testDataPath("pngsuite/png"));
        for (const QString& name : suite.entryList({"*.png"}, QDir::Files))
            if (!name.startsWith('x'))
                QTest::newRow(qPrintable(name))
                    << suite.filePath(name) << (name.startsWith("tb") && name.endsWith("2c16.png"));
        // An iCCP profile Qt reads, at 8 and 16 bits, as Qt's writer embeds it.
        for (const auto format : {QImage::Format_RGB32, QImage::Format_RGBA64}) {
            QImage picture = photoLike(64, 48).convertToFormat(format);
            picture.setColorSpace(QColorSpace::DisplayP3);
            const QString path = dir_.filePath(QStringLiteral("p3-%1.png").arg(int(format)));
            QVERIFY(test::writeImage(picture, path, "png"));
            QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path << false;
        }
    }

    void pngSuiteMatchesQtsReader() {
        QFETCH(QString, path);
        QFETCH(bool, trns16);
        const QImage expected = throughQt(path);
        const QImage actual = decoded(path);
        QVERIFY(!expected.isNull());
        QCOMPARE(actual.size(), expected.size());
        QCOMPARE(actual.hasAlphaChannel(), expected.hasAlphaChannel());
        if (trns16) // the white of the top left corner is the transparent colour
            QCOMPARE(actual.pixel(0, 0), 0u);
        else
            QCOMPARE_LE(largestDifference(actual, expected), 1);
    }

    // A neighbour's level is scaled while the rows arrive: the size the view shows, the full
    // size kept, and the same picture as the full decode scaled down smoothly.
    void levelIsScaledAsRowsArrive_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("fullSize");
        QTest::addColumn<QSize>("level");
        const QString large = dir_.filePath("large.png");
        QVERIFY(test::writeImage(photoLike(1200, 800), large, "png"));
        const QString turned = dir_.filePath("turned.png");
        QVERIFY(test::writeImage(photoLike(1200, 800), turned, "png"));
        QVERIFY(test::setExifTags(turned, {{"Exif.Image.Orientation", "6"}}));
        const auto suite = [](const char* name) {
            return test::testDataPath(QStringLiteral("pngsuite/png/%1.png").arg(name));
        };
        QTest::newRow("8-bit with alpha")
            << large << QSize(300, 300) << QSize(1200, 800) << QSize(300, 200);
        QTest::newRow("turned by eXIf")
            << turned << QSize(300, 300) << QSize(800, 1200) << QSize(200, 300);
        QTest::newRow("16-bit with gAMA")
            << suite("basn6a16") << QSize(10, 10) << QSize(32, 32) << QSize(10, 10);
        QTest::newRow("Adam7 palette")
            << suite("basi3p08") << QSize(16, 8) << QSize(32, 32) << QSize(8, 8);
    }

    void levelIsScaledAsRowsArrive() {
        QFETCH(QString, path);
        QFETCH(QSize, box);
        QFETCH(QSize, fullSize);
        QFETCH(QSize, level);
        const auto image = decodeLevel(filePathFromText(path), box, true);
        QVERIFY(image);
        QCOMPARE((*image)->bitmap().size(), level);
        QCOMPARE((*image)->size(), fullSize);
        const QImage reference =
            decoded(path).scaled(level, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // Box filter against Qt's smooth scaling: alike, not identical, at sharp edges.
        QCOMPARE_LE(largestDifference((*image)->bitmap(), reference), 48);
    }

    // What Qt's reader refused stays refused, quietly and without a partial picture: image
    // data cut short, a file ending before IEND, one over the decode budget (refused by its
    // header before anything is allocated), and a decode that is no longer wanted.
    void brokenOrUnwantedFilesAreRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("budget");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<int>("reason");
        const QString source = dir_.filePath("source.png");
        QVERIFY(test::writeImage(photoLike(400, 300), source, "png"));
        const QByteArray png = test::readFile(source);
        const QByteArray adam7 = test::readFile(test::testDataPath("pngsuite/png/basi2c16.png"));
        const int damaged = int(FailureReason::damaged);
        QTest::newRow("cut in the image data")
            << png.first(png.size() / 2) << 0 << false << damaged;
        QTest::newRow("Adam7 cut in a pass")
            << adam7.first(adam7.size() * 2 / 3) << 0 << false << damaged;
        QTest::newRow("cut before IEND") << png.first(png.size() - 10) << 0 << false << damaged;
        QTest::newRow("over the budget")
            << png << 400 * 300 * 2 << false << int(FailureReason::tooLarge);
        QTest::newRow("cancelled") << png << 0 << true << int(FailureReason::unreadable);
    }

    void brokenOrUnwantedFilesAreRefused() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, budget);
        QFETCH(bool, cancelled);
        QFETCH(int, reason);
        const QString path = dir_.filePath("broken.png");
        QVERIFY(test::writeFile(path, bytes));
        setDecodeBudgetBytes(budget);
        const std::atomic_bool flag = cancelled;
        const CancelScope scope(flag);
        const auto image = decodeImage(filePathFromText(path));
        setDecodeBudgetBytes(0);
        QVERIFY(!image);
        QCOMPARE(int(image.reason()), reason);
        if (!cancelled && budget == 0)
            QVERIFY(throughQt(path).isNull()); // as before
    }
};

QTEST_GUILESS_MAIN(TestPngDecoder)
#include "test_pngdecoder.moc"
