// Writing a turned file: the tag-only copy changes the orientation and nothing else; the pixel
// path turns exactly and refuses whatever it could not write back whole.
#include "dngwriter.h"
#include "imaging/formats.h"
#include "imaging/imagewriter.h"
#include "imaging/orientationpatch.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <exiv2/exiv2.hpp>

using namespace kivo;

namespace {

using Tags = QList<QPair<QString, QString>>;
const QString kExif = QStringLiteral("Exif.Image.Orientation");
const QString kXmp = QStringLiteral("Xmp.tiff.Orientation");

// A tag's value as exiv2 reads it back from the bytes, empty when absent.
QString tag(const QByteArray& bytes, const QString& key) {
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           long(bytes.size()));
    image->readMetadata();
    if (key.startsWith("Xmp.")) {
        const auto it = image->xmpData().findKey(Exiv2::XmpKey(key.toStdString()));
        return it == image->xmpData().end() ? QString() : QString::fromStdString(it->toString());
    }
    const auto it = image->exifData().findKey(Exiv2::ExifKey(key.toStdString()));
    return it == image->exifData().end() ? QString() : QString::fromStdString(it->toString());
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

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return QImageWriter(&buffer, format).write(image) ? bytes : QByteArray();
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

// A TIFF of two 2 x 2 grey pages without orientation tags, by hand: Qt writes single pages.
QByteArray twoPageTiff() {
    using namespace test::tiff;
    QByteArray file("II*\0\0\0\0\0", 8);
    std::uint32_t next = 0; // the second page is written first, for the first to link to it
    for (const char* pixels : {"\xff\x80\x40\x00", "\x00\x40\x80\xff"}) {
        const auto data = std::uint32_t(file.size());
        file += QByteArray(pixels, 4);
        next = appendIfd(file,
                         {entry(256, 3, {2}), entry(257, 3, {2}), entry(258, 3, {8}),
                          entry(259, 3, {1}), entry(262, 3, {1}), entry(273, 4, {data}),
                          entry(278, 3, {2}), entry(279, 4, {4})},
                         next);
    }
    return withFirstIfd(file, next);
}

} // namespace

class TestImageWriter : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QByteArray taggedFile(const QImage& image, const char* format, const Tags& tags,
                          int quality = 90) {
        const QString path = dir_.filePath(QStringLiteral("file.") + format);
        if (!test::writeImage(image, path, format, quality) ||
            (!tags.isEmpty() && !test::setExifTags(path, tags)))
            return {};
        return test::readFile(path);
    }

