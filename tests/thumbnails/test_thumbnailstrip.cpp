// The strip: cells only for what is on screen, the outline on the current one, clicks, centring,
// requests dropped when their cells scroll away, and pictures that follow their files.
#include "support/testsupport.h"
#include "thumbnails/thumbnailstrip.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace kivo;

namespace {

bool isNear(QRgb pixel, QColor expected) {
    return std::abs(qRed(pixel) - expected.red()) + std::abs(qGreen(pixel) - expected.green()) +
               std::abs(qBlue(pixel) - expected.blue()) <
           100;
}

QRgb pixelOfCell(ThumbnailStrip& strip, qsizetype index, QPointF within) {
    const QImage shot = strip.grab().toImage();
    return shot.pixel((strip.cellRect(index).topLeft() + within).toPoint());
}

bool outlined(ThumbnailStrip& strip, qsizetype index) {
    return isNear(pixelOfCell(strip, index, {1, 22}), Qt::white); // left edge, halfway down
}

} // namespace

class TestThumbnailStrip : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsPicturesOutlinesTheCurrentAndSelectsOnClick() {
        test::PhotoFolder folder(
            {QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
        folder.write(QStringLiteral("b.jpg"), Qt::red);
        QThreadPool pool;
        ThumbnailCache cache(pool);
        ThumbnailStrip strip(cache);
        qsizetype selected = -1;
        strip.onSelect = [&selected](qsizetype index) { selected = index; };
        strip.resize(400, ThumbnailStrip::kHeight);
        strip.setFiles(folder.paths({"a.jpg", "b.jpg", "c.jpg"}));
        strip.show();

        QCOMPARE(strip.cellRect(1), QRectF(8 + 48, 8, 44, 44));
        QTRY_VERIFY_WITH_TIMEOUT(isNear(pixelOfCell(strip, 1, {22, 22}), Qt::red), 10'000);
        QVERIFY(outlined(strip, 0) && !outlined(strip, 1));
        strip.setCurrentIndex(1);
        QVERIFY(!outlined(strip, 0) && outlined(strip, 1));

        QTest::mouseClick(&strip, Qt::LeftButton, {}, strip.cellRect(2).center().toPoint());
        QCOMPARE(selected, 2);
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(2, 30)); // the margin: nothing
        QCOMPARE(selected, 2);
    }

    // A folder of 100,000 costs what one of 100 does; the current cell is centred by a short
    // scroll when it changes, never when the strip first appears.
    void hugeFolderMakesOnlyVisibleCellsAndCentresTheCurrent() {
        std::vector<FilePath> files;
        for (int i = 0; i < 100'000; ++i)
            files.push_back(filePathFromText(QStringLiteral("/nonexistent/%1.jpg").arg(i)));
        QThreadPool pool;
        ThumbnailCache cache(pool);
        ThumbnailStrip strip(cache);
        strip.resize(480, ThumbnailStrip::kHeight);
        strip.setFiles(files);
        strip.setCurrentIndex(40'000);
        strip.show();
        QCOMPARE(strip.scrollOffset(), 0.0);
        QVERIFY(strip.cellCount() <= 11);

        strip.setCurrentIndex(70'000);
        QTRY_COMPARE_WITH_TIMEOUT(strip.scrollOffset(), strip.centredOffset(70'000), 2'000);
        QVERIFY(std::abs(strip.cellRect(70'000).center().x() - 240) <= 1);
        QVERIFY(strip.cellCount() <= 11);
    }

    // Cells that scroll away before their turn in the pool are never decoded.
    void scrolledAwayRequestsAreDropped() {
        QStringList names;
        for (int i = 0; i < 30; ++i)
            names.append(QStringLiteral("%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        test::PhotoFolder folder(names);
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QSemaphore hold;
        pool.start([&hold] { hold.acquire(); });
        ThumbnailCache cache(pool);
        ThumbnailStrip strip(cache);
        strip.resize(200, ThumbnailStrip::kHeight);
        strip.setFiles(folder.paths(names));
        strip.show();
        strip.setScrollOffset(1e9); // to the end
        hold.release();
        QTRY_VERIFY_WITH_TIMEOUT(cache.cached(folder.path(names.back())), 10'000);
        pool.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(cache.count(), strip.cellCount());
        QVERIFY(!cache.cached(folder.path(names.front())));
    }

    // Stored 200 x 100 with its top-left quadrant red: once a quarter turn is saved into the
    // file, the cell shows the turned picture, blue at its top left, not the remembered one.
    void rotatedFileShowsTurnedPicture() {
        QTemporaryDir dir;
        const QString photo = dir.filePath(QStringLiteral("photo.jpg"));
        const QString other = dir.filePath(QStringLiteral("other.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(200, 100), photo, "jpeg"));
        QVERIFY(test::writeImage(test::quadrantImage(20, 20), other, "jpeg"));
        QThreadPool pool;
        ThumbnailCache cache(pool);
        ThumbnailStrip strip(cache);
        strip.resize(300, ThumbnailStrip::kHeight);
        strip.setFiles({filePathFromText(photo), filePathFromText(other)});
        strip.show();
        QTRY_VERIFY_WITH_TIMEOUT(isNear(pixelOfCell(strip, 0, {10, 10}), Qt::red), 10'000);

        QVERIFY(test::setExifTags(photo, {{"Exif.Image.Orientation", "6"}}));
        strip.revalidate();
        QTRY_VERIFY_WITH_TIMEOUT(isNear(pixelOfCell(strip, 0, {10, 10}), Qt::blue), 10'000);
    }
};

QTEST_MAIN(TestThumbnailStrip)
#include "test_thumbnailstrip.moc"
