// Writing a turned file: the tag-only copy changes the orientation and nothing else; the pixel
// path turns exactly and refuses whatever it could not write back whole.
#include "imaging/contenttype.h"
#include "imaging/imagewriter.h"
#include "imaging/orientationpatch.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <exiv2/exiv2.hpp>

using namespace kivo;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Orientation values as exiv2 reads them back from bytes: Exif IFD0 and XMP (0 when absent).
std::pair<long, long> orientations(const QByteArray& bytes) {
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           long(bytes.size()));
    image->readMetadata();
    const auto exif = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    const auto xmp = image->xmpData().findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    return {exif == image->exifData().end() ? 0 : exif->toLong(),
            xmp == image->xmpData().end() ? 0 : xmp->toLong()};
}

std::string exifValue(const QByteArray& bytes, const char* key) {
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           long(bytes.size()));
    image->readMetadata();
    const auto tag = image->exifData().findKey(Exiv2::ExifKey(key));
    return tag == image->exifData().end() ? std::string() : tag->toString();
}

// The orientation tag that shows an upright picture turned clockwise by `q` quarter turns.
std::uint16_t clockwise(int q) {
    static constexpr std::uint16_t tags[4] = {1, 6, 3, 8};
    return tags[q & 3];
}

QByteArray scanData(const QByteArray& jpeg) {
    const auto at = jpegScanOffset(jpeg);
    return at ? jpeg.mid(*at) : QByteArray();
}

QImage decodeStored(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

QImage gradient(int w, int h, QImage::Format format) {
    QImage image(w, h, QImage::Format_RGBA64);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y,
                                QColor::fromRgba64(quint16(x * 997), quint16(y * 577),
                                                   quint16((x + y) * 131),
                                                   quint16(65535 - x * 300)));
    return image.convertToFormat(format);
}

int byteDifferences(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        count += a[i] != b[i];
    return count;
}

// One icon file holding both single-size icons, as icon editors write them.
QByteArray twoSizeIcon(const QByteArray& first, const QByteArray& second) {
    const auto u32 = [](const QByteArray& b, int at) {
        return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
               quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
    };
    const auto le32 = [](quint32 v) {
        QByteArray out;
        for (int i = 0; i < 4; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
        return out;
    };
    const QByteArray data1 = first.mid(u32(first, 18));
    const QByteArray data2 = second.mid(u32(second, 18));
    QByteArray out = first.left(4) + QByteArray("\x02\x00", 2);
    out += first.mid(6, 12) + le32(6 + 32);
    out += second.mid(6, 12) + le32(quint32(6 + 32 + data1.size()));
    return out + data1 + data2;
}

// A little-endian TIFF of two 2 x 2 grey pages, without orientation tags, laid out by hand
// because Qt writes single pages only.
QByteArray twoPageTiff() {
    QByteArray out("II*\0", 4);
    const auto le = [&out](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char((value >> (8 * i)) & 0xFF));
    };
    le(8, 4);
    const quint32 ifdSize = 2 + 8 * 12 + 4;
    for (quint32 page = 0; page < 2; ++page) {
        const quint32 ifd = quint32(out.size());
        const quint32 data = ifd + ifdSize;
        le(8, 2);
        const quint32 entries[8][3] = {{256, 3, 2}, {257, 3, 2},    {258, 3, 8}, {259, 3, 1},
                                       {262, 3, 1}, {273, 4, data}, {278, 3, 2}, {279, 4, 4}};
        for (const auto& entry : entries) {
            le(entry[0], 2);
            le(entry[1], 2);
            le(1, 4);
            le(entry[2], entry[1] == 3 ? 2 : 4);
            if (entry[1] == 3)
                le(0, 2);
        }
        le(page == 0 ? data + 4 : 0, 4);
        out.append(page == 0 ? QByteArray("\x00\x40\x80\xff", 4)
                             : QByteArray("\xff\x80\x40\x00", 4));
    }
    return out;
}

} // namespace

class TestImageWriter : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString jpegFixture(const QString& name, const QList<QPair<QString, QString>>& tags) {
        const QString path = dir_.filePath(name);
        if (!test::writeImage(test::quadrantImage(64, 48), path, "jpeg"))
            return {};
        if (!tags.isEmpty() && !test::setExifTags(path, tags))
            return {};
        return path;
    }

