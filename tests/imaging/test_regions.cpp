// SPDX-License-Identifier: GPL-3.0-or-later
// Rectangles read by region from files the real encoders made, against a full decode of the same
// file cropped and scaled; forged and truncated files; and a picture too large to decode whole
// opening as a tiled level.
#include "imaging/codecs/regionbase.h"
#include "imaging/decode.h"
#include "imaging/pixels/pixelbuffer.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <jpeglib.h>

using namespace kivo;

namespace {

// A smooth picture with detail at every scale.
QImage photoLike(int width, int height, bool alpha = false) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgba((x * 255) / width, (y * 255) / height, ((x / 24 + y / 24) % 2) * 200,
                            alpha && x < width / 4 ? 128 : 255);
    }
    return image;
}

// Through libjpeg itself, since Qt's writer cannot set a restart interval.
bool writeJpeg(const QImage& picture, const QString& path, int restartRows) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(picture.width());
    info.image_height = JDIMENSION(picture.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 92, TRUE);
    info.restart_in_rows = restartRows;
    jpeg_start_compress(&info, TRUE);
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(rgb.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

// The mean difference over every channel, alpha included (premultiplied, as shown).
double meanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    qint64 sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    return double(sum) / (4.0 * x.width() * x.height());
}

} // namespace

class TestRegions : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    // Each file is read at levels 0 to 2 (and one past what the file serves cheaply), a corner,
    // an inner rectangle off the block grid and the bottom right edge in one call, and each
    // result compared with the full decode cropped and scaled smoothly. DCT scaling and box
    // filters differ from Qt's smooth scaling by a few levels on average.
    void rectanglesMatchTheFullDecode_data() {
        QTest::addColumn<QString>("file");
        const QImage photo = photoLike(600, 400);
        QVERIFY(writeJpeg(photo, path("plain.jpg"), 0));
        QTest::newRow("JPEG") << path("plain.jpg");
        QVERIFY(writeJpeg(photo, path("restart.jpg"), 1));
        QTest::newRow("JPEG with restart markers") << path("restart.jpg");
        QVERIFY(writeJpeg(photo, path("turned.jpg"), 2));
        QVERIFY(test::setExifTags(path("turned.jpg"), {{"Exif.Image.Orientation", "6"}}));
        QTest::newRow("JPEG turned by EXIF") << path("turned.jpg");
        QVERIFY(writeJpeg(photo, path("mirrored.jpg"), 0));
        QVERIFY(test::setExifTags(path("mirrored.jpg"), {{"Exif.Image.Orientation", "7"}}));
        QTest::newRow("JPEG transverse") << path("mirrored.jpg");
    }

    void rectanglesMatchTheFullDecode() {
        QFETCH(QString, file);
        const auto full = decodeImage(filePathFromText(file));
        QVERIFY(full);
        const QImage whole = (*full)->bitmap();
        auto opened = openRegionReaderAnySize(filePathFromText(file), {}, true);
        QVERIFY(opened);
        const RegionReaderPtr reader = *opened;
        QVERIFY(reader);
        QCOMPARE(reader->size(), whole.size());
        const int w = whole.width(), h = whole.height();
        for (int level : {0, 1, 2, reader->coarsestCheapLevel() + 1}) {
            // Off the level's grid a rectangle starts at the grid pixel before it: compared at
            // full resolution only.
            const QRect inner = level == 0 ? QRect(83, 45, 150, 101) : QRect(80, 48, 160, 96);
            const std::vector<QRect> rects{{0, 0, 128, 96}, inner, {w - 80, h - 48, 80, 48}};
            const auto tiles = reader->read(rects, level);
            QCOMPARE(tiles.size(), rects.size());
            for (size_t i = 0; i < rects.size(); ++i) {
                const QString where = QStringLiteral("level %1 rect %2").arg(level).arg(i);
                QVERIFY2(tiles[i], qPrintable(where));
                const QImage tile = *tiles[i];
                QCOMPARE(tile.size(), levelSize(rects[i].size(), level));
                const QImage expected = whole.copy(rects[i]).scaled(
                    tile.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                const double difference = meanDifference(tile, expected);
                QVERIFY2(difference <= (level == 0 ? 0.5 : 7.0),
                         qPrintable(where + QStringLiteral(": %1").arg(difference)));
            }
        }
        // Outside the picture is a failure of that rectangle alone.
        const auto mixed = reader->read({{w - 10, 0, 20, 20}, {0, 0, 16, 16}}, 0);
        QVERIFY(!mixed[0]);
        QVERIFY(mixed[1]);
    }

    // A file cut short fails the rectangles past its end, quietly and at once, and still serves
    // those before it.
    void truncatedFileFailsTheRectanglesPastItsEnd() {
        QVERIFY(writeJpeg(photoLike(600, 400), path("cut.jpg"), 0));
        QByteArray bytes = test::readFile(path("cut.jpg"));
        bytes.truncate(bytes.size() / 2);
        QVERIFY(test::writeFile(path("cut.jpg"), bytes));
        auto reader = openRegionReaderAnySize(filePathFromText(path("cut.jpg")), {}, true);
        QVERIFY(reader && *reader);
        const auto tiles = (*reader)->read({{0, 0, 64, 64}, {0, 336, 64, 64}}, 0);
        QVERIFY(tiles[0]);
        QVERIFY(!tiles[1]);
    }

    // Over the tile threshold, a screen-sized level comes with its reader even when the whole
    // picture would not fit the decode budget, which a full decode still enforces.
    void hugePictureOpensTiled() {
        const QImage photo = photoLike(8400, 8000);
        QVERIFY(writeJpeg(photo, path("huge.jpg"), 0));
        setDecodeBudgetBytes(64 * 1024 * 1024);
        const auto level = decodeLevel(filePathFromText(path("huge.jpg")), QSize(1000, 800), false);
        const auto whole = decodeImage(filePathFromText(path("huge.jpg")));
        setDecodeBudgetBytes(0);
        QVERIFY(level);
        QVERIFY((*level)->isTiled());
        QCOMPARE((*level)->size(), QSize(8400, 8000));
        QCOMPARE((*level)->bitmap().size(), QSize(1050, 1000)); // 1/8 still fills 1000x800
        QVERIFY(!whole);
        QCOMPARE(whole.reason(), FailureReason::tooLarge);
    }
};

QTEST_GUILESS_MAIN(TestRegions)
#include "test_regions.moc"
