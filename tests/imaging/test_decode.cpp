// The display decode as its callers rely on it: failures are values, hostile headers are refused
// before allocating, pixel buffers are never shared, and several threads can decode at once.
#include "imaging/decode.h"
#include "imaging/pixelbuffer.h"
#include "imaging/source.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
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

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestDecode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every way in refuses the file: the display decode, the stored pixels and the thumbnail.
    void badFilesAreRefused() {
        const QByteArray png = encoded(test::quadrantImage(64, 64), "png");
        const QByteArray jpeg = encoded(test::quadrantImage(64, 64), "jpeg");
        const QList<QPair<QString, QByteArray>> files{
            {"huge.png", declaring(png, 100000, 100000)},
            {"huge.jpg", declaring(jpeg, 65000, 65000)},
            // Within the memory budget, but no file of a few kilobytes holds 900 MP.
            {"large.jpg", declaring(jpeg, 30000, 30000)},
            {"empty.jpg", {}},
            {"text.png", "not a picture at all"},
            {"cut.png", png.left(png.size() / 2)}};
        QTemporaryDir dir;
        QStringList paths{dir.filePath("missing.jpg"), dir.path()};
        for (const auto& [name, bytes] : files) {
            QVERIFY(writeBytes(dir.filePath(name), bytes));
            paths << dir.filePath(name);
        }
        for (const QString& path : paths) {
            const FilePath file = filePathFromText(path);
            QVERIFY2(!decodeImage(file), qPrintable(path));
            if (auto source = ImageSource::open(file)) {
                QVERIFY(!source->storedImage());
                QVERIFY(!source->thumbnail(120));
            }
        }
        QVERIFY(!ImageSource::open(filePathFromText(dir.filePath("text.png"))));
        QVERIFY(!Image::create(QImage()));
    }

    // Like every other viewer, a JPEG cut short shows what arrived, grey below.
    void truncatedJpegShowsWhatArrived() {
        QTemporaryDir dir;
        const QByteArray jpeg = encoded(test::quadrantImage(256, 256), "jpeg");
        QVERIFY(writeBytes(dir.filePath("cut.jpg"), jpeg.left(jpeg.size() * 2 / 3)));
        const ImagePtr image = decodeImage(filePathFromText(dir.filePath("cut.jpg")));
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(256, 256));
        QVERIFY(image->bitmap().pixelColor(10, 10).red() > 200);
    }

    // Qt refuses anything over 128 MB unless told otherwise; a 36 MP picture is 144 MB.
    void largePicturesPassQtsDefaultLimit() {
        QTemporaryDir dir;
        QImage large(6000, 6000, QImage::Format_RGB32);
        large.fill(QColor(10, 120, 230));
        QVERIFY(test::writeImage(large, dir.filePath("large.png"), "png"));
        const ImagePtr image = decodeImage(filePathFromText(dir.filePath("large.png")));
        QVERIFY(image);
        QCOMPARE(image->bitmap().pixelColor(5999, 5999), QColor(10, 120, 230));
    }

    // A released buffer is reused for the next picture of its size, but never while a picture
    // still holds it.
    void pixelBuffersAreNeverShared() {
        const QSize size(3000, 2000); // 24 MB: a mapped buffer
        QImage first = allocateImage(size, QImage::Format_RGB32);
        QImage second = allocateImage(size, QImage::Format_RGB32);
        QVERIFY(!first.isNull() && first.constBits() != second.constBits());
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
        QVERIFY(test::writeImage(deep, dir.filePath("deep.png"), "png"));
        QVERIFY(test::writeImage(deep.convertToFormat(QImage::Format_RGB32), dir.filePath("p3.jpg"),
                                 "jpeg"));
        for (const char* name : {"deep.png", "p3.jpg"}) {
            auto source = ImageSource::open(filePathFromText(dir.filePath(name)));
            const auto stored = source ? source->storedImage() : std::nullopt;
            QVERIFY2(stored, name);
            QCOMPARE(stored->colorSpace(), QColorSpace(QColorSpace::DisplayP3));
            if (QByteArray(name).endsWith("png")) {
                QCOMPARE(stored->depth(), 64);
                QCOMPARE(stored->pixelColor(0, 0).rgba64().red(), quint16(1000));
            }
        }
    }

    void severalThreadsDecodeAtOnce() {
        QTemporaryDir dir;
        QStringList paths;
        for (const char* format : {"jpeg", "png", "tiff", "webp", "bmp"})
            for (int size : {64, 200}) {
                paths << dir.filePath(QString::number(paths.size()));
                QVERIFY(
                    test::writeImage(test::quadrantImage(size, size / 2), paths.last(), format));
            }
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < 10; ++round) {
                    const FilePath path = filePathFromText(paths[(round + t * 3) % paths.size()]);
                    const ImagePtr image = decodeImage(path);
                    const auto thumb = ImageSource::open(path)->thumbnail(32);
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
