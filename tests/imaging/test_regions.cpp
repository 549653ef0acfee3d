// SPDX-License-Identifier: GPL-3.0-or-later
// Rectangles read by region from files the real encoders made, against a full decode of the same
// file cropped and scaled; forged and truncated files; and a picture too large to decode whole
// opening as a tiled level.
#include "imaging/codecs/regionbase.h"
#include "imaging/decode.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/rowwriters.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <tiffio.h>
#include <zlib.h>

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
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    return test::writeJpegRows(
        path, rgb.size(), [&rgb](int y) { return rgb.constScanLine(y); }, 92, restartRows);
}

enum class TiffLayout { striped, tiled, pyramid };

// Through libtiff: 8-bit RGB or RGBA, in strips or 64-pixel tiles, and for a pyramid the
// reduced pages after the first, each half the one before, as tiled pyramid writers lay them.
bool writeTiff(const QImage& picture, const QString& path, TiffLayout layout) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    const bool alpha = picture.hasAlphaChannel();
    const int pages = layout == TiffLayout::pyramid ? 3 : 1;
    bool written = true;
    for (int page = 0; page < pages; ++page) {
        const QImage pixels =
            picture
                .scaled(picture.size() / (1 << page), Qt::IgnoreAspectRatio,
                        Qt::SmoothTransformation)
                .convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, page > 0 ? FILETYPE_REDUCEDIMAGE : 0);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(pixels.width()));
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(pixels.height()));
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, alpha ? 4 : 3);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        if (alpha) {
            quint16 extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        const int channels = alpha ? 4 : 3;
        if (layout == TiffLayout::striped) {
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
            for (int y = 0; y < pixels.height() && written; ++y)
                written = TIFFWriteScanline(tiff, const_cast<uchar*>(pixels.constScanLine(y)),
                                            quint32(y)) >= 0;
        } else {
            constexpr int kTile = 64;
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTile);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTile);
            std::vector<uchar> tile(kTile * kTile * channels);
            for (int ty = 0; ty < pixels.height(); ty += kTile)
                for (int tx = 0; tx < pixels.width(); tx += kTile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (int y = ty; y < std::min(ty + kTile, pixels.height()); ++y)
                        std::memcpy(&tile[size_t((y - ty) * kTile * channels)],
                                    pixels.constScanLine(y) + tx * channels,
                                    size_t(std::min(kTile, pixels.width() - tx) * channels));
                    written = written &&
                              TIFFWriteTile(tiff, tile.data(), quint32(tx), quint32(ty), 0, 0) >= 0;
                }
        }
        written = written && TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return written;
}

