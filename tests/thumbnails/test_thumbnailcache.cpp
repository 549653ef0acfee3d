// SPDX-License-Identifier: GPL-3.0-or-later
// Thumbnails decoded off the caller's thread, upright, bounded, cached until the cache is full;
// the strip that shows them: cells only for what is on screen, the outline on the current one,
// clicks, centring, requests dropped when their cells scroll away, pictures that follow files.
#include "imaging/tasks/workerpools.h"
#include "support/testsupport.h"
#include "thumbnails/thumbnailcache.h"
#include "thumbnails/thumbnailstrip.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

using namespace kivo;

namespace {

struct Delivery {
    bool arrived = false;
    std::optional<QImage> thumbnail;
    bool onCacheThread = false;
};

// Requests a thumbnail and records what comes back, and on which thread.
std::shared_ptr<Delivery> request(ThumbnailCache& cache, const QString& path, QObject* receiver) {
    auto delivery = std::make_shared<Delivery>();
    cache.requestThumbnail(filePathFromText(path), receiver,
                           [delivery, &cache](std::optional<QImage> thumbnail) {
                               delivery->arrived = true;
                               delivery->thumbnail = std::move(thumbnail);
                               delivery->onCacheThread = QThread::currentThread() == cache.thread();
                           });
    return delivery;
}

bool isNear(QRgb pixel, QColor expected) {
    return test::colourDistance(pixel, expected) < 60;
}

QRgb pixelOfCell(ThumbnailStrip& strip, qsizetype index, QPointF within) {
    const QImage shot = strip.grab().toImage();
    return shot.pixel((strip.cellRect(index).topLeft() + within).toPoint());
}

bool outlined(ThumbnailStrip& strip, qsizetype index) {
    return isNear(pixelOfCell(strip, index, {1, 22}), Qt::white); // left edge, halfway down
}
} // namespace

class TestThumbnailCache : public QObject {
    Q_OBJECT

