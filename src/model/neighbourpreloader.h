#pragma once

#include "imaging/filepath.h"
#include "imaging/image.h"

#include <QObject>
#include <QSize>
#include <functional>
#include <map>
#include <vector>

class QThreadPool;

namespace kivo {

// Decodes the previous and next image of the folder in the background and keeps them until one
// becomes current, so a step does not wait for a decode. Holds at most those two: a decode that
// comes back after the user moved on is kept only if its file is still a neighbour. Results come
// back on the GUI thread as continuations bound to this object, so nothing reaches a preloader
// (or its window's model) destroyed meanwhile.
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

    // Keeps only the entries of `previous` and `next` and starts decoding whichever is missing,
    // at the size it is shown in `box` (device pixels; invalid: full size).
    void preload(const FilePath& previous, const FilePath& next, QSize box = {});

    // The file changed on disk or left the folder: its entry and any decode still running for
    // it are stale.
    void forget(const FilePath& url);

    // Drops references to pictures on a worker: handing back a large picture's memory unmaps
    // tens of thousands of pages, several milliseconds for a 24-megapixel one.
    void release(std::vector<ImagePtr> images);

Q_SIGNALS:
    void imagesChanged();

private:
    void arrived(const FilePath& url, quint64 ticket, ImagePtr image);

    QThreadPool* pool_;
    std::function<bool(const FilePath&)> isNeighbour_;
    std::map<FilePath, ImagePtr> images_;
    // The latest decode started for each file, so a neighbour is not decoded twice at once and
    // a decode of content since replaced (or of a file since trashed) is never stored.
    std::map<FilePath, quint64> inFlight_;
    quint64 lastTicket_ = 0;
};

} // namespace kivo
