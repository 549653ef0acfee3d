// SPDX-License-Identifier: GPL-3.0-or-later
// Opening, stepping through the folder, preloading the neighbours, and the display mode's zoom.
#include "appstate.h"
#include "folderlisting.h"
#include "folderwatcher.h"
#include "imaging/decode.h"
#include "imaging/tasks/pendingresult.h"
#include "imaging/tasks/workerpools.h"
#include "logging.h"
#include "neighbourpreloader.h"
#include "pictureloader.h"

#include <QScreen>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

namespace kivo {

namespace {

// The decoded image, noting in the model why there is none.
ImagePtr shownOrWhy(AppState& state, Result<ImagePtr> decoded) {
    state.setLoadError(decoded ? std::nullopt : std::optional(decoded.failure()));
    return decoded ? std::move(*decoded) : nullptr;
}

} // namespace

// The dropped picture's memory is handed back on a worker (see NeighbourPreloader::release).
void AppState::showImage(ImagePtr image) {
    ImagePtr previous = currentImage_;
    setCurrentImage(std::move(image));
    preloader_->release({std::move(previous)});
}

// Reading the rows opens the file and parses its metadata (milliseconds for a camera's JPEG), so
// with a pool it happens there: a step paints the picture first and the rows follow. Until then
// the panel keeps the rows it has, as the canvas keeps the previous picture, rather than flash
// empty for a frame.
void AppState::readMetadata(const FilePath& url) {
    if (!context_.readMetadata || !context_.pools) {
        setMetadata(context_.readMetadata ? context_.readMetadata(url) : QList<MetadataEntry>());
        return;
    }
    if (!metadataRead_) {
        metadataRead_ =
            std::make_unique<PendingResult<QList<MetadataEntry>>>(this, &context_.pools->metadata);
        latestMetadataRead_ = std::make_shared<std::atomic<quint64>>(0);
    }
    const quint64 request = ++*latestMetadataRead_;
    auto rows = runOnPool(context_.pools->metadata,
                          [read = context_.readMetadata, url, request,
                           latest = latestMetadataRead_]() -> QList<MetadataEntry> {
                              if (latest->load() != request)
                                  return {}; // stepped on before this read started
                              return read(url);
                          });
    metadataRead_->wait(std::move(rows),
                        [this](QList<MetadataEntry> read) { setMetadata(std::move(read)); });
}

void AppState::startShowing(const FilePath& url, ImagePtr preloaded) {
    copyWhenFull_ = false;
    watcher_->noteLoading(url);
    if (preloaded) {
        setLoadError(std::nullopt);
        showImage(preloaded);
    }
    if (loader_) {
        // Until the first level arrives the previous picture stays: a step shows no flash. The
        // neighbours wait for it too, rather than take the cores it is decoded on.
        preloadWhenShown_ = !preloaded;
        // A neighbour still preloading is waited for rather than decoded a second time.
        auto running = preloaded ? std::nullopt : preloader_->takeRunning(url);
        if (running)
            loader_->adopt(url, std::move(*running), levelBox());
        else
            loader_->load(url, std::move(preloaded), levelBox());
        needSharperPicture(false);
        return;
    }
    if (!preloaded)
        showImage(shownOrWhy(*this, decodeImage(url, displayProfile_)));
}

void AppState::setDisplayProfile(const DisplayProfile& profile) {
    if (profile == displayProfile_)
        return;
    displayProfile_ = profile;
    Q_EMIT displayProfileChanged();
    preloader_->setTarget(profile);
    if (loader_) {
        // The neighbours follow once the picture shown is converted.
        preloadWhenShown_ = currentURL_.has_value();
        loader_->setTarget(profile);
    } else if (currentURL_) {
        showImage(shownOrWhy(*this, decodeImage(*currentURL_, profile)));
    }
}

void AppState::adoptLevel(ImagePtr image) {
    setLoadError(std::nullopt);
    showImage(std::move(image));
    // A preview shown while the picture's level decodes keeps the cores for that level.
    if (!loader_ || !loader_->isCompletingLevel())
        preloadNeighborsIfWaiting();
    if (copyWhenFull_ && currentImage_ && currentImage_->isFullResolution()) {
        copyWhenFull_ = false;
        copyImage();
    }
    needSharperPicture(false);
}

void AppState::needSharperPicture(bool magnificationIsCurrent) {
    if (!loader_ || !currentImage_)
        return;
    if (currentImage_->isScalable()) {
        needSharperRendering(magnificationIsCurrent);
        return;
    }
    // A picture held in tiles has no whole bitmap to ask for: the canvas reads the tiles it
    // shows, and the histogram counts the level.
    if (currentImage_->isFullResolution() || currentImage_->isTiled())
        return;
    if (overlayMode_ == OverlayMode::histogram) {
        loader_->needLevel(QSize()); // it counts every pixel
        return;
    }
    // Right after a step the magnification is still the previous picture's; the view reports
    // this one's shortly. Until then, whether the window shows pictures at full size decides.
    const QSize box = levelBox();
    if (!magnificationIsCurrent) {
        if (!box.isValid())
            loader_->needLevel(QSize());
        return;
    }
    // Looking closer than the level shows: zoomed in, a level no sharper than the picture;
    // fitted in a window grown larger, a level for the new size.
    const double deviceScale = magnification_ * (window_ ? window_->devicePixelRatio() : 1.0);
    if (deviceScale > currentImage_->resolution() * 1.01)
        loader_->needLevel(box);
}

// A vector picture is rendered again, on a worker, for every closer look than its level has
// pixels for: its full resolution is whatever the view shows (the decoder caps that at 64
// megapixels and the memory budget).
void AppState::needSharperRendering(bool magnificationIsCurrent) {
    const double deviceScale = magnification_ * (window_ ? window_->devicePixelRatio() : 1.0);
    const bool wholeNeeded = overlayMode_ == OverlayMode::histogram || copyWhenFull_;
    if (wholeNeeded && !currentImage_->isFullResolution()) {
        loader_->needLevel(QSize());
        return;
    }
    if (!magnificationIsCurrent || deviceScale <= currentImage_->resolution() * 1.01)
        return;
    const QSizeF size = QSizeF(currentImage_->size()) * deviceScale;
    loader_->needLevel(QSize(int(std::ceil(std::min(size.width(), 1e9))),
                             int(std::ceil(std::min(size.height(), 1e9)))));
}

QSize AppState::levelBox() const {
    const bool zoomedIn = visibleRect_.width() < 0.999 || visibleRect_.height() < 0.999;
    if (!window_ || displayMode_ == DisplayMode::actualSize || zoomedIn)
        return {};
    QSize box = viewSize_.isEmpty() ? window_->size() : viewSize_;
    if (displayMode_ == DisplayMode::autoSizeWindow && window_->screen())
        box = window_->screen()->availableSize();
    return box.isEmpty() ? QSize() : box * window_->devicePixelRatio();
}

void AppState::prefetch(const FilePath& url, QSize box) {
    if (loader_ && !currentURL_ && displayMode_ == DisplayMode::fitToWindow)
        loader_->prefetch(url, box);
}

void AppState::prefetch(const EarlyDecode& early) {
    if (loader_ && !currentURL_ && displayMode_ == DisplayMode::fitToWindow)
        loader_->prefetch(early);
}

void AppState::openFile(const FilePath& url) {
    // A folder stands for its first picture, as file managers and other viewers take it.
    std::error_code error;
    if (!std::filesystem::is_directory(url, error)) {
        openImageFile(url);
        return;
    }
    auto files = listSupportedImages(url);
    if (files && !files->empty()) {
        // Not a folder again: a folder named like a picture, or a link to its own folder, must
        // not lead on from folder to folder.
        openImageFile(files->front());
        return;
    }
    const auto why = files ? FailureReason::noImages : FailureReason::unreadable;
    qCDebug(lcModel) << displayPath(url) << "shows nothing:" << reasonName(why);
    if (loader_)
        loader_->stop(); // the picture shown before must not arrive now
    setCurrentURL(url);
    setRotation(0.0);
    setLoadError(Failure{why, {}});
    showImage(nullptr);
    setImageFiles({});
    setCurrentIndex(0);
    setMetadata({});
}

void AppState::openImageFile(const FilePath& url) {
    setCurrentURL(url);
    setRotation(0.0);
    startShowing(url, nullptr);
    loadFolder(url);
    readMetadata(url);
    applyDisplayModeZoom();
    preloadNeighbors();
}

void AppState::loadCurrentImage() {
    if (currentIndex_ < 0 || currentIndex_ >= static_cast<qsizetype>(imageFiles_.size()))
        return;
    const FilePath url = imageFiles_[static_cast<size_t>(currentIndex_)];
    setCurrentURL(url);
    startShowing(url, takePreloadedImage(url));
    setRotation(0.0);
    readMetadata(url);
    preloadNeighbors();
}

void AppState::reloadCurrentImage() {
    if (!currentURL_)
        return;
    const FilePath url = *currentURL_;
    // A decode of the old content is stale now, whether it already finished or is still running.
    preloader_->forget(url);
    startShowing(url, nullptr);
    readMetadata(url);
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

bool AppState::isNeighbour(const FilePath& url) const {
    const auto n = static_cast<qsizetype>(imageFiles_.size());
    if (n < 2 || currentIndex_ < 0 || currentIndex_ >= n)
        return false;
    return url == imageFiles_[static_cast<size_t>((currentIndex_ + 1) % n)] ||
           url == imageFiles_[static_cast<size_t>((currentIndex_ - 1 + n) % n)];
}

void AppState::preloadNeighborsIfWaiting() {
    if (std::exchange(preloadWhenShown_, false))
        preloadNeighbors();
}

void AppState::preloadNeighbors() {
    if (preloadWhenShown_)
        return; // the current file comes first
    const auto n = static_cast<qsizetype>(imageFiles_.size());
    if (n < 2)
        return;
    // Copies: observers of the cache run while it is trimmed and may touch the list.
    const FilePath next = imageFiles_[static_cast<size_t>((currentIndex_ + 1) % n)];
    const FilePath previous = imageFiles_[static_cast<size_t>((currentIndex_ - 1 + n) % n)];
    preloader_->preload(previous, next, levelBox());
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
