// SPDX-License-Identifier: GPL-3.0-or-later
// Which tiles a view of a huge picture asks for, at which level, and which a full cache drops.
#include "canvas/tilegeometry.h"

#include <QTest>

using namespace kivo;
using namespace kivo::tiles;

namespace {

using Keys = std::vector<TileKey>;

QList<QPoint> cells(const Keys& keys) {
    QList<QPoint> result;
    for (const TileKey& key : keys)
        result.append(QPoint(key.column, key.row));
    return result;
}

} // namespace

class TestTileGeometry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void levelForScale_data() {
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("coarsest");
        QTest::addColumn<int>("level");
        QTest::newRow("actual size") << 1.0 << 30 << 0;
        QTest::newRow("zoomed in") << 3.0 << 30 << 0;
        QTest::newRow("just below 100 % stays sharp") << 0.99 << 30 << 0;
        QTest::newRow("exactly half") << 0.5 << 30 << 1;
        QTest::newRow("half after rounding in zoom steps") << 0.5 + 1e-12 << 30 << 1;
        QTest::newRow("between a half and a quarter") << 0.3 << 30 << 1;
        QTest::newRow("a 2x screen at 50 % needs full pixels") << 0.5 * 2 << 30 << 0;
        QTest::newRow("an eighth") << 0.125 << 30 << 3;
        QTest::newRow("capped at the coarsest") << 0.01 << 3 << 3;
        QTest::newRow("no scale yet") << 0.0 << 4 << 4;
    }
    void levelForScale() {
        QFETCH(double, scale);
        QFETCH(int, coarsest);
        QFETCH(int, level);
        QCOMPARE(tiles::levelForScale(scale, coarsest), level);
    }

    void grid_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("level");
        QTest::addColumn<QSize>("grid");
        QTest::addColumn<QRect>("lastTile"); // bottom-right tile, clipped at the edges
        QTest::newRow("12000x8000 at 100 %")
            << QSize(12000, 8000) << 0 << QSize(24, 16) << QRect(11776, 7680, 224, 320);
        QTest::newRow("12000x8000 at 1/4")
            << QSize(12000, 8000) << 2 << QSize(6, 4) << QRect(10240, 6144, 1760, 1856);
        QTest::newRow("exact multiple has no sliver")
            << QSize(1024, 512) << 0 << QSize(2, 1) << QRect(512, 0, 512, 512);
        QTest::newRow("one pixel over adds a column")
            << QSize(1025, 512) << 0 << QSize(3, 1) << QRect(1024, 0, 1, 512);
        QTest::newRow("a tile larger than the picture")
            << QSize(300, 200) << 4 << QSize(1, 1) << QRect(0, 0, 300, 200);
        QTest::newRow("sides near 2^31 do not overflow")
            << QSize(2000000000, 1000) << 0 << QSize(3906250, 2)
            << QRect(1999999488, 512, 512, 488);
    }
    void grid() {
        QFETCH(QSize, picture);
        QFETCH(int, level);
        QFETCH(QSize, grid);
        QFETCH(QRect, lastTile);
        QCOMPARE(gridSize(picture, level), grid);
        QCOMPARE(tileRect(picture, {level, grid.width() - 1, grid.height() - 1}), lastTile);
        QVERIFY(tileRect(picture, {level, grid.width(), 0}).isEmpty());
        QVERIFY(tileRect(picture, {level, -1, 0}).isEmpty());
    }

    void tilesForView_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("level");
        QTest::addColumn<QRectF>("visible");
        QTest::addColumn<QPointF>("pan");
        QTest::addColumn<QList<QPoint>>("expected");
        const QSize picture(4096, 4096);
        // A view of exactly one tile's cells: the four around the centre, nearest first.
        QTest::newRow("standing still, centred on a corner")
            << picture << 0 << QRectF(768, 768, 512, 512) << QPointF()
            << QList<QPoint>{{1, 1}, {2, 1}, {1, 2}, {2, 2}};
        QTest::newRow("edges that touch a tile do not need it")
            << picture << 0 << QRectF(512, 512, 512, 512) << QPointF() << QList<QPoint>{{1, 1}};
        QTest::newRow("panning right adds the column ahead after the visible ones")
            << picture << 0 << QRectF(512, 512, 1024, 512) << QPointF(5, 0)
            << QList<QPoint>{{1, 1}, {2, 1}, {3, 1}};
        QTest::newRow("panning up-left adds the margin above and left")
            << picture << 0 << QRectF(1024, 1024, 1024, 1024) << QPointF(-1, -3)
            << QList<QPoint>{{2, 2}, {3, 2}, {2, 3}, {3, 3}, {2, 1},
                             {3, 1}, {1, 2}, {1, 3}, {1, 1}};
        QTest::newRow("margin stops at the picture's edge")
            << picture << 0 << QRectF(3584, 0, 512, 512) << QPointF(1, 0) << QList<QPoint>{{7, 0}};
        QTest::newRow("a coarser level counts its own tiles")
            << picture << 2 << QRectF(0, 0, 4096, 4096) << QPointF()
            << QList<QPoint>{{0, 0}, {1, 0}, {0, 1}, {1, 1}};
        QTest::newRow("a view beyond the picture needs nothing")
            << picture << 0 << QRectF(5000, 0, 100, 100) << QPointF() << QList<QPoint>{};
    }
    void tilesForView() {
        QFETCH(QSize, picture);
        QFETCH(int, level);
        QFETCH(QRectF, visible);
        QFETCH(QPointF, pan);
        QFETCH(QList<QPoint>, expected);
        const Keys keys = tiles::tilesForView(picture, level, visible, pan);
        QCOMPARE(cells(keys), expected);
        for (const TileKey& key : keys)
            QCOMPARE(key.level, level);
    }

    void eviction_data() {
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<QList<int>>("visibleColumns");
        QTest::addColumn<QList<int>>("evictedColumns");
        // Tiles in columns 0..3, seen at 40, 10, 30, 20, 1 MB each.
        QTest::newRow("within budget keeps all") << qint64(4) << QList<int>{} << QList<int>{};
        QTest::newRow("least recently seen goes first")
            << qint64(3) << QList<int>{} << QList<int>{1};
        QTest::newRow("then the next oldest") << qint64(2) << QList<int>{} << QList<int>{1, 3};
        QTest::newRow("a visible tile is skipped, however old")
            << qint64(2) << QList<int>{1} << QList<int>{3, 2};
        QTest::newRow("all visible: over budget rather than a flash")
            << qint64(0) << QList<int>{0, 1, 2, 3} << QList<int>{};
    }
    void eviction() {
        QFETCH(qint64, budget);
        QFETCH(QList<int>, visibleColumns);
        QFETCH(QList<int>, evictedColumns);
        const qint64 mb = 1 << 20;
        const std::vector<CachedTile> cached{
            {{0, 0, 0}, 40, mb}, {{0, 1, 0}, 10, mb}, {{0, 2, 0}, 30, mb}, {{0, 3, 0}, 20, mb}};
        const Keys evicted = tilesToEvict(cached, budget * mb, [&](const TileKey& key) {
            return visibleColumns.contains(key.column);
        });
        QList<int> columns;
        for (const TileKey& key : evicted)
            columns.append(key.column);
        QCOMPARE(columns, evictedColumns);
    }
};

QTEST_GUILESS_MAIN(TestTileGeometry)
#include "test_tilegeometry.moc"
