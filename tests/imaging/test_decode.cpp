// The display decode as its callers rely on it: failures are values, hostile headers are refused
// before allocating, images are independent values, and several threads can decode at once.
#include "imaging/contenttype.h"
#include "imaging/decode.h"
#include "imaging/pixelbuffer.h"
#include "imaging/source.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <thread>
#include <vector>

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

QByteArray pngChunk(const char* type, const QByteArray& payload) {
    QByteArray body = QByteArray(type, 4) + payload;
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), chunk.data());
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(crc32(body), crc.data());
    return chunk + body + crc;
}

// A valid PNG signature and IHDR (correct CRC) declaring 100000 x 100000 RGBA pixels, 40 GB.
QByteArray hugePngHeader() {
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(100000, ihdr.data());
    qToBigEndian<quint32>(100000, ihdr.data() + 4);
    ihdr[8] = 8; // bit depth
    ihdr[9] = 6; // RGBA
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", QByteArray("\x78\x9c\x03\0\0\0\0\x01", 8)) + pngChunk("IEND", {});
}

// A real JPEG whose frame header is rewritten to declare another size.
QByteArray jpegDeclaring(const QByteArray& jpeg, quint16 width, quint16 height) {
    QByteArray forged = jpeg;
    const qsizetype sof = forged.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0)
        return {};
    qToBigEndian<quint16>(height, forged.data() + sof + 5);
    qToBigEndian<quint16>(width, forged.data() + sof + 7);
    return forged;
}

QByteArray encoded(const QImage& image, const char* format) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x"));
    if (!test::writeImage(image, path, format))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every way in refuses the file: the display decode, the stored pixels and the thumbnail.
void verifyRefused(const QString& path) {
    const FilePath file = filePathFromText(path);
    QVERIFY2(!decodeImage(file), qPrintable(path));
    if (auto source = ImageSource::open(file)) {
        QVERIFY(!source->storedImage());
        QVERIFY(!source->thumbnail(120));
    }
}

} // namespace

