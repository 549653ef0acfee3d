// Thumbnails: from the full image (never a stale embedded preview), upright, within the size.
#include "imaging/source.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <exiv2/exiv2.hpp>

using namespace kivo;

namespace {

std::optional<QImage> thumbnailOf(const QString& path, int maxPixelSize) {
    const auto source = ImageSource::open(filePathFromText(path));
    return source ? source->thumbnail(maxPixelSize) : std::nullopt;
}

QImage filled(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestThumbnail : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void longerSideIsTheMaximum() {
        const QList<std::tuple<const char*, QSize, QSize>> cases{
            {"jpeg", {4000, 3000}, {120, 90}}, {"jpeg", {1001, 333}, {120, 40}},
            {"png", {300, 1200}, {30, 120}},   {"webp", {640, 480}, {120, 90}},
            {"png", {50, 40}, {50, 40}}, // small stays small
        };
        QTemporaryDir dir;
        for (const auto& [format, size, expected] : cases) {
            const QString path = dir.filePath("picture");
            QVERIFY(
                test::writeImage(test::quadrantImage(size.width(), size.height()), path, format));
            const auto thumbnail = thumbnailOf(path, 120);
            QVERIFY(thumbnail);
            QCOMPARE(thumbnail->size(), expected);
            const int w = expected.width(), h = expected.height();
            QVERIFY(thumbnail->pixelColor(w / 4, h / 4).red() > 200);
            QVERIFY(thumbnail->pixelColor(3 * w / 4, 3 * h / 4).blue() > 200);
            QVERIFY(!thumbnailOf(path, 0));
        }
    }

    // Cameras store a small preview in EXIF that editors often leave stale; it must not be used.
    void embeddedPreviewIsIgnored() {
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.jpg"), preview = dir.filePath("preview.jpg");
        QVERIFY(test::writeImage(filled(800, 600, Qt::red), path, "jpeg"));
        QVERIFY(test::writeImage(filled(160, 120, Qt::blue), preview, "jpeg"));
        try {
            auto image = Exiv2::ImageFactory::open(path.toStdString());
            image->readMetadata();
            Exiv2::ExifThumb(image->exifData()).setJpegThumbnail(preview.toStdString());
            image->writeMetadata();
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
        const auto thumbnail = thumbnailOf(path, 120);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(120, 90));
        QVERIFY(thumbnail->pixelColor(60, 45).red() > 200 &&
                thumbnail->pixelColor(60, 45).blue() < 50);
    }
};

QTEST_GUILESS_MAIN(TestThumbnail)
#include "test_thumbnail.moc"
