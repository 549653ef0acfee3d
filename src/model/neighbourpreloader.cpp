// SPDX-License-Identifier: GPL-3.0-or-later
#include "neighbourpreloader.h"

#include "imaging/decode.h"
#include "imaging/tasks/cancellation.h"
#include "imaging/tasks/handoff.h"
#include "logging.h"

#include <QThreadPool>

namespace kivo {

namespace {

// A decoded image made ready to draw: decoded at the size it is shown (a full decode scaled
// down where the format has no cheaper way) and the reduced-size copies the canvas draws from
// prepared, so nothing costly is left for the GUI thread.
// A cancelled preload stops at the next check and lets its picture go on the worker.
ImagePtr decodeReadyToDraw(const FilePath& path, QSize box, const DisplayProfile& target,
                           const std::atomic_bool& cancelled) {
    const CancelScope scope(cancelled);
    if (cancelled.load())
        return nullptr;
    auto decoded = decodeLevel(path, box, true, target);
    if (!decoded || cancelled.load())
        return nullptr;
    (*decoded)->prepareReducedCopies();
    return cancelled.load() ? nullptr : *decoded;
}

} // namespace

NeighbourPreloader::NeighbourPreloader(QThreadPool* pool,
                                       std::function<bool(const FilePath&)> isNeighbour,
                                       QObject* parent)
    : QObject(parent)
    , pool_(pool)
    , isNeighbour_(std::move(isNeighbour)) {}

// Decodes that have not started never do; the watchers of those running die with this object.
NeighbourPreloader::~NeighbourPreloader() {
    for (auto& [url, inFlight] : inFlight_)
        inFlight.cancelled->store(true);
    std::vector<ImagePtr> held;
    for (auto& [url, image] : images_)
        held.push_back(std::move(image));
    release(std::move(held));
}

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
    // Decodes of files that are no longer neighbours would only be dropped when they arrive.
    std::vector<FilePath> stale;
    for (const auto& [url, inFlight] : inFlight_) {
        if (url != next && url != previous)
            stale.push_back(url);
    }
    for (const FilePath& url : stale)
        cancel(url);
    if (!pool_)
        return;

    for (const FilePath& url : {next, previous}) {
        if (images_.count(url) || inFlight_.count(url))
            continue;
        auto& inFlight = inFlight_.try_emplace(url, this, pool_).first->second;
        inFlight.result.wait(
            runOnPool(*pool_,
                      [url, box, target = target_, cancelled = inFlight.cancelled] {
                          return decodeReadyToDraw(url, box, target, *cancelled);
                      }),
            [this, url](ImagePtr image) { arrived(url, std::move(image)); });
    }
}

std::optional<QFuture<ImagePtr>> NeighbourPreloader::takeRunning(const FilePath& url) {
    auto inFlight = inFlight_.find(url);
    if (inFlight == inFlight_.end())
        return std::nullopt;
    auto running = inFlight->second.result.takeFuture();
    inFlight_.erase(inFlight);
    return running;
}

void NeighbourPreloader::cancel(const FilePath& url) {
    auto inFlight = inFlight_.find(url);
    if (inFlight == inFlight_.end())
        return;
    inFlight->second.cancelled->store(true);
    inFlight_.erase(inFlight);
}

void NeighbourPreloader::arrived(const FilePath& url, ImagePtr image) {
    // Only the latest decode of a file is awaited: one of content since replaced never arrives.
    inFlight_.erase(url);
    if (!isNeighbour_(url)) {
        // The user stepped on while it decoded: holding it would let fast stepping pile up
        // pictures until the next step trims the cache.
        qCDebug(lcModel) << "dropping a late preload of" << displayName(url);
        release({std::move(image)});
        return;
    }
    store(url, std::move(image));
}

void NeighbourPreloader::setTarget(const DisplayProfile& target) {
    if (target == target_)
        return;
    target_ = target;
    std::vector<FilePath> running;
    for (const auto& [url, inFlight] : inFlight_)
        running.push_back(url);
    for (const FilePath& url : running)
        cancel(url);
    std::vector<ImagePtr> held;
    for (auto& [url, image] : images_)
        held.push_back(image);
    setImages({});
    release(std::move(held));
}

void NeighbourPreloader::forget(const FilePath& url) {
    cancel(url);
    release({take(url)});
}

void NeighbourPreloader::release(std::vector<ImagePtr> images) {
    std::erase(images, nullptr);
    if (images.empty() || !pool_)
        return;
    // Ahead of queued decodes, so the memory is back before the next picture needs it. Where a
    // view still holds one, the picture simply lives on there.
    releaseOn(*pool_, std::move(images));
}

} // namespace kivo
