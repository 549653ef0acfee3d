// Opening, stepping through the folder, preloading the neighbours, and the display mode's zoom.
#include "appstate.h"
#include "imaging/decode.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace kivo {

namespace {

// A decoded image made ready to draw: full decode done and the reduced-size copies the canvas
// draws from at fit size prepared, so nothing costly is left for the GUI thread.
ImagePtr decodeReadyToDraw(const FilePath& path) {
    ImagePtr image = decodeImage(path);
    if (image)
        image->prepareReducedCopies();
    return image;
}

} // namespace

void AppState::openFile(const FilePath& url) {
    setCurrentURL(url);
    setCurrentImage(decodeImage(url));
    setRotation(0.0);
    loadFolder(url);
    setMetadata(extractMetadata(url));
    applyDisplayModeZoom();
    preloadNeighbors();
}

void AppState::loadCurrentImage() {
    if (currentIndex_ < 0 || currentIndex_ >= static_cast<qsizetype>(imageFiles_.size()))
        return;
    const FilePath url = imageFiles_[static_cast<size_t>(currentIndex_)];
    setCurrentURL(url);
    ImagePtr image = takePreloadedImage(url);
    if (!image)
        image = decodeImage(url);
    setCurrentImage(std::move(image));
    setRotation(0.0);
    setMetadata(extractMetadata(url));
    preloadNeighbors();
}

void AppState::reloadCurrentImage() {
    if (!currentURL_)
        return;
    const FilePath url = *currentURL_;
    setCurrentImage(decodeImage(url));
    setMetadata(extractMetadata(url));
    // A decode of the old content is stale now, whether it already finished or is still running.
    takePreloadedImage(url);
    preloadsInFlight_.erase(url);
}

void AppState::navigate(int offset) {
    const auto n = static_cast<qsizetype>(imageFiles_.size());
    if (n < 2)
        return;
    setCurrentIndex((((currentIndex_ + offset) % n) + n) % n);
    loadCurrentImage();
}

void AppState::goToIndex(qsizetype index) {
    if (index < 0 || index >= static_cast<qsizetype>(imageFiles_.size()) || index == currentIndex_)
        return;
    setCurrentIndex(index);
    loadCurrentImage();
}

void AppState::preloadNeighbors() {
    const auto n = static_cast<qsizetype>(imageFiles_.size());
    if (n < 2)
        return;
    // Copies: observers of the cache run inside setPreloadedImages and may touch the list.
    const FilePath next = imageFiles_[static_cast<size_t>((currentIndex_ + 1) % n)];
    const FilePath previous = imageFiles_[static_cast<size_t>((currentIndex_ - 1 + n) % n)];

    std::map<FilePath, ImagePtr> kept;
    for (const auto& [url, image] : preloadedImages_)
        if (url == next || url == previous)
            kept.emplace(url, image);
    setPreloadedImages(std::move(kept));

    for (const FilePath& url : {next, previous}) {
        if (preloadedImages_.count(url) || preloadsInFlight_.count(url))
            continue;
        const quint64 ticket = ++lastPreloadTicket_;
        preloadsInFlight_[url] = ticket;
        // The task holds the model weakly: a window closed meanwhile is never touched, and its
        // decoded image is simply dropped.
        QPointer<AppState> guard(this);
        QThreadPool::globalInstance()->start([guard, url, ticket] {
            ImagePtr image = decodeReadyToDraw(url);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, url, ticket, image = std::move(image)]() mutable {
                    if (!guard)
                        return;
                    auto inFlight = guard->preloadsInFlight_.find(url);
                    if (inFlight == guard->preloadsInFlight_.end() || inFlight->second != ticket)
                        return; // superseded: the file was rewritten or trashed meanwhile
                    guard->preloadsInFlight_.erase(inFlight);
                    guard->storePreloadedImage(url, std::move(image));
                },
                Qt::QueuedConnection);
        });
    }
}

void AppState::setDisplayMode(DisplayMode mode) {
    setDisplayModeField(mode);
    if (mode == DisplayMode::autoSizeWindow)
        setZoomAction(ZoomAction::fit);
    else
        applyDisplayModeZoom();
}

void AppState::applyDisplayModeZoom() {
    switch (displayMode_) {
    case DisplayMode::fitToWindow:
        setZoomAction(ZoomAction::fit);
        break;
    case DisplayMode::actualSize:
        setZoomAction(ZoomAction::actualSize);
        break;
    case DisplayMode::autoSizeWindow:
        break; // the canvas sizes the window itself
    }
}

QString AppState::windowTitle() const {
    if (!currentURL_)
        return QStringLiteral("Kivo");
    QString title = displayName(*currentURL_);
    if (imageFiles_.size() >= 2)
        title += QStringLiteral(" [%1/%2]").arg(currentIndex_ + 1).arg(imageFiles_.size());
    return title;
}

} // namespace kivo
