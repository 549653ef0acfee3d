// Opening, stepping through the folder, preloading the neighbours, and the display mode's zoom.
#include "appstate.h"
#include "imaging/decode.h"
#include "preloadpool.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <algorithm>

namespace kivo {

namespace {

// A decoded image made ready to draw: full decode done and the reduced-size copies the canvas
// draws from at fit size prepared, so nothing costly is left for the GUI thread.
ImagePtr decodeReadyToDraw(const FilePath& path) {
    auto image = decodeImage(path);
    if (!image)
        return nullptr;
    (*image)->prepareReducedCopies();
    return *image;
}

// The decoded image, noting in the model why there is none.
ImagePtr shownOrWhy(AppState& state, Result<ImagePtr> decoded) {
    state.setLoadError(decoded ? std::nullopt : std::optional(decoded.failure()));
    return decoded ? std::move(*decoded) : nullptr;
}

// Handing back a large picture's memory unmaps tens of thousands of pages, several
// milliseconds for a 24-megapixel one, so the GUI thread passes the references it drops to a
// worker. Where a view still holds one, the picture simply lives on there.
void releaseOffGuiThread(std::vector<ImagePtr> images) {
    std::erase(images, nullptr);
    if (images.empty())
        return;
    constexpr int aheadOfDecodes = 1;
    preloadThreadPool().start([images = std::move(images)]() mutable { images.clear(); },
                              aheadOfDecodes);
}

} // namespace

QThreadPool& preloadThreadPool() {
    static QThreadPool pool;
    static const bool configured = [] {
        // All cores but one, so the GUI thread always finds one free however many decodes
        // are queued. (Idle scheduling priority was tried and made steps slower: a starved
        // idle thread can hold kernel locks that the GUI thread then waits for.)
        pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
        return true;
    }();
    Q_UNUSED(configured);
    return pool;
}

void AppState::openFile(const FilePath& url) {
    ImagePtr previous = currentImage_;
    setCurrentURL(url);
    setCurrentImage(shownOrWhy(*this, decodeImage(url)));
    releaseOffGuiThread({std::move(previous)});
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
    if (image)
        setLoadError(std::nullopt);
    else
        image = shownOrWhy(*this, decodeImage(url));
    ImagePtr previous = currentImage_;
    setCurrentImage(std::move(image));
    releaseOffGuiThread({std::move(previous)});
    setRotation(0.0);
    setMetadata(extractMetadata(url));
    preloadNeighbors();
}

void AppState::reloadCurrentImage() {
    if (!currentURL_)
        return;
    const FilePath url = *currentURL_;
    ImagePtr previous = currentImage_;
    setCurrentImage(shownOrWhy(*this, decodeImage(url)));
    releaseOffGuiThread({std::move(previous)});
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
    std::vector<ImagePtr> dropped;
    for (const auto& [url, image] : preloadedImages_) {
        if (url == next || url == previous)
            kept.emplace(url, image);
        else
            dropped.push_back(image);
    }
    setPreloadedImages(std::move(kept));
    releaseOffGuiThread(std::move(dropped));

    for (const FilePath& url : {next, previous}) {
        if (preloadedImages_.count(url) || preloadsInFlight_.count(url))
            continue;
        const quint64 ticket = ++lastPreloadTicket_;
        preloadsInFlight_[url] = ticket;
        // The task holds the model weakly: a window closed meanwhile is never touched, and its
        // decoded image is simply dropped.
        QPointer<AppState> guard(this);
        preloadThreadPool().start([guard, url, ticket] {
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
