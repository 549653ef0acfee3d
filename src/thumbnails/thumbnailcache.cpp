#include "thumbnailcache.h"

#include "imaging/source.h"

#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace kivo {

ThumbnailCache::ThumbnailCache(QThreadPool& pool, QObject* parent)
    : QObject(parent)
    , pool_(pool) {}

// Decodes still running keep going; their continuations die with the cache, so nothing is
// delivered.
ThumbnailCache::~ThumbnailCache() = default;

std::optional<QImage> ThumbnailCache::makeThumbnail(const FilePath& path) {
    const auto source = ImageSource::open(path);
    if (!source)
        return std::nullopt;
    auto thumbnail = source->thumbnail(kMaxPixelSize);
    if (!thumbnail || thumbnail->isNull())
        return std::nullopt;
    return std::move(*thumbnail);
}

std::optional<QImage> ThumbnailCache::cached(const FilePath& path) const {
    Q_ASSERT(QThread::currentThread() == thread());
    const auto it = cache_.find(path.native());
    if (it == cache_.end())
        return std::nullopt;
    return it->second;
}

void ThumbnailCache::store(const FilePath& path, const QImage& thumbnail) {
    if (cache_.size() >= std::size_t(maxEntries))
        cache_.clear();
    cache_.insert_or_assign(path.native(), thumbnail);
}

void ThumbnailCache::requestThumbnail(const FilePath& path, QObject* receiver, Callback done) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (auto hit = cached(path)) {
        done(std::move(hit));
        return;
    }
    // The continuation runs on the cache's thread and only while the cache lives, so a late
    // result never reaches a destroyed cache.
    QtConcurrent::run(&pool_, &ThumbnailCache::makeThumbnail, path)
        .then(this, [this, path, guarded = receiver != nullptr, guard = QPointer<QObject>(receiver),
                     done = std::move(done)](std::optional<QImage> thumbnail) {
            if (thumbnail)
                store(path, *thumbnail);
            if (guard || !guarded)
                done(std::move(thumbnail));
        });
}

} // namespace kivo
