// SPDX-License-Identifier: GPL-3.0-or-later
#include "tilegeometry.h"

#include <algorithm>
#include <cmath>

namespace kivo::tiles {

namespace {

qint64 tileSpan(int level) {
    return qint64(kTileSide) << level;
}

void sortByDistance(std::vector<TileKey>& keys, QSize pictureSize, QPointF centre) {
    const auto distance = [&](const TileKey& key) {
        const QPointF d = QRectF(tileRect(pictureSize, key)).center() - centre;
        return d.x() * d.x() + d.y() * d.y();
    };
    std::stable_sort(keys.begin(), keys.end(),
                     [&](const TileKey& a, const TileKey& b) { return distance(a) < distance(b); });
}

} // namespace

int levelForScale(double devicePixelsPerPicturePixel, int coarsest) {
    if (!(devicePixelsPerPicturePixel > 0.0))
        return std::max(coarsest, 0);
    int level = 0;
    // A tiny tolerance keeps a scale of exactly 1/2^n, reached through a chain of zoom steps,
    // on level n rather than one finer.
    while (level < coarsest && std::ldexp(1.0, -(level + 1)) >= devicePixelsPerPicturePixel - 1e-9)
        ++level;
    return level;
}

QSize gridSize(QSize pictureSize, int level) {
    if (pictureSize.isEmpty() || level < 0 || level > 30)
        return {};
    const qint64 span = tileSpan(level);
    return QSize(int((pictureSize.width() + span - 1) / span),
                 int((pictureSize.height() + span - 1) / span));
}

QRect tileRect(QSize pictureSize, const TileKey& key) {
    const QSize grid = gridSize(pictureSize, key.level);
    if (key.column < 0 || key.row < 0 || key.column >= grid.width() || key.row >= grid.height())
        return {};
    const qint64 span = tileSpan(key.level);
    const qint64 x = key.column * span;
    const qint64 y = key.row * span;
    return QRect(int(x), int(y), int(std::min<qint64>(span, pictureSize.width() - x)),
                 int(std::min<qint64>(span, pictureSize.height() - y)));
}

std::vector<TileKey> tilesForView(QSize pictureSize, int level, const QRectF& visible,
                                  QPointF panDirection) {
    const QSize grid = gridSize(pictureSize, level);
    const QRectF picture{QPointF(), QSizeF(pictureSize)};
    const QRectF shown = visible & picture;
    if (grid.isEmpty() || shown.isEmpty())
        return {};
    QRectF ahead = shown;
    const double sideX = shown.width() / 2, sideY = shown.height() / 2;
    if (panDirection.x() > 0)
        ahead.setRight(ahead.right() + sideX);
    else if (panDirection.x() < 0)
        ahead.setLeft(ahead.left() - sideX);
    if (panDirection.y() > 0)
        ahead.setBottom(ahead.bottom() + sideY);
    else if (panDirection.y() < 0)
        ahead.setTop(ahead.top() - sideY);
    ahead &= picture;

    const double span = double(tileSpan(level));
    const auto range = [&](const QRectF& r) {
        // Edges that only touch a tile do not need it.
        return QRect(QPoint(int(std::floor(r.left() / span)), int(std::floor(r.top() / span))),
                     QPoint(int(std::ceil(r.right() / span)) - 1,
                            int(std::ceil(r.bottom() / span)) - 1)) &
               QRect(QPoint(), grid);
    };
    const QRect inView = range(shown);
    const QRect inMargin = range(ahead);
    std::vector<TileKey> visibleKeys, marginKeys;
    for (int row = inMargin.top(); row <= inMargin.bottom(); ++row) {
        for (int column = inMargin.left(); column <= inMargin.right(); ++column) {
            const TileKey key{level, column, row};
            (inView.contains(column, row) ? visibleKeys : marginKeys).push_back(key);
        }
    }
    sortByDistance(visibleKeys, pictureSize, shown.center());
    sortByDistance(marginKeys, pictureSize, shown.center());
    visibleKeys.insert(visibleKeys.end(), marginKeys.begin(), marginKeys.end());
    return visibleKeys;
}

std::vector<TileKey> tilesToEvict(std::vector<CachedTile> tiles, qint64 budget,
                                  const std::function<bool(const TileKey&)>& isVisible) {
    qint64 total = 0;
    for (const CachedTile& tile : tiles)
        total += tile.bytes;
    std::stable_sort(tiles.begin(), tiles.end(), [](const CachedTile& a, const CachedTile& b) {
        return a.lastSeen < b.lastSeen;
    });
    std::vector<TileKey> evicted;
    for (const CachedTile& tile : tiles) {
        if (total <= budget)
            break;
        if (isVisible && isVisible(tile.key))
            continue;
        evicted.push_back(tile.key);
        total -= tile.bytes;
    }
    return evicted;
}

} // namespace kivo::tiles
