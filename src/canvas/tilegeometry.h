// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the tiles of a picture too large to hold whole lie, which of them a view needs, and
// which a full cache lets go. Pure functions, so the choices can be checked without a screen.

#include <QHash>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <functional>
#include <vector>

namespace kivo::tiles {

// Tiles are this many pixels on a side in the pixels of their own level: a 512×512 RGB32 tile
// is 1 MB, small enough to arrive quickly, large enough that a screen needs a few dozen.
constexpr int kTileSide = 512;

struct TileKey {
    int level = 0; // reduction 2^level
    int column = 0;
    int row = 0;
    friend bool operator==(const TileKey&, const TileKey&) = default;
};

inline size_t qHash(const TileKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.level, key.column, key.row);
}

// The finest power-of-two reduction (0: full resolution) whose pixels are still at least as
// dense as `devicePixelsPerPicturePixel`, so a tile is drawn downsampled, never upsampled.
// Never above `coarsest`.
int levelForScale(double devicePixelsPerPicturePixel, int coarsest = 30);

// Columns and rows of tiles covering a picture of `pictureSize` at `level`.
QSize gridSize(QSize pictureSize, int level);

// The part of the full-resolution picture that tile `key` covers, clipped at the picture's
// right and bottom edges; empty for a tile outside the grid.
QRect tileRect(QSize pictureSize, const TileKey& key);

// The tiles of `level` that a view showing `visible` (full-resolution picture coordinates)
// needs: first those it shows, then those of a margin of half a view on the sides it is moving
// towards (`panDirection`, any length; null when it stands still), each group nearest to the
// view's centre first.
std::vector<TileKey> tilesForView(QSize pictureSize, int level, const QRectF& visible,
                                  QPointF panDirection = {});

struct CachedTile {
    TileKey key;
    quint64 lastSeen = 0; // larger is more recent
    qint64 bytes = 0;
};

// The tiles to let go so that the rest fit into `budget` bytes: least recently seen first,
// never one for which `isVisible` holds (the view would flash its coarser level), so the cache
// may stay above its budget while the view shows more than it holds.
std::vector<TileKey> tilesToEvict(std::vector<CachedTile> tiles, qint64 budget,
                                  const std::function<bool(const TileKey&)>& isVisible);

} // namespace kivo::tiles
