// Thumbnails decoded off the caller's thread, upright, bounded, cached until the cache is full.
#include "imaging/workerpools.h"
#include "support/testsupport.h"
#include "thumbnails/thumbnailcache.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

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
    const QRgb e = expected.rgb();
    return std::abs(qRed(pixel) - qRed(e)) + std::abs(qGreen(pixel) - qGreen(e)) +
               std::abs(qBlue(pixel) - qBlue(e)) <
           120;
}

} // namespace

class TestThumbnailCache : public QObject {
    Q_OBJECT

    WorkerPools pools_;

private Q_SLOTS:
    void decodesInBackgroundThenServesFromCache() {
        QTemporaryDir dir;
        const QString photo = dir.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(4000, 3000), photo, "jpeg"));
        ThumbnailCache cache(pools_.thumbnails);
        QObject receiver;

        const auto first = request(cache, photo, &receiver);
        QVERIFY(!first->arrived); // decoding is never done on the caller's thread
        QTRY_VERIFY_WITH_TIMEOUT(first->arrived, 20'000);
        QVERIFY(first->onCacheThread && first->thumbnail);
        QCOMPARE(first->thumbnail->size(), QSize(120, 90));
        QCOMPARE(cache.count(), 1);

        // The second request is answered at once from memory: the file is not read again.
        const auto second = request(cache, photo, &receiver);
        QVERIFY(second->arrived && second->thumbnail);
        QCOMPARE(second->thumbnail->size(), QSize(120, 90));
    }

    void uprightAndBoundedBy120() {
        QTemporaryDir dir;
        // Stored 200 x 100 with orientation 6: shown turned a quarter clockwise, 100 x 200, with
        // the stored bottom-left (blue) quadrant now at the top left.
        const QString rotated = dir.filePath(QStringLiteral("rotated.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(200, 100), rotated, "jpeg"));
        QVERIFY(test::setExifTags(rotated, {{"Exif.Image.Orientation", "6"}}));
        const QString small = dir.filePath(QStringLiteral("small.png"));
        QVERIFY(test::writeImage(test::quadrantImage(50, 30), small, "png"));

        ThumbnailCache cache(pools_.thumbnails);
        const auto turned = request(cache, rotated, &cache);
        const auto kept = request(cache, small, &cache);
        QTRY_VERIFY_WITH_TIMEOUT(turned->arrived && kept->arrived, 20'000);
        QVERIFY(turned->thumbnail && kept->thumbnail);
        QCOMPARE(turned->thumbnail->size(), QSize(60, 120));
        QVERIFY(isNear(turned->thumbnail->pixel(10, 10), Qt::blue));
        QVERIFY(isNear(turned->thumbnail->pixel(50, 10), Qt::red));
        QVERIFY(isNear(turned->thumbnail->pixel(10, 110), Qt::white));
        QCOMPARE(kept->thumbnail->size(), QSize(50, 30)); // never enlarged
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
};

QTEST_MAIN(TestThumbnailCache)
#include "test_thumbnailcache.moc"
