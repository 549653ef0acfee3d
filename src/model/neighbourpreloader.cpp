#include "neighbourpreloader.h"

#include "imaging/decode.h"
#include "logging.h"

#include <QThreadPool>
#include <QtConcurrent>

namespace kivo {

namespace {

// A decoded image made ready to draw: decoded at the size it is shown (a full decode scaled
// down where the format has no cheaper way) and the reduced-size copies the canvas draws from
// prepared, so nothing costly is left for the GUI thread.
ImagePtr decodeReadyToDraw(const FilePath& path, QSize box) {
    auto decoded = decodeLevel(path, box, true);
    if (!decoded)
        return nullptr;
    (*decoded)->prepareReducedCopies();
    return *decoded;
}

} // namespace

NeighbourPreloader::NeighbourPreloader(QThreadPool* pool,
                                       std::function<bool(const FilePath&)> isNeighbour,
                                       QObject* parent)
    : QObject(parent)
    , pool_(pool)
    , isNeighbour_(std::move(isNeighbour)) {}

// Decodes still running finish on their own; their continuations die with this object.
NeighbourPreloader::~NeighbourPreloader() = default;

void NeighbourPreloader::setImages(std::map<FilePath, ImagePtr> images) {
    if (images == images_)
        return;
    images_ = std::move(images);
    Q_EMIT imagesChanged();
}

void NeighbourPreloader::store(const FilePath& url, ImagePtr image) {
    if (image)
        images_[url] = std::move(image);
    else
        images_.erase(url);
    Q_EMIT imagesChanged();
}

ImagePtr NeighbourPreloader::take(const FilePath& url) {
    auto it = images_.find(url);
    if (it == images_.end())
        return nullptr;
    ImagePtr image = std::move(it->second);
    images_.erase(it);
    Q_EMIT imagesChanged();
    return image;
}

void NeighbourPreloader::preload(const FilePath& previous, const FilePath& next, QSize box) {
    std::map<FilePath, ImagePtr> kept;
    std::vector<ImagePtr> dropped;
    for (const auto& [url, image] : images_) {
        if (url == next || url == previous)
            kept.emplace(url, image);
        else
            dropped.push_back(image);
    }
    setImages(std::move(kept));
    release(std::move(dropped));
    if (!pool_)
        return;

    for (const FilePath& url : {next, previous}) {
        if (images_.count(url) || inFlight_.count(url))
            continue;
        const quint64 ticket = ++lastTicket_;
        inFlight_[url] = ticket;
        QtConcurrent::run(pool_, decodeReadyToDraw, url, box)
            .then(this,
                  [this, url, ticket](ImagePtr image) { arrived(url, ticket, std::move(image)); });
    }
}

void NeighbourPreloader::arrived(const FilePath& url, quint64 ticket, ImagePtr image) {
    auto inFlight = inFlight_.find(url);
    if (inFlight == inFlight_.end() || inFlight->second != ticket) {
        release({std::move(image)}); // superseded: the file was rewritten or trashed meanwhile
        return;
    }
    inFlight_.erase(inFlight);
    if (!isNeighbour_(url)) {
        // The user stepped on while it decoded: holding it would let fast stepping pile up
        // pictures until the next step trims the cache.
        qCDebug(lcModel) << "dropping a late preload of" << displayName(url);
        release({std::move(image)});
        return;
    }
    store(url, std::move(image));
}

void NeighbourPreloader::forget(const FilePath& url) {
    inFlight_.erase(url);
    release({take(url)});
}

void NeighbourPreloader::release(std::vector<ImagePtr> images) {
    std::erase(images, nullptr);
    if (images.empty() || !pool_)
        return;
    // Ahead of queued decodes, so the memory is back before the next picture needs it. Where a
    // view still holds one, the picture simply lives on there.
    constexpr int aheadOfDecodes = 1;
    pool_->start([images = std::move(images)]() mutable { images.clear(); }, aheadOfDecodes);
}

} // namespace kivo
