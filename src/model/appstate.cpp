// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstate.h"

#include "folderwatcher.h"
#include "imaging/tasks/pendingresult.h"
#include "imaging/tasks/workerpools.h"
#include "logging.h"
#include "neighbourpreloader.h"
#include "pictureloader.h"
#include "statusbar.h"

#include <QSettings>
#include <algorithm>

namespace kivo {

Q_LOGGING_CATEGORY(lcModel, "kivo.model", QtWarningMsg)

namespace {

// Assigns `value` to `field` and notifies only when it changed.
template <typename T, typename Signal>
void assign(AppState* state, T& field, T value, Signal changed) {
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(state->*changed)();
}

} // namespace

AppState::AppState(const AppStateContext& context, QObject* parent)
    : QObject(parent)
    , context_(context)
    , preferences_(*context.settings)
    , statusBar_(new StatusBarAutoHide(context.clock, this))
    , preloader_(new NeighbourPreloader(
          context.pools ? &context.pools->preload : nullptr,
          [this](const FilePath& url) { return isNeighbour(url); }, this)) {
    // Only a stored text that names a case is taken, and it is written back through the
    // ordinary setter; anything else leaves the default without writing it.
    if (auto mode = preferences_.displayMode())
        setDisplayModeField(*mode);
    if (auto mode = preferences_.overlayMode())
        setOverlayMode(*mode);
    setShowThumbnailBar(preferences_.showThumbnailBar());

    connect(statusBar_, &StatusBarAutoHide::activity, this, &AppState::showStatusBarTemporarily);
    connect(statusBar_, &StatusBarAutoHide::timeToHide, this, [this] { setShowStatusBar(false); });
    connect(statusBar_, &StatusBarAutoHide::waitingChanged, this,
            &AppState::hideStatusBarTaskChanged);
    connect(statusBar_, &StatusBarAutoHide::deadlineChanged, this,
            &AppState::hideStatusBarDeadlineChanged);
    connect(preloader_, &NeighbourPreloader::imagesChanged, this,
            &AppState::preloadedImagesChanged);
    watcher_ = new FolderWatcher(*this);

    if (context.pools) {
        loader_ = new PictureLoader(context.pools->preload, this);
        connect(loader_, &PictureLoader::ready, this, &AppState::adoptLevel);
        connect(loader_, &PictureLoader::fullResolutionFailed, this, [this](const Failure& why) {
            copyBestLevel(why);
            preloadNeighborsIfWaiting(); // when a preview is all a file has to show
        });
        connect(loader_, &PictureLoader::failed, this, [this](const Failure& why) {
            setLoadError(why);
            showImage(nullptr);
            preloadNeighborsIfWaiting();
        });
        // Looking closer than a level can show, or at the histogram, needs every pixel.
        for (auto changed : {&AppState::magnificationChanged, &AppState::overlayModeChanged})
            connect(this, changed, this, [this] { needSharperPicture(true); });
    }
}

// The window's picture is let go on a worker like every other (see NeighbourPreloader::release).
AppState::~AppState() {
    preloader_->release({std::move(currentImage_)});
}

void AppState::setCurrentURL(std::optional<FilePath> url) {
    if (!url && loader_) {
        loader_->stop(); // no file: nothing still decoding may show up
        preloadWhenShown_ = false;
    }
    assign(this, currentURL_, std::move(url), &AppState::currentURLChanged);
}

void AppState::setCurrentImage(ImagePtr image) {
    // shared_ptr compares by the object it points to: identity, not pixels.
    assign(this, currentImage_, std::move(image), &AppState::currentImageChanged);
}

void AppState::setImageFiles(std::vector<FilePath> files) {
    // Compared as bytes: path's own operator== walks every component, which adds up over a
    // folder of many thousand files.
    const bool same =
        std::equal(files.begin(), files.end(), imageFiles_.begin(), imageFiles_.end(),
                   [](const FilePath& a, const FilePath& b) { return a.native() == b.native(); });
    if (same)
        return;
    imageFiles_ = std::move(files);
    Q_EMIT imageFilesChanged();
}

void AppState::removeImageFile(qsizetype index) {
    if (index < 0 || index >= static_cast<qsizetype>(imageFiles_.size()))
        return;
    imageFiles_.erase(imageFiles_.begin() + index);
    Q_EMIT imageFilesChanged();
}

void AppState::setCurrentIndex(qsizetype index) {
    assign(this, currentIndex_, index, &AppState::currentIndexChanged);
}

void AppState::setLoadError(std::optional<Failure> error) {
    const auto same = [](const std::optional<Failure>& a, const std::optional<Failure>& b) {
        return a.has_value() == b.has_value() &&
               (!a || (a->reason == b->reason && a->message == b->message));
    };
    if (same(loadError_, error))
        return;
    loadError_ = std::move(error);
    Q_EMIT loadErrorChanged();
}

void AppState::setRotation(double degrees) {
    assign(this, rotation_, degrees, &AppState::rotationChanged);
}

void AppState::setMetadata(QList<MetadataEntry> rows) {
    if (metadataRead_)
        metadataRead_->drop(); // whatever was being read is not what the panel shows now
    assign(this, metadata_, std::move(rows), &AppState::metadataChanged);
}

void AppState::setDisplayModeField(DisplayMode mode) {
    preferences_.setDisplayMode(mode);
    assign(this, displayMode_, mode, &AppState::displayModeChanged);
}

void AppState::setOverlayMode(OverlayMode mode) {
    preferences_.setOverlayMode(mode);
    assign(this, overlayMode_, mode, &AppState::overlayModeChanged);
}

void AppState::setShowThumbnailBar(bool show) {
    preferences_.setShowThumbnailBar(show);
    assign(this, showThumbnailBar_, show, &AppState::showThumbnailBarChanged);
}

void AppState::setZoomAction(std::optional<ZoomAction> action) {
    assign(this, zoomAction_, action, &AppState::zoomActionChanged);
}

void AppState::setMagnification(double value) {
    assign(this, magnification_, value, &AppState::magnificationChanged);
}

void AppState::setVisibleRect(const QRectF& rect) {
    assign(this, visibleRect_, rect, &AppState::visibleRectChanged);
}

void AppState::setScrollTarget(std::optional<QPointF> target) {
    assign(this, scrollTarget_, target, &AppState::scrollTargetChanged);
}

void AppState::setIsNavigatorDragging(bool dragging) {
    assign(this, isNavigatorDragging_, dragging, &AppState::isNavigatorDraggingChanged);
}

void AppState::setShowDeleteConfirmation(bool show) {
    assign(this, showDeleteConfirmation_, show, &AppState::showDeleteConfirmationChanged);
}

void AppState::setDeleteError(std::optional<QString> error) {
    assign(this, deleteError_, std::move(error), &AppState::deleteErrorChanged);
}

void AppState::setShowStatusBar(bool show) {
    assign(this, showStatusBar_, show, &AppState::showStatusBarChanged);
}

bool AppState::hasHideStatusBarTask() const {
    return statusBar_->isWaiting();
}

double AppState::hideStatusBarDeadline() const {
    return statusBar_->deadline();
}

void AppState::showStatusBarTemporarily() {
    // The show/hide animation belongs to the view, which animates on the field's change.
    setShowStatusBar(true);
    statusBar_->restart();
}

const std::map<FilePath, ImagePtr>& AppState::preloadedImages() const {
    return preloader_->images();
}

void AppState::setPreloadedImages(std::map<FilePath, ImagePtr> images) {
    preloader_->setImages(std::move(images));
}

void AppState::storePreloadedImage(const FilePath& url, ImagePtr image) {
    preloader_->store(url, std::move(image));
}

ImagePtr AppState::takePreloadedImage(const FilePath& url) {
    return preloader_->take(url);
}

bool AppState::isMultiWindowMode(QSettings& settings) {
    return PreferenceStore::isMultiWindowMode(settings);
}

std::optional<QSizeF> AppState::savedWindowSize(QSettings& settings) {
    return PreferenceStore::savedWindowSize(settings);
}

void AppState::saveWindowSize(QSettings& settings, double width, double height) {
    PreferenceStore::saveWindowSize(settings, width, height);
}

} // namespace kivo
