// SPDX-License-Identifier: GPL-3.0-or-later
// The display decode as its callers rely on it: failures are values that say why, hostile headers
// and files that are not regular files are refused before reading, pixel buffers are never
// shared. (Each format's files, read at once from several threads and cut short, are in the format
// runner, test_formats.)
#include "imaging/bytes/contenttype.h"
#include "imaging/decode.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/source.h"
#include "imaging/write/imagewriter.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <exiv2/exiv2.hpp>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kivo;

namespace {

quint32 crc32(const QByteArray& data) {
    quint32 crc = 0xFFFFFFFFu;
    for (char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A real PNG or baseline JPEG whose header is rewritten to declare another size; the PNG header
// gets its CRC fixed so that only the size is wrong.
QByteArray declaring(QByteArray file, quint32 width, quint32 height) {
    if (file.startsWith("\x89PNG")) {
        qToBigEndian(width, file.data() + 16);
        qToBigEndian(height, file.data() + 20);
        qToBigEndian(crc32(file.mid(12, 17)), file.data() + 29);
    } else {
        const qsizetype sof = file.indexOf("\xFF\xC0");
        qToBigEndian(quint16(height), file.data() + sof + 5);
        qToBigEndian(quint16(width), file.data() + sof + 7);
    }
    return file;
}

QImage solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestDecode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every way in refuses the file, with the reason a user can act on: the display decode, the
    // stored pixels and the thumbnail.
    void badFilesAreRefused() {
        const QByteArray png = encoded(test::quadrantImage(64, 64), "png");
        const QByteArray jpeg = encoded(test::quadrantImage(64, 64), "jpeg");
        using R = FailureReason;
        const QList<std::tuple<QString, QByteArray, R>> files{
            {"huge.png", declaring(png, 100000, 100000), R::tooLarge},
            {"huge.jpg", declaring(jpeg, 65000, 65000), R::tooLarge},
            // Within the memory budget, but no file of a few kilobytes holds 900 MP.
            {"large.jpg", declaring(jpeg, 30000, 30000), R::damaged},
            {"empty.jpg", {}, R::notAnImage},
            {"text.png", "not a picture at all", R::notAnImage},
            {"cut.png", png.left(png.size() / 2), R::damaged}};
        QTemporaryDir dir;
        QList<QPair<QString, R>> cases{{dir.filePath("missing.jpg"), R::unreadable}};
        for (const auto& [name, bytes, reason] : files) {
            QVERIFY(writeBytes(dir.filePath(name), bytes));
            cases.append({dir.filePath(name), reason});
        }
        for (const auto& [path, reason] : cases) {
            const FilePath file = filePathFromText(path);
            const auto image = decodeImage(file);
            QVERIFY2(!image, qPrintable(path));
            // A forged size is either over the budget or plainly more than the file can hold.
            const bool forged = path.endsWith("large.jpg") && image.reason() == R::tooLarge;
            QVERIFY2(image.reason() == reason || forged,
                     qPrintable(path + ": " + reasonName(image.reason())));
            if (auto source = ImageSource::open(file)) {
                QVERIFY(!source->storedImage());
                QVERIFY(!source->thumbnail(120));
            }
        }
    }

    // Reading a FIFO blocks until someone writes, a device may never end: whatever is not a
    // regular file after following links is refused before it is opened, by every entry point.
    void onlyRegularFilesAreOpened() {
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath("pipe.jpg"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const QString socketPath = dir.filePath("socket.png");
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(socketPath).constData(),
                 sizeof address.sun_path);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QVERIFY(QFile::link("/dev/zero", dir.filePath("device.webp")));
        QVERIFY(QDir(dir.path()).mkdir("folder.jpg"));
        for (const char* name : {"pipe.jpg", "socket.png", "device.webp", "folder.jpg"}) {
            const FilePath path = filePathFromText(dir.filePath(name));
            const auto image = decodeImage(path);
            QVERIFY2(!image && image.reason() == FailureReason::notAFile, name);
            const auto source = ImageSource::open(path);
            QVERIFY2(!source && source.reason() == FailureReason::notAFile, name);
            const auto format = sniffFormat(path);
            QVERIFY2(!format && format.reason() == FailureReason::notAFile, name);
            const auto bytes = readFileForRewrite(path);
            QVERIFY2(!bytes && bytes.reason() == FailureReason::notAFile, name);
        }
        ::close(listener);
    }

    // A level for a 400 x 300 box: decoded at reduced size where the format can (JPEG by its DCT
    // scale, turned upright first; WebP at its final size), in full and then shrunk elsewhere;
    // always with the file's full upright size and the picture's colours in place.
    void levelsFillTheBoxAndKeepTheFullSize_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("shrink");
        QTest::addColumn<QSize>("bitmapSize");
        QTest::addColumn<QSize>("fullSize");
        QTest::newRow("JPEG, quarter scale")
            << "a.jpg" << 1 << false << QSize(400, 300) << QSize(1600, 1200);
        QTest::newRow("JPEG turned upright")
            << "a.jpg" << 6 << false << QSize(300, 400) << QSize(1200, 1600);
        QTest::newRow("WebP at the box")
            << "a.webp" << 1 << false << QSize(400, 300) << QSize(1600, 1200);
        QTest::newRow("PNG shrunk for a preload")
            << "a.png" << 1 << true << QSize(400, 300) << QSize(1600, 1200);
    }
    void levelsFillTheBoxAndKeepTheFullSize() {
        QFETCH(QString, file);
        QFETCH(int, orientation);
        QFETCH(bool, shrink);
        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        const QImage picture = test::quadrantImage(1600, 1200);
        QVERIFY(test::writeImage(picture, path, QFileInfo(file).suffix().toLatin1(), 95));
        if (orientation != 1)
            QVERIFY(test::setExifTags(path,
                                      {{"Exif.Image.Orientation", QString::number(orientation)}}));
        const auto level = decodeLevel(filePathFromText(path), QSize(400, 300), shrink);
        QVERIFY(level);
        QTEST((*level)->bitmap().size(), "bitmapSize");
        QTEST((*level)->size(), "fullSize");
        const QImage upright = picture.transformed(test::shownForOrientation(orientation));
        const QImage expected = upright.scaled((*level)->bitmap().size());
        for (const QPoint at : {QPoint(1, 1), QPoint(expected.width() - 2, expected.height() - 2)})
            QVERIFY(qAbs(qGray((*level)->bitmap().pixel(at)) - qGray(expected.pixel(at))) < 24);
    }

    // A pyramid TIFF (pages of 1600 x 1200, 800 x 600, 400 x 300, and a square 200 x 200 page of
    // another shape, as an unrelated thumbnail) gives a level or a thumbnail from its smallest
    // page of the picture's shape that still fills the box; its first page when none does.
    void pyramidTiffsGiveTheirSmallestFillingPage() {
        QTemporaryDir dir;
        QStringList pages;
        for (const QSize size :
             {QSize(1600, 1200), QSize(800, 600), QSize(400, 300), QSize(200, 200)}) {
            pages << dir.filePath(QStringLiteral("%1.png").arg(size.width()));
            QVERIFY(test::writeImage(test::quadrantImage(size.width(), size.height()), pages.back(),
                                     "png"));
        }
        const QString tiff = dir.filePath("pyramid.tif");
        QCOMPARE(QProcess::execute("convert", pages + QStringList{"-compress", "lzw", tiff}), 0);
        const FilePath path = filePathFromText(tiff);
        const struct {
            QSize box;
            QSize bitmap;
        } levels[] = {{{400, 300}, {400, 300}},
                      {{600, 400}, {800, 600}},
                      {{150, 150}, {400, 300}},
                      {{1600, 1000}, {1600, 1200}}};
        for (const auto& [box, bitmap] : levels) {
            const auto level = decodeLevel(path, box, false);
            QVERIFY(level);
            QCOMPARE((*level)->bitmap().size(), bitmap);
            QCOMPARE((*level)->size(), QSize(1600, 1200));
            QCOMPARE((*level)->bitmap().pixel(2, 2), test::quadrantImage(8, 8).pixel(0, 0));
        }
        const auto source = ImageSource::open(path);
        QVERIFY(source);
        const auto thumbnail = source->thumbnail(256);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(256, 192));
        const auto full = decodeImage(path);
        QVERIFY(full);
        QCOMPARE((*full)->bitmap().size(), QSize(1600, 1200));
    }