// A PNG whose header declares `width` x `height` and whose data is a few bytes.
QByteArray forgedPng(quint32 width, quint32 height) {
    const auto chunk = [](const char* type, const QByteArray& data) {
        QByteArray body = QByteArray(type, 4) + data;
        QByteArray out;
        const auto be32 = [&out](quint32 v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                out.append(char((v >> shift) & 0xff));
        };
        be32(quint32(data.size()));
        out += body;
        be32(
            quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
        return out;
    };
    QByteArray ihdr;
    for (quint32 v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.append(char((v >> shift) & 0xff));
    ihdr.append("\x08\x06\x00\x00\x00", 5); // 8-bit RGBA, not interlaced
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + chunk("IEND", {});
}

// A striped TIFF whose one strip is declared to hold `width` x `height` pixels.
bool writeForgedTiff(const QString& path, quint32 width, quint32 height) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
    char data[16] = {};
    TIFFWriteRawStrip(tiff, 0, data, sizeof data);
    const bool written = TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    return written;
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

    // Each file is read at levels 0 to 4 (past a JPEG's DCT scaling, between and at the levels a
    // PNG keeps, beyond a TIFF pyramid's pages), a corner,
    // an inner rectangle off the block grid and the bottom right edge in one call, and each
    // result compared with the full decode cropped and scaled smoothly. DCT scaling and box
    // filters differ from Qt's smooth scaling by a few levels on average.
    // Sides that are multiples of 16 keep the rectangles on every level's grid however the
    // picture is turned.
    void rectanglesMatchTheFullDecode_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("cheapest"); // the coarsest level the file serves cheaply
        const QImage photo = photoLike(640, 384);
        QVERIFY(writeJpeg(photo, path("plain.jpg"), 0));
        QTest::newRow("JPEG") << path("plain.jpg") << 3;
        QVERIFY(writeJpeg(photo, path("restart.jpg"), 1));
        QTest::newRow("JPEG with restart markers") << path("restart.jpg") << 3;
        QVERIFY(writeJpeg(photo, path("turned.jpg"), 2));
        QVERIFY(test::setExifTags(path("turned.jpg"), {{"Exif.Image.Orientation", "6"}}));
        QTest::newRow("JPEG turned by EXIF") << path("turned.jpg") << 3;
        QVERIFY(writeJpeg(photo, path("mirrored.jpg"), 0));
        QVERIFY(test::setExifTags(path("mirrored.jpg"), {{"Exif.Image.Orientation", "7"}}));
        QTest::newRow("JPEG transverse") << path("mirrored.jpg") << 3;
        QVERIFY(test::writeImage(photo.convertToFormat(QImage::Format_Grayscale8), path("grey.jpg"),
                                 "jpeg", 92));
        QTest::newRow("JPEG grey") << path("grey.jpg") << 3;
        const struct {
            const char* name;
            TiffLayout layout;
            bool alpha;
        } tiffs[] = {{"striped", TiffLayout::striped, true},
                     {"tiled", TiffLayout::tiled, false},
                     {"pyramid", TiffLayout::pyramid, false}};
        QVERIFY(test::writeImage(photo, path("rgb.png"), "png"));
        QTest::newRow("PNG 8-bit RGB") << path("rgb.png") << 4;
        QVERIFY(test::writeImage(photoLike(640, 384, true), path("rgba.png"), "png"));
        QTest::newRow("PNG 8-bit RGBA") << path("rgba.png") << 4;
        QVERIFY(test::writeImage(photoLike(640, 384).convertToFormat(QImage::Format_RGBA64),
                                 path("deep.png"), "png"));
        QVERIFY(test::setExifTags(path("deep.png"), {{"Exif.Image.Orientation", "3"}}));
        QTest::newRow("PNG 16-bit turned") << path("deep.png") << 4;
        for (const auto& tiff : tiffs) {
            const QString file = path(QStringLiteral("%1.tif").arg(tiff.name));
            QVERIFY(writeTiff(photoLike(640, 384, tiff.alpha), file, tiff.layout));
            QTest::newRow(qPrintable(QStringLiteral("TIFF %1").arg(tiff.name)))
                << file << (tiff.layout == TiffLayout::pyramid ? 2 : 0);
        }
    }

    void rectanglesMatchTheFullDecode() {
        QFETCH(QString, file);
        QFETCH(int, cheapest);
        const auto full = decodeImage(filePathFromText(file));
        QVERIFY(full);
        const QImage whole = (*full)->bitmap();
        auto opened = openRegionReaderAnySize(filePathFromText(file), {}, true);
        QVERIFY(opened);
        const RegionReaderPtr reader = *opened;
        QVERIFY(reader);
        QCOMPARE(reader->size(), whole.size());
        QCOMPARE(reader->coarsestCheapLevel(), cheapest);
        const int w = whole.width(), h = whole.height();
        for (int level : {0, 1, 2, 3, 4}) {
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
            // Read alone, a rectangle low in the picture starts mid-file where the format
            // allows (a JPEG's restart interval above it): the same pixels as read with the
            // rectangles above it, from the top.
            const auto alone = reader->read({rects[2]}, level);
            QVERIFY(alone[0]);
            QCOMPARE(*alone[0], *tiles[2]);
        }
        // Outside the picture is a failure of that rectangle alone.
        const auto mixed = reader->read({{w - 10, 0, 20, 20}, {0, 0, 16, 16}}, 0);
        QVERIFY(!mixed[0]);
        QVERIFY(mixed[1]);
    }

    // A file cut short fails the rectangles past its end, quietly and at once, and still serves
    // those before it; a PNG, streamed whole on opening, has no reader at all.
    void truncatedFileFailsTheRectanglesPastItsEnd_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("opens");
        const QImage photo = photoLike(640, 384);
        QVERIFY(writeJpeg(photo, path("cut.jpg"), 0));
        QTest::newRow("JPEG") << path("cut.jpg") << true;
        QVERIFY(writeJpeg(photo, path("cut-restart.jpg"), 1));
        QTest::newRow("JPEG with restart markers") << path("cut-restart.jpg") << true;
        QVERIFY(writeTiff(photo, path("cut.tif"), TiffLayout::tiled));
        QTest::newRow("TIFF tiled") << path("cut.tif") << true;
        QVERIFY(test::writeImage(photo, path("cut.png"), "png"));
        QTest::newRow("PNG") << path("cut.png") << false;
    }

    void truncatedFileFailsTheRectanglesPastItsEnd() {
        QFETCH(QString, file);
        QFETCH(bool, opens);
        QByteArray bytes = test::readFile(file);
        // TIFF writers put the directory last: keep it (and the tile offsets before it), and
        // blank the tiles' data from a third of the file on.
        if (file.endsWith(".tif"))
            bytes.replace(bytes.size() / 3, bytes.size() - 2048 - bytes.size() / 3,
                          QByteArray(bytes.size() - 2048 - bytes.size() / 3, '\0'));
        else
            bytes.truncate(bytes.size() / 2);
        QVERIFY(test::writeFile(file, bytes));
        auto reader = openRegionReaderAnySize(filePathFromText(file), {}, true);
        if (!opens) {
            QVERIFY(!reader);
            return;
        }
        QVERIFY(reader && *reader);
        const auto tiles = (*reader)->read({{0, 0, 64, 64}, {0, 320, 64, 64}}, 0);
        QVERIFY(tiles[0]);
        QVERIFY(!tiles[1]);
    }

    // A header declaring a side over 2^31-1 or over 64 gigapixels, or far more pixels than its
    // data can hold, is refused before anything is allocated, by the region opener and by the
    // screen-sized level alike.
    void absurdDeclaredSizesAreRefused_data() {
        QTest::addColumn<QString>("file");
        QVERIFY(test::writeFile(path("wide.png"), forgedPng(0x80000000u, 16)));
        QTest::newRow("PNG 2^31 wide") << path("wide.png");
        QVERIFY(test::writeFile(path("giga.png"), forgedPng(400000, 250000)));
        QTest::newRow("PNG 100 gigapixels") << path("giga.png");
        QVERIFY(writeForgedTiff(path("wide.tif"), 0x80000000u, 16));
        QTest::newRow("TIFF 2^31 wide") << path("wide.tif");
        QVERIFY(writeForgedTiff(path("giga.tif"), 400000, 250000));
        QTest::newRow("TIFF 100 gigapixels") << path("giga.tif");
        // JPEG sides stop at 65535: the most it can declare, over a few kilobytes of data.
        QVERIFY(writeJpeg(photoLike(64, 64), path("forged.jpg"), 0));
        QByteArray jpeg = test::readFile(path("forged.jpg"));
        const qsizetype frame = jpeg.indexOf("\xff\xc0");
        QVERIFY(frame > 0);
        jpeg.replace(frame + 5, 4, QByteArray("\xff\xdc\xff\xdc", 4));
        QVERIFY(test::writeFile(path("forged.jpg"), jpeg));
        QTest::newRow("JPEG 65500 square") << path("forged.jpg");
    }

    void absurdDeclaredSizesAreRefused() {
        QFETCH(QString, file);
        const FilePath forged = filePathFromText(file);
        const auto opened = openRegionReader(forged);
        QVERIFY(!opened || !*opened);
        QVERIFY(!decodeLevel(forged, QSize(1000, 800), false));
        QVERIFY(!decodeImage(forged));
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