    WorkerPools pools_;

private Q_SLOTS:
    // Off the caller's thread, upright, within 120 and never enlarged; then from memory. Stored
    // 2000 x 1000 with orientation 6, the photo is shown turned a quarter clockwise, with the
    // stored bottom-left (blue) quadrant now at the top left.
    void decodesInBackgroundUprightThenServesFromCache() {
        QTemporaryDir dir;
        const QString rotated = dir.filePath(QStringLiteral("rotated.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(2000, 1000), rotated, "jpeg"));
        QVERIFY(test::setExifTags(rotated, {{"Exif.Image.Orientation", "6"}}));
        const QString small = dir.filePath(QStringLiteral("small.png"));
        QVERIFY(test::writeImage(test::quadrantImage(50, 30), small, "png"));

        ThumbnailCache cache(pools_.thumbnails);
        const auto turned = request(cache, rotated, &cache);
        const auto kept = request(cache, small, &cache);
        QVERIFY(!turned->arrived); // decoding is never done on the caller's thread
        QTRY_VERIFY_WITH_TIMEOUT(turned->arrived && kept->arrived, 20'000);
        QVERIFY(turned->onCacheThread && turned->thumbnail && kept->thumbnail);
        QCOMPARE(turned->thumbnail->size(), QSize(60, 120));
        QVERIFY(isNear(turned->thumbnail->pixel(10, 10), Qt::blue));
        QVERIFY(isNear(turned->thumbnail->pixel(50, 10), Qt::red));
        QVERIFY(isNear(turned->thumbnail->pixel(10, 110), Qt::white));
        QCOMPARE(kept->thumbnail->size(), QSize(50, 30));
        QCOMPARE(cache.count(), 2);

        // Asked again, it is answered at once: the file is not read again.
        const auto again = request(cache, rotated, &cache);
        QVERIFY(again->arrived && again->thumbnail);
    }

    void absentResultsAreNotStored() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("later.png"));
        QFile text(path);
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("no picture here") > 0);
        text.close();

        ThumbnailCache cache(pools_.thumbnails);
        const auto missing = request(cache, dir.filePath(QStringLiteral("absent.png")), &cache);
        const auto broken = request(cache, path, &cache);
        QTRY_VERIFY_WITH_TIMEOUT(missing->arrived && broken->arrived, 20'000);
        QVERIFY(!missing->thumbnail && !broken->thumbnail);
        QCOMPARE(cache.count(), 0);

        // Once the file holds a picture, a new request decodes it.
        QVERIFY(test::writeImage(test::quadrantImage(20, 20), path, "png"));
        const auto retried = request(cache, path, &cache);
        QTRY_VERIFY_WITH_TIMEOUT(retried->arrived && retried->thumbnail, 20'000);
        QCOMPARE(cache.count(), 1);
    }

    void boundedInNumber() {
        QTemporaryDir dir;
        const QString tile = dir.filePath(QStringLiteral("tile.png"));
        QVERIFY(test::writeImage(test::quadrantImage(4, 4), tile, "png"));
        ThumbnailCache cache(pools_.thumbnails);
        std::shared_ptr<Delivery> last;
        for (int i = 0; i <= ThumbnailCache::maxEntries; ++i) {
            const QString link = dir.filePath(QStringLiteral("%1.png").arg(i));
            QVERIFY(QFile::link(tile, link));
            last = request(cache, link, &cache);
        }
        QTRY_VERIFY_WITH_TIMEOUT(last->arrived, 20'000);
        pools_.thumbnails.waitForDone();
        QCoreApplication::sendPostedEvents();
        QVERIFY(cache.count() <= ThumbnailCache::maxEntries);
    }

    void goneReceiverOrCacheGetsNothing() {
        QTemporaryDir dir;
        const QString photo = dir.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(2000, 1500), photo, "jpeg"));

        ThumbnailCache cache(pools_.thumbnails);
        auto receiver = std::make_unique<QObject>();
        const auto orphan = request(cache, photo, receiver.get());
        receiver.reset();
        QTRY_VERIFY_WITH_TIMEOUT(cache.count() == 1, 20'000); // still stored for the next asker
        QTest::qWait(50);
        QVERIFY(!orphan->arrived);

        // A cache destroyed while decoding delivers nothing and leaves no task touching it.
        std::shared_ptr<Delivery> late;
        {
            ThumbnailCache shortLived(pools_.thumbnails);
            late = request(shortLived, photo, &shortLived);
        }
        pools_.thumbnails.waitForDone();
        QTest::qWait(50);
        QVERIFY(!late->arrived);
    }

    void showsPicturesOutlinesTheCurrentSelectsOnClickAndFollowsTheFile() {
        test::PhotoFolder folder(
            {QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
        folder.write(QStringLiteral("b.jpg"), Qt::red);
        QVERIFY(test::writeImage(test::quadrantImage(200, 100), folder.text("c.jpg"), "jpeg"));
        QThreadPool pool;
        ThumbnailCache cache(pool);
        ThumbnailStrip strip(cache);
        qsizetype selected = -1;
        strip.onSelect = [&selected](qsizetype index) { selected = index; };
        strip.resize(400, ThumbnailStrip::kHeight);
        strip.setFiles(folder.paths({"a.jpg", "b.jpg", "c.jpg"}));
        strip.show();

        QTRY_VERIFY_WITH_TIMEOUT(isNear(pixelOfCell(strip, 1, {22, 22}), Qt::red), 10'000);
        QVERIFY(outlined(strip, 0) && !outlined(strip, 1));
        strip.setCurrentIndex(1);
        QVERIFY(!outlined(strip, 0) && outlined(strip, 1));

        QTest::mouseClick(&strip, Qt::LeftButton, {}, strip.cellRect(2).center().toPoint());
        QCOMPARE(selected, 2);
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(2, 30)); // the margin: nothing
        QCOMPARE(selected, 2);

        // Once a quarter turn is saved into c.jpg (stored with its top-left quadrant red), its
        // cell shows the turned picture, blue at its top left, not the remembered one.
        QTRY_VERIFY_WITH_TIMEOUT(isNear(pixelOfCell(strip, 2, {10, 10}), Qt::red), 10'000);
        QVERIFY(test::setExifTags(folder.text("c.jpg"), {{"Exif.Image.Orientation", "6"}}));
        strip.revalidate();
        QTRY_VERIFY_WITH_TIMEOUT(isNear(pixelOfCell(strip, 2, {10, 10}), Qt::blue), 10'000);
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

    // Requests still queued for cells that go away, scrolled out of the strip or with the strip
    // of a closed window, are never decoded.
    void requestsOfCellsThatGoAwayAreDropped_data() {
        QTest::addColumn<bool>("closeStrip");
        QTest::newRow("scrolled away") << false;
        QTest::newRow("strip closed") << true;
    }
    void requestsOfCellsThatGoAwayAreDropped() {
        QFETCH(bool, closeStrip);
        QStringList names;
        for (int i = 0; i < 40; ++i)
            names.append(QStringLiteral("%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        test::PhotoFolder folder(names);
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QSemaphore hold;
        pool.start([&hold] { hold.acquire(); });
        ThumbnailCache cache(pool);
        auto strip = std::make_unique<ThumbnailStrip>(cache);
        const int cells = closeStrip ? 40 : 2;
        strip->resize(cells * (ThumbnailStrip::kCellSize + ThumbnailStrip::kSpacing),
                      ThumbnailStrip::kHeight);
        strip->setFiles(folder.paths(names));
        strip->show();
        QVERIFY(strip->cellCount() >= cells - 10);
        if (closeStrip)
            strip.reset();
        else
            strip->setScrollOffset(1e9); // to the end
        hold.release();
        if (strip)
            QTRY_VERIFY_WITH_TIMEOUT(cache.cached(folder.path(names.back())), 10'000);
        pool.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(cache.count(), strip ? strip->cellCount() : 0);
        QVERIFY(!cache.cached(folder.path(names.front())));
    }
};

QTEST_MAIN(TestThumbnailCache)
#include "test_thumbnailcache.moc"
