// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tilegeometry.h"

#include <QHash>
#include <QImage>
#include <functional>

namespace kivo {

// The tiles of one picture read so far, within a byte budget. Tiles the view shows are marked
// seen on every paint; when the cache outgrows its budget the least recently seen go first.
// Confined to the GUI thread.
class TileCache {
public:
    explicit TileCache(qint64 budgetBytes)
        : budget_(budgetBytes) {}

    qint64 budget() const { return budget_; }
    void setBudget(qint64 bytes) { budget_ = bytes; }
    qint64 bytes() const { return bytes_; }
    qsizetype count() const { return tiles_.size(); }

    const QImage* find(const tiles::TileKey& key) const;
    bool contains(const tiles::TileKey& key) const { return tiles_.contains(key); }
    // Adds or replaces a tile, seen now.
    void insert(const tiles::TileKey& key, QImage tile);
    void markSeen(const std::vector<tiles::TileKey>& keys);
    // Lets go of tiles until the rest fit the budget, sparing those for which `isVisible`
    // holds.
    void trim(const std::function<bool(const tiles::TileKey&)>& isVisible);
    void clear();

    // Every tile, for drawing: key and bitmap.
    template <class Visit> void forEach(Visit visit) const {
        for (auto it = tiles_.cbegin(); it != tiles_.cend(); ++it)
            visit(it.key(), it.value().image);
    }

private:
    struct Entry {
        QImage image;
        quint64 lastSeen = 0;
    };
    QHash<tiles::TileKey, Entry> tiles_;
    qint64 budget_;
    qint64 bytes_ = 0;
    quint64 clock_ = 0;
};

} // namespace kivo