    // A neighbour's level is scaled before its colours are converted, and still converted: a
    // picture in linear light keeps the brightness its full decode shows.
    void shrunkLevelsKeepTheFilesColours() {
        QTemporaryDir dir;
        const QString path = dir.filePath("linear.tif");
        QImage picture(1600, 1200, QImage::Format_RGB32);
        picture.fill(qRgb(64, 64, 64));
        picture.setColorSpace(QColorSpace(QColorSpace::SRgbLinear));
        QVERIFY(picture.save(path, "tiff"));
        const auto full = decodeLevel(filePathFromText(path), QSize(), false);
        const auto level = decodeLevel(filePathFromText(path), QSize(400, 300), true);
        QVERIFY(full && level);
        QCOMPARE((*level)->bitmap().size(), QSize(400, 300));
        QCOMPARE((*level)->size(), QSize(1600, 1200));
        const int shown = qGray((*full)->bitmap().pixel(800, 600));
        QVERIFY2(shown > 120, "the linear-light profile was not applied");
        QVERIFY(qAbs(qGray((*level)->bitmap().pixel(200, 150)) - shown) <= 2);
    }

    // A thumbnail of a very thin picture keeps at least one pixel across.
    void thinPicturesHaveThumbnails() {
        QTemporaryDir dir;
        for (const QSize size : {QSize(3000, 2), QSize(2, 3000)}) {
            const QString path = dir.filePath(QStringLiteral("thin%1.png").arg(size.width()));
            QImage thin(size, QImage::Format_RGB32);
            thin.fill(Qt::red);
            QVERIFY(test::writeImage(thin, path, "png"));
            const auto source = ImageSource::open(filePathFromText(path));
            const auto thumbnail = source ? source->thumbnail(120) : source.failure();
            QVERIFY(thumbnail);
            QCOMPARE(thumbnail->size(),
                     size.width() > size.height() ? QSize(120, 1) : QSize(1, 120));
        }
    }

