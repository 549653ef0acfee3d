// SPDX-License-Identifier: GPL-3.0-or-later
#include "tilecache.h"

namespace kivo {

const QImage* TileCache::find(const tiles::TileKey& key) const {
    const auto it = tiles_.constFind(key);
    return it == tiles_.cend() ? nullptr : &it->image;
}

void TileCache::insert(const tiles::TileKey& key, QImage tile) {
    const auto it = tiles_.find(key);
    if (it != tiles_.end())
        bytes_ -= it->image.sizeInBytes();
    bytes_ += tile.sizeInBytes();
    tiles_.insert(key, Entry{std::move(tile), ++clock_});
}

void TileCache::markSeen(const std::vector<tiles::TileKey>& keys) {
    ++clock_;
    for (const tiles::TileKey& key : keys) {
        const auto it = tiles_.find(key);
        if (it != tiles_.end())
            it->lastSeen = clock_;
    }
}

void TileCache::trim(const std::function<bool(const tiles::TileKey&)>& isVisible) {
    if (bytes_ <= budget_)
        return;
    std::vector<tiles::CachedTile> entries;
    entries.reserve(size_t(tiles_.size()));
    for (auto it = tiles_.cbegin(); it != tiles_.cend(); ++it)
        entries.push_back({it.key(), it->lastSeen, it->image.sizeInBytes()});
    for (const tiles::TileKey& key : tiles::tilesToEvict(std::move(entries), budget_, isVisible)) {
        const auto it = tiles_.find(key);
        bytes_ -= it->image.sizeInBytes();
        tiles_.erase(it);
    }
}

void TileCache::clear() {
    tiles_.clear();
    bytes_ = 0;
}

} // namespace kivo
