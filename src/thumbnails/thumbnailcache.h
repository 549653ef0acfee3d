// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

class QThreadPool;

namespace kivo {

// A pending thumbnail request. Cancelling it before the decode starts skips the decode; either
// way the callback is not called any more. Default-constructed, it stands for no request.
class ThumbnailRequest {
public:
    ThumbnailRequest() = default;
    void cancel() {
        if (cancelled_)
            cancelled_->store(true);
    }

private:
    friend class ThumbnailCache;
    std::shared_ptr<std::atomic_bool> cancelled_;
};

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
    // again. A stored thumbnail counts only while the file keeps the modification time and size
    // it had when it was decoded, so a rewritten, rotated or replaced file is decoded anew.
    ThumbnailRequest requestThumbnail(const FilePath& path, QObject* receiver, Callback done);

    // The stored thumbnail of `path`, without decoding; none when the file changed since.
    std::optional<QImage> cached(const FilePath& path) const;
    // Forgets the thumbnail of `path`, for callers that know the file changed.
    void invalidate(const FilePath& path) { cache_.erase(path.native()); }
    int count() const { return int(cache_.size()); }

    // The background step: an upright sRGB picture whose longer side is at most kMaxPixelSize,
    // made from the full image. Safe on any thread.
    static std::optional<QImage> makeThumbnail(const FilePath& path);

private:
    // What identifies one version of a file's content without reading it.
    struct FileStamp {
        std::filesystem::file_time_type modified;
        std::uintmax_t size = 0;
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };
    struct Entry {
        QImage thumbnail;
        FileStamp stamp;
    };
    static std::optional<FileStamp> stampOf(const FilePath& path);
    void store(const FilePath& path, const QImage& thumbnail, const FileStamp& stamp);

    QThreadPool& pool_;
    std::unordered_map<FilePath::string_type, Entry> cache_;
};

} // namespace kivo
