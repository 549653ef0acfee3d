// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/image.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/tasks/pendingresult.h"

#include <QObject>
#include <QSize>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QThreadPool;

namespace kivo {

// Decodes the previous and next image of the folder in the background and keeps them until one
// becomes current, so a step does not wait for a decode. Holds at most those two: a decode that
// comes back after the user moved on is kept only if its file is still a neighbour. Results come
// back on the GUI thread through watchers this object owns, so nothing reaches a preloader (or
// its window's model) destroyed meanwhile; a preloader destroyed or moved on cancels its decodes
// that have not started.
class NeighbourPreloader : public QObject {
    Q_OBJECT

public:
    // Decodes run on `pool`; with none, nothing is preloaded and every image is decoded when it
    // is shown. `isNeighbour` tells whether a file is still the previous or next image.
    NeighbourPreloader(QThreadPool* pool, std::function<bool(const FilePath&)> isNeighbour,
                       QObject* parent = nullptr);
    ~NeighbourPreloader() override;

    const std::map<FilePath, ImagePtr>& images() const { return images_; }
    void setImages(std::map<FilePath, ImagePtr> images); // notifies only on change
    void store(const FilePath& url, ImagePtr image);     // none removes the entry; notifies
    ImagePtr take(const FilePath& url);                  // notifies when there was an entry
    // The decode running for `url`, handed over to whoever shows it now; none when there is none.
    std::optional<QFuture<ImagePtr>> takeRunning(const FilePath& url);

    // Keeps only the entries of `previous` and `next` and starts decoding whichever is missing,
    // at the size it is shown in `box` (device pixels; invalid: full size).
    void preload(const FilePath& previous, const FilePath& next, QSize box = {});

    // Pictures from now on are converted to `target`; those held or decoding for another are
    // dropped.
    void setTarget(const DisplayProfile& target);

    // The file changed on disk or left the folder: its entry and any decode still running for
    // it are stale.
    void forget(const FilePath& url);

    // Drops references to pictures on a worker: handing back a large picture's memory unmaps
    // tens of thousands of pages, several milliseconds for a 24-megapixel one.
    void release(std::vector<ImagePtr> images);

Q_SIGNALS:
    void imagesChanged();

private:
    void arrived(const FilePath& url, ImagePtr image);
    void cancel(const FilePath& url);

    QThreadPool* pool_;
    DisplayProfile target_;
    std::function<bool(const FilePath&)> isNeighbour_;
    std::map<FilePath, ImagePtr> images_;
    // The decode running for each file, so a neighbour is not decoded twice at once and a
    // decode of content since replaced (or of a file since trashed) is never stored.
    struct InFlight {
        InFlight(QObject* owner, QThreadPool* pool)
            : result(owner, pool) {}
        std::shared_ptr<std::atomic_bool> cancelled = std::make_shared<std::atomic_bool>(false);
        PendingResult<ImagePtr> result;
    };
    std::map<FilePath, InFlight> inFlight_;
};

} // namespace kivo