class TestDecode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void forgedDimensionsAreRefused() {
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("huge.png"));
        QVERIFY(writeBytes(png, hugePngHeader()));
        verifyRefused(png);

        const QByteArray jpeg = encoded(test::quadrantImage(64, 64), "jpeg");
        const QString jpegHuge = dir.filePath(QStringLiteral("huge.jpg"));
        QVERIFY(writeBytes(jpegHuge, jpegDeclaring(jpeg, 65000, 65000)));
        verifyRefused(jpegHuge);
        // Small enough for the memory budget, but no file of a few kilobytes holds 900 MP.
        const QString jpegLarge = dir.filePath(QStringLiteral("large.jpg"));
        QVERIFY(writeBytes(jpegLarge, jpegDeclaring(jpeg, 30000, 30000)));
        verifyRefused(jpegLarge);
    }

    void unreadableFilesGiveNothing() {
        QTemporaryDir dir;
        const QString empty = dir.filePath(QStringLiteral("empty.jpg"));
        QVERIFY(writeBytes(empty, {}));
        const QString text = dir.filePath(QStringLiteral("text.png"));
        QVERIFY(writeBytes(text, "not a picture at all"));
        const QByteArray png = encoded(test::quadrantImage(64, 64), "png");
        const QString cut = dir.filePath(QStringLiteral("cut.png"));
        QVERIFY(writeBytes(cut, png.left(png.size() / 2)));
        for (const QString& path :
             {empty, text, cut, dir.filePath(QStringLiteral("missing.jpg")), dir.path()})
            verifyRefused(path);
        QVERIFY(!ImageSource::open(filePathFromText(text)));
    }

    // Like every other viewer, a JPEG cut short shows what arrived, grey below.
    void truncatedJpegShowsWhatArrived() {
        QTemporaryDir dir;
        const QByteArray jpeg = encoded(test::quadrantImage(256, 256), "jpeg");
        const QString path = dir.filePath(QStringLiteral("cut.jpg"));
        QVERIFY(writeBytes(path, jpeg.left(jpeg.size() * 2 / 3)));
        const ImagePtr image = decodeImage(filePathFromText(path));
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(256, 256));
        QCOMPARE(image->bitmap().pixelColor(10, 10).red() > 200, true);
    }

    // Qt refuses anything over 128 MB unless told otherwise; a 36 MP picture is 144 MB.
    void largePicturesPassQtsDefaultLimit() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.png"));
        QImage large(6000, 6000, QImage::Format_RGB32);
        large.fill(QColor(10, 120, 230));
        QVERIFY(test::writeImage(large, path, "png"));
        const ImagePtr image = decodeImage(filePathFromText(path));
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(6000, 6000));
        QCOMPARE(image->bitmap().pixelColor(5999, 5999), QColor(10, 120, 230));
    }

    void imagesAreIndependentValues() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.png"));
        QVERIFY(test::writeImage(test::quadrantImage(30, 20), path, "png"));
        const ImagePtr first = decodeImage(filePathFromText(path));
        const ImagePtr second = decodeImage(filePathFromText(path));
        QVERIFY(first && second);
        QVERIFY(first != second);
        QCOMPARE(first->size(), QSize(30, 20));
        QCOMPARE(first->bitmap(), second->bitmap());
        QVERIFY(!Image::create(QImage()));
    }

    // A released buffer is reused for the next picture of its size, but never while a picture
    // still holds it.
    void pixelBuffersAreNeverShared() {
        const QSize size(3000, 2000); // 24 MB: a mapped buffer
        QImage first = allocateImage(size, QImage::Format_RGB32);
        QImage second = allocateImage(size, QImage::Format_RGB32);
        QVERIFY(!first.isNull() && !second.isNull());
        QVERIFY(first.constBits() != second.constBits());
        first.fill(0xff112233u);
        second.fill(0xff445566u);
        const uchar* released = first.constBits();
        first = QImage();
        QImage third = allocateImage(size, QImage::Format_RGB32);
        QCOMPARE(third.constBits(), released); // the spare, pages already in place
        third.fill(0xff778899u);
        QCOMPARE(second.pixel(2999, 1999), 0xff445566u);
        QVERIFY(allocateImage(QSize(100000, 100000), QImage::Format_RGB32).isNull());
        QVERIFY(allocateImage(QSize(0, 10), QImage::Format_RGB32).isNull());
    }

    void storedImageKeepsPrecisionAndColourSpace() {
        QTemporaryDir dir;
        QImage deep(8, 4, QImage::Format_RGBA64);
        deep.fill(QColor::fromRgba64(1000, 40000, 65535, 65535));
        deep.setColorSpace(QColorSpace::DisplayP3);
        const QString png = dir.filePath(QStringLiteral("deep.png"));
        QVERIFY(test::writeImage(deep, png, "png"));
        auto source = ImageSource::open(filePathFromText(png));
        QVERIFY(source);
        const auto stored = source->storedImage();
        QVERIFY(stored);
        QCOMPARE(stored->depth(), 64);
        QCOMPARE(stored->pixelColor(0, 0).rgba64().red(), quint16(1000));
        QCOMPARE(stored->colorSpace(), QColorSpace(QColorSpace::DisplayP3));

        QImage p3(8, 4, QImage::Format_RGB32);
        p3.fill(Qt::darkCyan);
        p3.setColorSpace(QColorSpace::DisplayP3);
        const QString jpeg = dir.filePath(QStringLiteral("p3.jpg"));
        QVERIFY(test::writeImage(p3, jpeg, "jpeg"));
        const auto storedJpeg = ImageSource::open(filePathFromText(jpeg))->storedImage();
        QVERIFY(storedJpeg);
        QCOMPARE(storedJpeg->colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    }

    void severalThreadsDecodeAtOnce() {
        QTemporaryDir dir;
        QStringList paths;
        int n = 0;
        for (const char* format : {"jpeg", "png", "tiff", "webp", "bmp"})
            for (int size : {64, 200}) {
                const QString path = dir.filePath(QStringLiteral("f%1").arg(n++));
                QVERIFY(test::writeImage(test::quadrantImage(size, size / 2), path, format));
                paths << path;
            }
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < 10; ++round) {
                    const QString& path = paths[(round + t * 3) % paths.size()];
                    const ImagePtr image = decodeImage(filePathFromText(path));
                    const auto thumb = ImageSource::open(filePathFromText(path))->thumbnail(32);
                    if (!image || image->width() != 2 * image->height() || !thumb ||
                        thumb->width() != 32 || image->bitmap().pixelColor(2, 2).red() < 200)
                        ++failures;
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(failures.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "test_decode.moc"