private Q_SLOTS:
    void jpegTagIsOverwrittenInPlace() {
        const QByteArray before = fileBytes(jpegFixture(
            "tagged.jpg", {{"Exif.Image.Orientation", "1"}, {"Exif.Image.Make", "Kivo"}}));
        QCOMPARE(storedOrientation(before, ctype::Jpeg), std::int64_t(1));
        const auto after = copyWithOrientation(before, ctype::Jpeg, 6);
        QVERIFY(after);
        QCOMPARE(byteDifferences(before, *after), 1);
        QCOMPARE(orientations(*after), std::make_pair(6L, 0L));
    }

    void xmpOrientationFollowsExif() {
        const QByteArray before = fileBytes(jpegFixture(
            "both.jpg", {{"Exif.Image.Orientation", "3"}, {"Xmp.tiff.Orientation", "3"}}));
        const auto after = copyWithOrientation(before, ctype::Jpeg, 8);
        QVERIFY(after);
        QCOMPARE(byteDifferences(before, *after), 2);
        QCOMPARE(orientations(*after), std::make_pair(8L, 8L));
    }

    void missingTagIsAddedWithoutMovingOtherValues() {
        // A camera file with Exif but no orientation entry; its thumbnail offset must survive.
        const QByteArray before = fileBytes(jpegFixture(
            "untagged.jpg", {{"Exif.Image.Make", "Kivo"}, {"Exif.Photo.ISOSpeedRatings", "200"}}));
        QVERIFY(!storedOrientation(before, ctype::Jpeg));
        const auto after = copyWithOrientation(before, ctype::Jpeg, 6);
        QVERIFY(after);
        QCOMPARE(orientations(*after), std::make_pair(6L, 0L));
        QCOMPARE(exifValue(*after, "Exif.Image.Make"), std::string("Kivo"));
        QCOMPARE(exifValue(*after, "Exif.Photo.ISOSpeedRatings"), std::string("200"));
        QCOMPARE(scanData(*after), scanData(before));
        // The tag now exists, so the next turn patches it in place.
        const auto again = copyWithOrientation(*after, ctype::Jpeg, 3);
        QVERIFY(again);
        QCOMPARE(byteDifferences(*after, *again), 1);
    }

    void jpegWithoutExifGetsOne() {
        const QByteArray before = fileBytes(jpegFixture("plain.jpg", {}));
        const auto after = copyWithOrientation(before, ctype::Jpeg, 8);
        QVERIFY(after);
        QCOMPARE(orientations(*after).first, 8L);
        QCOMPARE(scanData(*after), scanData(before));
    }

    void tiffTagPatchedOrAdded() {
        const QString path = dir_.filePath("page.tif");
        QVERIFY(test::writeImage(gradient(40, 30, QImage::Format_RGB32), path, "tiff"));
        const QByteArray before = fileBytes(path);
        const auto added = copyWithOrientation(before, ctype::Tiff, 6);
        QVERIFY(added);
        QCOMPARE(orientations(*added).first, 6L);
        QCOMPARE(decodeStored(*added), decodeStored(before));
        const auto patched = copyWithOrientation(*added, ctype::Tiff, 3);
        QVERIFY(patched);
        QCOMPARE(byteDifferences(*added, *patched), 1);
        QCOMPARE(orientations(*patched).first, 3L);
    }

    void tiffPagesSurviveAnAddedTag() {
        const QByteArray before = twoPageTiff();
        const auto after = copyWithOrientation(before, ctype::Tiff, 8);
        QVERIFY(after);
        QCOMPARE(orientations(*after).first, 8L);
        QCOMPARE(after->left(4), before.left(4));
        QCOMPARE(after->mid(8, before.size() - 8), before.mid(8)); // old structure untouched
        QBuffer buffer;
        buffer.setData(*after);
        QImageReader reader(&buffer, "tiff");
        QCOMPARE(reader.imageCount(), 2);
    }

    void typesWithoutTagWriterAreRefused() {
        const QByteArray jpeg = fileBytes(jpegFixture("any.jpg", {}));
        QVERIFY(!copyWithOrientation(jpeg, ctype::Heic, 6));
        QVERIFY(!copyWithOrientation(jpeg, ctype::Arw, 6));
        QVERIFY(!copyWithOrientation(jpeg, ctype::Rw2, 6));
        QVERIFY(!copyWithOrientation(QByteArray("not an image"), ctype::Jpeg, 6));
    }

    void corpusJpegsTurnFullCircle() {
        const QStringList folders{test::corpusPath("orientation"),
                                  test::corpusPath("exif-samples/jpg")};
        static constexpr std::uint16_t clockwise[9] = {0, 6, 5, 8, 7, 4, 3, 2, 1};
        int files = 0;
        for (const QString& folder : folders) {
            for (const QString& name : QDir(folder).entryList({"*.jpg"}, QDir::Files)) {
                const QByteArray original = fileBytes(folder + '/' + name);
                const auto stored = storedOrientation(original, ctype::Jpeg);
                std::uint16_t tag = stored && *stored >= 1 && *stored <= 8 ? *stored : 1;
                QByteArray current = original;
                for (int turn = 1; turn <= 4; ++turn) {
                    tag = clockwise[tag];
                    const auto next = copyWithOrientation(current, ctype::Jpeg, tag);
                    QVERIFY2(next, qPrintable(name));
                    QCOMPARE(orientations(*next).first, long(tag));
                    QVERIFY2(scanData(*next) == scanData(original), qPrintable(name));
                    current = *next;
                }
                if (stored && *stored == tag)
                    QVERIFY2(current == original, qPrintable(name));
                ++files;
            }
        }
        QVERIFY(files >= 30);
    }

    void pngTurnsExactly() {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(QImageWriter(&buffer, "png").write(test::quadrantImage(300, 200)));
        const auto turned = encodeWithOrientationApplied(png, ctype::Png, clockwise(1));
        QVERIFY(turned);
        const QImage before = decodeStored(png);
        const QImage after = decodeStored(*turned);
        QCOMPARE(after.size(), QSize(200, 300));
        // The top row is the former left column read from the bottom up.
        for (int x = 0; x < 200; ++x)
            QCOMPARE(after.pixel(x, 0), before.pixel(0, 199 - x));
        for (int q = 1; q <= 3; ++q) {
            QImage turnedBack =
                decodeStored(*encodeWithOrientationApplied(png, ctype::Png, clockwise(q)));
            QCOMPARE(turnedBack, before.transformed(QTransform().rotate(90 * q)));
        }
    }

    void mirroredOrientationsAreLaidOutExactly() {
        // A 1-bit picture, so sub-byte pixels move too; each tag against Qt's own transform.
        QImage mono = test::quadrantImage(13, 7).convertToFormat(QImage::Format_Mono);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(QImageWriter(&buffer, "png").write(mono));
        const QImage stored = decodeStored(png);
        const QTransform shown[9] = {{},
                                     {},
                                     QTransform(-1, 0, 0, 1, 0, 0),
                                     QTransform().rotate(180),
                                     QTransform(1, 0, 0, -1, 0, 0),
                                     QTransform(0, 1, 1, 0, 0, 0),
                                     QTransform().rotate(90),
                                     QTransform(0, -1, -1, 0, 0, 0),
                                     QTransform().rotate(270)};
        for (std::uint16_t tag = 2; tag <= 8; ++tag) {
            const auto written = encodeWithOrientationApplied(png, ctype::Png, tag);
            if (!written) // Qt may not write 1-bit grey back as it was; then nothing is written
                continue;
            const QImage expected = stored.convertToFormat(QImage::Format_RGB32)
                                        .transformed(shown[tag])
                                        .convertToFormat(QImage::Format_RGB32);
            QCOMPARE(decodeStored(*written).convertToFormat(QImage::Format_RGB32), expected);
        }
    }

    void pngKeepsDepthProfileAndMetadata() {
        const QString path = dir_.filePath("deep.png");
        QImage deep = gradient(33, 17, QImage::Format_RGBA64);
        deep.setColorSpace(QColorSpace::DisplayP3);
        QVERIFY(test::writeImage(deep, path, "png"));
        QVERIFY(test::setExifTags(path, {{"Exif.Image.Orientation", "6"},
                                         {"Exif.Image.Make", "Kivo"},
                                         {"Xmp.dc.title", "deep"}}));
        const QByteArray before = fileBytes(path);
        const auto after = encodeWithOrientationApplied(before, ctype::Png, clockwise(3));
        QVERIFY(after);
        QCOMPARE(after->mid(24, 2), before.mid(24, 2)); // 16-bit RGBA
        const QImage image = decodeStored(*after);
        QCOMPARE(image.format(), QImage::Format_RGBA64);
        QCOMPARE(image.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        QCOMPARE(orientations(*after), std::make_pair(0L, 0L));
        QCOMPARE(exifValue(*after, "Exif.Image.Make"), std::string("Kivo"));
    }

    void webpBecomesLosslessKeepingAlphaProfileAndMetadata() {
        const QString path = dir_.filePath("lossy.webp");
        QImage picture = gradient(50, 20, QImage::Format_ARGB32);
        picture.setColorSpace(QColorSpace::DisplayP3);
        QVERIFY(test::writeImage(picture, path, "webp", 60));
        QVERIFY(test::setExifTags(path, {{"Exif.Image.Orientation", "6"},
                                         {"Exif.Image.Make", "Kivo"},
                                         {"Xmp.tiff.Orientation", "6"}}));
        const QByteArray lossy = fileBytes(path);
        const auto after = encodeWithOrientationApplied(lossy, ctype::WebP, clockwise(1));
        QVERIFY(after);
        QVERIFY(after->contains("VP8L"));
        const QImage before = decodeStored(lossy);
        const QImage turned = decodeStored(*after);
        QImage expected = before.transformed(QTransform().rotate(90));
        expected.setColorSpace(turned.colorSpace()); // pixels compared alone
        QCOMPARE(turned, expected);
        QCOMPARE(turned.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        QCOMPARE(orientations(*after), std::make_pair(0L, 0L));
        QCOMPARE(exifValue(*after, "Exif.Image.Make"), std::string("Kivo"));
    }

    void bmpKeepsBitsPerPixel() {
        QByteArray bmp;
        QBuffer buffer(&bmp);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(QImageWriter(&buffer, "bmp").write(gradient(21, 13, QImage::Format_RGB32)));
        const auto after = encodeWithOrientationApplied(bmp, ctype::Bmp, clockwise(2));
        QVERIFY(after);
        QCOMPARE(after->mid(28, 2), bmp.mid(28, 2));
        QCOMPARE(decodeStored(*after), decodeStored(bmp).transformed(QTransform().rotate(180)));
    }

    void whatCannotBeWrittenBackWholeIsRefused() {
        // Several frames, pages or sizes, a bit depth Qt would widen, or no writer at all.
        const QString grey = test::corpusPath("pngsuite/png/basn0g02.png"); // 2-bit grey
        QVERIFY(!encodeWithOrientationApplied(fileBytes(grey), ctype::Png, 6));
        QByteArray ico;
        {
            QBuffer buffer(&ico);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(QImageWriter(&buffer, "ico").write(gradient(16, 16, QImage::Format_ARGB32)));
        }
        QVERIFY(encodeWithOrientationApplied(ico, ctype::Ico, clockwise(1)));
        QByteArray small;
        {
            QBuffer buffer(&small);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(QImageWriter(&buffer, "ico").write(gradient(8, 8, QImage::Format_ARGB32)));
        }
        QVERIFY(!encodeWithOrientationApplied(twoSizeIcon(ico, small), ctype::Ico, 6));
        QVERIFY(!encodeWithOrientationApplied(ico, ctype::Gif, clockwise(1)));
        QVERIFY(!encodeWithOrientationApplied(ico, ctype::Psd, clockwise(1)));
        QVERIFY(!encodeWithOrientationApplied(QByteArray("garbage"), ctype::Png, 6));
        QVERIFY(!encodeWithOrientationApplied(ico, ctype::Ico, clockwise(0)));
    }
};

QTEST_MAIN(TestImageWriter)
#include "test_imagewriter.moc"
