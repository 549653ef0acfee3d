#pragma once

#include "imaging/filepath.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

class QThreadPool;

namespace kivo {

// The small pictures of the thumbnail strip, shared by every window: the application creates
// one and hands it to whoever shows thumbnails. Lookups and stores happen on the thread that owns
// the cache (the GUI thread); only decoding runs on the thread pool.
class ThumbnailCache : public QObject {
    Q_OBJECT

public:
    // Longer side of a thumbnail, in pixels.
    static constexpr int kMaxPixelSize = 120;
    // Bound on the number of thumbnails kept. When it is reached the cache is emptied before the
    // next one is stored: simpler than tracking use, and a strip refills what it shows.
    static constexpr int maxEntries = 500;

    using Callback = std::function<void(std::optional<QImage>)>;

    // Decoding runs on `pool`, the application's thumbnail threads (never Qt's global pool,
    // which smooth scaling waits on while painting).
    explicit ThumbnailCache(QThreadPool& pool, QObject* parent = nullptr);
    ~ThumbnailCache() override;

    // The thumbnail of `path` to `done`, on the cache's thread. A cached thumbnail is given at
    // once, before this returns; otherwise it is decoded in the background, stored when there is
    // one, and given later, unless `receiver` (when one is given) is gone by then. None means the
    // file could not be read or holds no image; that is not remembered, so a later request tries
    // again.
    void requestThumbnail(const FilePath& path, QObject* receiver, Callback done);

    // The stored thumbnail of `path`, without decoding.
    std::optional<QImage> cached(const FilePath& path) const;
    int count() const { return int(cache_.size()); }

    // The background step: an upright sRGB picture whose longer side is at most kMaxPixelSize,
    // made from the full image. Safe on any thread.
    static std::optional<QImage> makeThumbnail(const FilePath& path);

private:
    void store(const FilePath& path, const QImage& thumbnail);

    QThreadPool& pool_;
    std::unordered_map<FilePath::string_type, QImage> cache_;
};

} // namespace kivo
