// SPDX-License-Identifier: GPL-3.0-or-later
// What the user does with the current file besides looking at it: copy, reveal, open with
// another application, move to the Trash.
#include "appstate.h"
#include "desktop/desktopservices.h"
#include "imaging/regions.h"
#include "imaging/tasks/workerpools.h"
#include "logging.h"
#include "neighbourpreloader.h"
#include "pictureloader.h"
#include "trashundo.h"

#include <QCollator>
#include <QSettings>
#include <algorithm>
#include <utility>

namespace kivo {

qint64 AppState::tileCacheBytes() const {
    return qint64(PreferenceStore::tileCacheMegabytes(*context_.settings)) << 20;
}

void AppState::copyImage() {
    if (!currentImage_ || !context_.desktop || !context_.desktop->clipboard)
        return;
    if (currentImage_->isTiled()) {
        copyTiledPicture();
        return;
    }
    // Every pixel, not the level that fills the window: the copy waits for the full resolution.
    if (!currentImage_->isFullResolution() && loader_) {
        copyWhenFull_ = true;
        loader_->needLevel(QSize());
        return;
    }
    context_.desktop->clipboard->putImage(currentImage_->bitmap());
}

// A copy waiting for a full resolution that cannot be had copies the level shown instead: the
// best there is, rather than nothing.
void AppState::copyBestLevel(const Failure& whyNotFull) {
    if (!std::exchange(copyWhenFull_, false) || !currentImage_ || !context_.desktop ||
        !context_.desktop->clipboard)
        return;
    qCDebug(lcModel) << "copying a" << currentImage_->bitmap().size() << "level of"
                     << (currentURL_ ? displayName(*currentURL_) : QString())
                     << ": no full resolution," << whyNotFull.message;
    context_.desktop->clipboard->putImage(currentImage_->bitmap());
}

// A picture held in tiles is copied whole only when its bitmap fits the tile budget: larger, the
// alert says why, rather than nothing or a blurred level reaching the clipboard without a word.
void AppState::copyTiledPicture() {
    const QSize size = currentImage_->size();
    const qint64 bytes = qint64(size.width()) * size.height() * 4;
    if (bytes > tileCacheBytes() || !context_.pools) {
        qCDebug(lcModel) << "not copying a" << size << "picture: over the budget of"
                         << (tileCacheBytes() >> 20) << "MB";
        setDeleteError(tr("The image is too large to copy: its %1 × %2 pixels need %3 MB, more "
                          "than the %4 MB set for large images in the Advanced settings.")
                           .arg(size.width())
                           .arg(size.height())
                           .arg(bytes >> 20)
                           .arg(tileCacheBytes() >> 20));
        return;
    }
    QThreadPool& pool = context_.pools->preload;
    if (!wholeCopy_)
        wholeCopy_ = std::make_unique<PendingResult<Result<QImage>>>(this, &pool);
    const std::shared_ptr<const RegionReader> reader = currentImage_->regions();
    const ImagePtr picture = currentImage_;
    wholeCopy_->wait(runOnPool(pool,
                               [reader, size]() -> Result<QImage> {
                                   auto read = reader->read({QRect(QPoint(), size)}, 0);
                                   if (read.empty())
                                       return Failure{FailureReason::damaged, "nothing read"};
                                   return std::move(read.front());
                               }),
                     [this, picture](Result<QImage> whole) {
                         if (picture != currentImage_ || !context_.desktop ||
                             !context_.desktop->clipboard)
                             return;
                         if (!whole) {
                             qCDebug(lcModel) << "copy failed:" << whole.failure().message;
                             return;
                         }
                         context_.desktop->clipboard->putImage(*whole);
                     });
}

void AppState::revealInFileManager() {
    if (!currentURL_ || !context_.desktop || !context_.desktop->fileManager)
        return;
    context_.desktop->fileManager->showItem(*currentURL_);
}

QList<OpenWithApp> AppState::openWithApps() const {
    if (!currentURL_ || !context_.desktop || !context_.desktop->applications)
        return {};
    const ApplicationRegistry& registry = *context_.desktop->applications;
    const QString ownId = registry.ownApplicationId();
    QList<OpenWithApp> apps;
    for (const ApplicationEntry& entry : registry.applicationsFor(*currentURL_)) {
        // An entry without an id cannot be this application, so it stays.
        if (!entry.id.isEmpty() && entry.id == ownId)
            continue;
        apps.push_back({entry.name, entry.id});
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(), [&](const OpenWithApp& a, const OpenWithApp& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return apps;
}

void AppState::openWith(const QString& appUrl) {
    if (!currentURL_ || !context_.desktop || !context_.desktop->applications)
        return;
    context_.desktop->applications->open(*currentURL_, appUrl);
}

void AppState::chooseOtherApp() {
    if (!currentURL_ || !context_.desktop || !context_.desktop->applicationChooser)
        return;
    // The choice may come back after the window closed; then there is nothing to open it in.
    QPointer<AppState> guard(this);
    context_.desktop->applicationChooser->choose(*currentURL_, window(),
                                                 [guard](const QString& application) {
                                                     if (guard)
                                                         guard->openWith(application);
                                                 });
}

void AppState::deleteCurrentImage() {
    if (!currentURL_ || !context_.desktop || !context_.desktop->trash)
        return;
    const FilePath removed = *currentURL_;
    if (auto error = trashUndo()->moveToTrash(removed)) {
        setDeleteError(std::move(*error));
        return;
    }

    // A file opened directly with an extension the folder listing skips is not in the list,
    // and the entry at currentIndex is then another file that must stay.
    const auto count = static_cast<qsizetype>(imageFiles_.size());
    if (currentIndex_ >= 0 && currentIndex_ < count &&
        imageFiles_[static_cast<size_t>(currentIndex_)] == removed)
        removeImageFile(currentIndex_);
    preloader_->forget(removed); // a decode still running for it has nothing left to show

    if (imageFiles_.empty()) {
        setCurrentURL(std::nullopt);
        setCurrentImage(nullptr);
        setMetadata({});
        return;
    }
    setCurrentIndex(std::min(currentIndex_, static_cast<qsizetype>(imageFiles_.size()) - 1));
    loadCurrentImage();
}

} // namespace kivo
