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

} // namespace

class TestThumbnail : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void longerSideIsTheMaximum_data() {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("4000x3000 photo")
            << QByteArray("jpeg") << QSize(4000, 3000) << QSize(120, 90);
        QTest::newRow("odd jpeg size") << QByteArray("jpeg") << QSize(1001, 333) << QSize(120, 40);
        QTest::newRow("tall png") << QByteArray("png") << QSize(300, 1200) << QSize(30, 120);
        QTest::newRow("webp") << QByteArray("webp") << QSize(640, 480) << QSize(120, 90);
        QTest::newRow("small stays small") << QByteArray("png") << QSize(50, 40) << QSize(50, 40);
    }

    void longerSideIsTheMaximum() {
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        QFETCH(QSize, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture"));
        QVERIFY(test::writeImage(test::quadrantImage(size.width(), size.height()), path,
                                 format.constData()));
        const auto thumbnail = thumbnailOf(path, 120);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), expected);
        QVERIFY(thumbnail->pixelColor(expected.width() / 4, expected.height() / 4).red() > 200);
        QVERIFY(thumbnail->pixelColor(3 * expected.width() / 4, 3 * expected.height() / 4).blue() >
                200);
        QVERIFY(!thumbnailOf(path, 0));
    }

    // Cameras store a small preview in EXIF that editors often leave stale; it must not be used.
    void embeddedPreviewIsIgnored() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("photo.jpg"));
        QImage photo(800, 600, QImage::Format_RGB32);
        photo.fill(Qt::red);
        QVERIFY(test::writeImage(photo, path, "jpeg"));
        const QString previewPath = dir.filePath(QStringLiteral("preview.jpg"));
        QImage preview(160, 120, QImage::Format_RGB32);
        preview.fill(Qt::blue);
        QVERIFY(test::writeImage(preview, previewPath, "jpeg"));
        try {
            auto image = Exiv2::ImageFactory::open(path.toStdString());
            image->readMetadata();
            Exiv2::ExifThumb thumb(image->exifData());
            thumb.setJpegThumbnail(previewPath.toStdString());
            image->writeMetadata();
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
        const auto thumbnail = thumbnailOf(path, 120);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(120, 90));
        QVERIFY(thumbnail->pixelColor(60, 45).red() > 200);
        QVERIFY(thumbnail->pixelColor(60, 45).blue() < 50);
    }
};

QTEST_GUILESS_MAIN(TestThumbnail)
#include "test_thumbnail.moc"
