// SPDX-License-Identifier: GPL-3.0-or-later
// The tile layer of a huge picture with its reads on a real pool, painted over and over as the
// canvas paints it: the tiles arrive with the picture's own pixels, and a picture changed or a
// layer destroyed while a batch is being read leaves nothing behind (run under the sanitizers).
#include "canvas/tilelayer.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/regions.h"
#include "support/testsupport.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace kivo;

class TestTileLayer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tilesArriveAndOutliveNothing() {
        QTemporaryDir dir;
        const QString path = dir.filePath("checks.jpg");
        // 8-pixel checks: the level stretched under the tiles is a flat grey there.
        QImage picture(3000, 2000, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y,
                                 (x / 8 + y / 8) % 2 ? qRgb(235, 235, 235) : qRgb(20, 20, 20));
        QVERIFY(test::writeImage(picture, path, "jpeg", 98));
        const auto reader = openRegionReaderAnySize(filePathFromText(path), {}, true);
        QVERIFY(reader && *reader);
        const ImagePtr tiled = Image::createTiled(picture.scaled(375, 250), *reader);
        QVERIFY(tiled && tiled->isTiled());

        QThreadPool pool;
        auto layer = std::make_unique<TileLayer>();
        layer->setPool(&pool);
        layer->setBudget(64 * 1024 * 1024);
        layer->setImage(tiled);
        // 100 % over the picture's centre.
        QImage canvas(800, 600, QImage::Format_RGB32);
        const auto paint = [&](TileLayer& on, QRectF visible) {
            canvas.fill(Qt::black);
            QPainter painter(&canvas);
            on.paint(painter, visible, visible, -visible.topLeft(), 1.0, 1.0);
        };
        const QRectF centre(1100, 700, 800, 600);
        const auto sharp = [&] {
            paint(*layer, centre);
            // Middles of checks, both dark and light; what has no tile yet stays black.
            for (const QPoint at : {QPoint(24, 24), QPoint(784, 24), QPoint(24, 576),
                                    QPoint(784, 576), QPoint(400, 296), QPoint(408, 296)}) {
                const QRgb expected = picture.pixel(at + centre.topLeft().toPoint());
                if (qAbs(qGray(canvas.pixel(at)) - qGray(expected)) > 40)
                    return false;
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(sharp(), 20000);

        // A batch in flight when the picture goes, then when the layer itself goes.
        paint(*layer, QRectF(0, 0, 800, 600));
        layer->setImage(nullptr);
        paint(*layer, centre);
        layer->setImage(tiled);
        paint(*layer, QRectF(2200, 1400, 800, 600));
        layer.reset();
        pool.waitForDone();
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(TestTileLayer)
#include "test_tilelayer.moc"