private Q_SLOTS:
    void jpegGetsTheNewTagAndKeepsEverythingElse() {
        // Tags overwritten in place (Exif alone, or with XMP), an Exif block without the tag
        // (a camera file whose thumbnail offset must survive) and no Exif at all.
        const Tags cases[] = {{{kExif, "1"}, {"Exif.Image.Make", "Kivo"}},
                              {{kExif, "3"}, {kXmp, "3"}},
                              {{"Exif.Image.Make", "Kivo"}, {"Exif.Photo.ISOSpeedRatings", "200"}},
                              {}};
        for (const Tags& tags : cases) {
            const QByteArray before = taggedFile(test::quadrantImage(64, 48), "jpeg", tags);
            const bool hasXmp = tags.contains({kXmp, "3"});
            const auto after = copyWithOrientation(before, formatInfo(ImageFormat::jpeg), 8);
            QVERIFY(after);
            QCOMPARE(tag(*after, kExif), QString("8"));
            QCOMPARE(tag(*after, kXmp), QString(hasXmp ? "8" : ""));
            for (const auto& [key, value] : tags)
                if (key != kExif && key != kXmp)
                    QCOMPARE(tag(*after, key), value);
            QCOMPARE(scanData(*after), scanData(before));
            // Once the tag is there it is patched in place: one byte per copy of it.
            if (storedOrientation(before, formatInfo(ImageFormat::jpeg)))
                QCOMPARE(byteDifferences(before, *after), hasXmp ? 2 : 1);
            const auto again = copyWithOrientation(*after, formatInfo(ImageFormat::jpeg), 6);
            QVERIFY(again);
            QCOMPARE(byteDifferences(*after, *again), hasXmp ? 2 : 1);
        }
    }

    // The tag is added to a TIFF without one, leaving the old structure where it was and a second
    // page in place, then patched in place.
    void tiffTagIsAddedThenPatched() {
        const QByteArray pages = twoPageTiff();
        const auto added = copyWithOrientation(pages, formatInfo(ImageFormat::tiff), 6);
        QVERIFY(added);
        QCOMPARE(tag(*added, kExif), QString("6"));
        QCOMPARE(added->left(4) + added->mid(8, pages.size() - 8), pages.left(4) + pages.mid(8));
        QBuffer buffer;
        buffer.setData(*added);
        QCOMPARE(QImageReader(&buffer, "tiff").imageCount(), 2);
        const auto patched = copyWithOrientation(*added, formatInfo(ImageFormat::tiff), 3);
        QVERIFY(patched);
        QCOMPARE(byteDifferences(*added, *patched), 1);
        QCOMPARE(tag(*patched, kExif), QString("3"));
    }

    // Every tag value in turn and back to the stored one: the scan data never changes, and the
    // file ends byte for byte as it began.
    void corpusJpegsGoThroughEveryTagAndBack() {
        int files = 0;
        KIVO_REQUIRE_CORPUS("orientation");
        KIVO_REQUIRE_CORPUS("exif-samples/jpg");
        for (const QString& folder :
             {test::corpusPath("orientation"), test::corpusPath("exif-samples/jpg")}) {
            for (const QString& name : QDir(folder).entryList({"*.jpg"}, QDir::Files)) {
                const QByteArray original = test::readFile(folder + '/' + name);
                const auto stored = storedOrientation(original, formatInfo(ImageFormat::jpeg));
                const std::uint16_t start = stored && *stored >= 1 && *stored <= 8 ? *stored : 1;
                QByteArray current = original;
                for (int step = 1; step <= 8; ++step) {
                    const auto turned = std::uint16_t((start + step - 1) % 8 + 1);
                    const auto next =
                        copyWithOrientation(current, formatInfo(ImageFormat::jpeg), turned);
                    QVERIFY2(next, qPrintable(name));
                    QCOMPARE(tag(*next, kExif), QString::number(turned));
                    QVERIFY2(scanData(*next) == scanData(original), qPrintable(name));
                    current = *next;
                }
                if (stored && *stored == start)
                    QVERIFY2(current == original, qPrintable(name));
                ++files;
            }
        }
        QVERIFY(files >= 30);
    }

    void pixelsAreLaidOutAsTheTagShowsThem() {
        // Each tag against Qt's own transforms, also on a 1-bit picture whose sub-byte pixels
        // must move too.
        for (const QImage& picture :
             {test::quadrantImage(300, 200),
              test::quadrantImage(13, 7).convertToFormat(QImage::Format_Mono)}) {
            const QByteArray png = encoded(picture, "png");
            const QImage stored = decodeStored(png).convertToFormat(QImage::Format_RGB32);
            for (std::uint16_t orientation = 2; orientation <= 8; ++orientation) {
                const auto written =
                    encodeWithOrientationApplied(png, formatInfo(ImageFormat::png), orientation);
                if (!written && picture.depth() == 1) // Qt may not write 1-bit back as it was
                    continue;
                QVERIFY(written);
                const QImage turned = decodeStored(*written).convertToFormat(QImage::Format_RGB32);
                QCOMPARE(turned, stored.transformed(test::shownForOrientation(orientation))
                                     .convertToFormat(QImage::Format_RGB32));
            }
        }
    }

    void turnedFileKeepsWhatItHeld() {
        // Depth, alpha, colour profile and metadata stay; only the orientation tags go, and a
        // lossy WebP is written losslessly.
        QImage deep = gradient(33, 17, QImage::Format_RGBA64);
        QImage clear = gradient(50, 20, QImage::Format_ARGB32);
        deep.setColorSpace(QColorSpace::DisplayP3);
        clear.setColorSpace(QColorSpace::DisplayP3);
        const struct {
            const char* format;
            ImageFormat type;
            QImage image;
            int quality, headerAt; // where the file's own depth is written, or 0
            QByteArray marker;
        } cases[] = {
            {"png", ImageFormat::png, deep, 90, 24, "IHDR"},
            {"webp", ImageFormat::webp, clear, 60, 0, "VP8L"},
            {"bmp", ImageFormat::bmp, gradient(21, 13, QImage::Format_RGB32), 90, 28, "BM"}};
        for (const auto& c : cases) {
            const Tags tags{{kExif, "6"}, {kXmp, "6"}, {"Exif.Image.Make", "Kivo"}};
            const bool hasTags = c.type != ImageFormat::bmp;
            const QByteArray before =
                taggedFile(c.image, c.format, hasTags ? tags : Tags(), c.quality);
            const auto after = encodeWithOrientationApplied(before, formatInfo(c.type), 6);
            QVERIFY2(after && after->contains(c.marker), c.format);
            QCOMPARE(after->mid(c.headerAt, 2), before.mid(c.headerAt, 2));
            const QImage turned = decodeStored(*after);
            QImage expected = decodeStored(before).transformed(QTransform().rotate(90));
            QCOMPARE(turned.format(), expected.format());
            QCOMPARE(turned.colorSpace(), c.image.colorSpace());
            expected.setColorSpace(turned.colorSpace()); // pixels compared alone
            QCOMPARE(turned, expected);
            QCOMPARE(tag(*after, kExif) + tag(*after, kXmp), QString());
            QCOMPARE(tag(*after, "Exif.Image.Make"), QString(hasTags ? "Kivo" : ""));
            if (!hasTags)
                continue;
            // Turned back upright (the stored tag plus the turn gives 1): written as stored, the
            // tag gone. Refusing it left the turn on screen only, lost at the next step.
            const auto upright = encodeWithOrientationApplied(before, formatInfo(c.type), 1);
            QVERIFY2(upright && decodeStored(*upright) == decodeStored(before), c.format);
            QCOMPARE(tag(*upright, kExif) + tag(*upright, "Exif.Image.Make"), QString("Kivo"));
        }
    }

    void whatCannotBeWrittenWholeIsRefused() {
        // No tag writer for the type; several sizes, a bit depth Qt would widen, no writer at
        // all, or nothing to turn.
        for (const ImageFormat type : {ImageFormat::heic, ImageFormat::arw, ImageFormat::rw2})
            QVERIFY(!copyWithOrientation(taggedFile(test::quadrantImage(8, 8), "jpeg", {}),
                                         formatInfo(type), 6));
        const QByteArray ico = encoded(gradient(16, 16, QImage::Format_ARGB32), "ico");
        QVERIFY(encodeWithOrientationApplied(ico, formatInfo(ImageFormat::ico), 6));
        QVERIFY(!encodeWithOrientationApplied(ico, formatInfo(ImageFormat::gif), 6));
        QVERIFY(!encodeWithOrientationApplied(ico, formatInfo(ImageFormat::psd), 6));
        const QByteArray grey = test::readFile(test::testDataPath("pngsuite/png/basn0g02.png"));
        QVERIFY(!encodeWithOrientationApplied(grey, formatInfo(ImageFormat::png), 6)); // 2-bit
        // An icon editor's file of two sizes, as ImageMagick writes it.
        const QString convert = QStandardPaths::findExecutable("convert");
        if (convert.isEmpty())
            QSKIP("ImageMagick is not installed (scripts/setup installs it)");
        const QString icons = dir_.filePath("two.ico");
        QCOMPARE(QProcess::execute(convert, {"-size", "16x16", "xc:red", "(", "+clone", "-resize",
                                             "8x8", ")", icons}),
                 0);
        QVERIFY(
            !encodeWithOrientationApplied(test::readFile(icons), formatInfo(ImageFormat::ico), 6));
    }
};

QTEST_MAIN(TestImageWriter)
#include "test_imagewriter.moc"