    // Cameras store a small preview in EXIF that editors often leave stale; it must not be used.
    void embeddedPreviewIsIgnored() {
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.jpg"), preview = dir.filePath("preview.jpg");
        QVERIFY(test::writeImage(solid(800, 600, Qt::red), path, "jpeg"));
        QVERIFY(test::writeImage(solid(160, 120, Qt::blue), preview, "jpeg"));
        try {
            auto image = Exiv2::ImageFactory::open(path.toStdString());
            image->readMetadata();
            Exiv2::ExifThumb(image->exifData()).setJpegThumbnail(preview.toStdString());
            image->writeMetadata();
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
        const auto source = ImageSource::open(filePathFromText(path));
        const auto thumbnail = source ? source->thumbnail(120) : source.failure();
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(120, 90));
        QVERIFY(thumbnail->pixelColor(60, 45).red() > 200 &&
                thumbnail->pixelColor(60, 45).blue() < 50);
    }

    // Qt refuses anything over 128 MB unless told otherwise; a 36 MP picture is 144 MB.
    void largePicturesPassQtsDefaultLimit() {
        QTemporaryDir dir;
        QImage large(6000, 6000, QImage::Format_RGB32);
        large.fill(QColor(10, 120, 230));
        QVERIFY(test::writeImage(large, dir.filePath("large.png"), "png"));
        const auto decoded = decodeImage(filePathFromText(dir.filePath("large.png")));
        QVERIFY(decoded);
        const ImagePtr image = *decoded;
        QCOMPARE(image->bitmap().pixelColor(5999, 5999), QColor(10, 120, 230));
    }

    // A released buffer may be reused for the next picture of its size, but never while a
    // picture still holds it.
    void pixelBuffersAreNeverShared() {
        const QSize size(3000, 2000); // 24 MB: a mapped buffer
        QImage first = allocateImage(size, QImage::Format_RGB32);
        QImage second = allocateImage(size, QImage::Format_RGB32);
        QVERIFY(!first.isNull() && first.constBits() != second.constBits());
        second.fill(0xff445566u);
        first = QImage();
        allocateImage(size, QImage::Format_RGB32).fill(0xff778899u);
        QCOMPARE(second.pixel(2999, 1999), 0xff445566u);
        QVERIFY(allocateImage(QSize(100000, 100000), QImage::Format_RGB32).isNull());
    }

    void storedImageKeepsPrecisionAndColourSpace() {
        QTemporaryDir dir;
        QImage deep(8, 4, QImage::Format_RGBA64);
        deep.fill(QColor::fromRgba64(1000, 40000, 65535, 65535));
        deep.setColorSpace(QColorSpace::DisplayP3);
        QVERIFY(test::writeImage(deep, dir.filePath("deep.png"), "png"));
        QVERIFY(test::writeImage(deep.convertToFormat(QImage::Format_RGB32), dir.filePath("p3.jpg"),
                                 "jpeg"));
        for (const char* name : {"deep.png", "p3.jpg"}) {
            auto source = ImageSource::open(filePathFromText(dir.filePath(name)));
            const auto stored = source ? source->storedImage() : source.failure();
            QVERIFY2(stored, name);
            QCOMPARE(stored->colorSpace(), QColorSpace(QColorSpace::DisplayP3));
            if (QByteArray(name).endsWith("png")) {
                QCOMPARE(stored->depth(), 64);
                QCOMPARE(stored->pixelColor(0, 0).rgba64().red(), quint16(1000));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "test_decode.moc"
