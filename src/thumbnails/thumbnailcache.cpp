// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbnailcache.h"

#include "imaging/source.h"
#include "imaging/tasks/cancellation.h"
#include "imaging/tasks/handoff.h"

#include <QFutureWatcher>
#include <QThread>
#include <QThreadPool>

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

std::optional<ThumbnailCache::FileStamp> ThumbnailCache::stampOf(const FilePath& path) {
    std::error_code error;
    const auto modified = std::filesystem::last_write_time(path, error);
    if (error)
        return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        return std::nullopt;
    return FileStamp{modified, size};
}

std::optional<QImage> ThumbnailCache::cached(const FilePath& path) const {
    Q_ASSERT(QThread::currentThread() == thread());
    const auto it = cache_.find(path.native());
    if (it == cache_.end() || stampOf(path) != it->second.stamp)
        return std::nullopt;
    return it->second.thumbnail;
}

void ThumbnailCache::store(const FilePath& path, const QImage& thumbnail, const FileStamp& stamp) {
    if (cache_.size() >= std::size_t(maxEntries))
        cache_.clear();
    cache_.insert_or_assign(path.native(), Entry{thumbnail, stamp});
}

ThumbnailRequest ThumbnailCache::requestThumbnail(const FilePath& path, QObject* receiver,
                                                  Callback done) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (auto hit = cached(path)) {
        done(std::move(hit));
        return {};
    }
    // Stamped before decoding: a file that changes while it decodes is decoded again next time.
    const auto stamp = stampOf(path);
    ThumbnailRequest request;
    request.cancelled_ = std::make_shared<std::atomic_bool>(false);
    // The watcher is the cache's child: it delivers on the cache's thread and goes away with the
    // cache, so a late result never reaches a destroyed cache.
    auto* watcher = new QFutureWatcher<std::optional<QImage>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, path, stamp, cancelled = request.cancelled_,
             guarded = receiver != nullptr, guard = QPointer<QObject>(receiver),
             done = std::move(done)] {
                watcher->deleteLater();
                // A task the pool dropped before it ran has no result.
                std::optional<QImage> thumbnail;
                if (watcher->future().resultCount() > 0)
                    thumbnail = watcher->result();
                if (thumbnail && stamp)
                    store(path, *thumbnail, *stamp);
                if ((guard || !guarded) && !cancelled->load())
                    done(thumbnail);
            });
    // A request cancelled while it waited in the pool is dropped without touching the file, and
    // one cancelled while it decodes stops at its next read.
    watcher->setFuture(runOnPool(pool_, [path, cancelled = request.cancelled_] {
        const CancelScope scope(*cancelled);
        return cancelled->load() ? std::nullopt : makeThumbnail(path);
    }));
    return request;
}

} // namespace kivo
