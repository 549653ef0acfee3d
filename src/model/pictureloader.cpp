// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictureloader.h"

#include "imaging/decode.h"
#include "imaging/tasks/handoff.h"
#include "logging.h"

#include <QPromise>
#include <QThreadPool>
#include <algorithm>
#include <utility>

namespace kivo {

namespace {

// The picture the user is waiting for goes ahead of the neighbours' preloads: its first level,
// and a sharper one while the view shows the first upscaled.
constexpr int kFirstLevelPriority = 2;
constexpr int kSharperLevelPriority = 1;

// What a decode the user has left returns instead of its picture.
Failure superseded() {
    return Failure{FailureReason::unreadable, QStringLiteral("superseded")};
}

} // namespace

namespace {

// The level that fills `box`. A reduced decode is brought to the exact size it is shown at, so
// each paint is a blit; a full one is kept whole rather than decoded again when the view zooms
// in.
Result<ImagePtr> decodeWindowLevel(const FilePath& url, QSize box, const DisplayProfile& target,
                                   bool prepare = true) {
    const FormatInfo* format = formatForPath(url);
    // A PNG has no cheaper decode, but its rows are averaged down as they arrive: its level then
    // never holds the full picture (and its reduced copies), at the price of a second decode
    // when the view looks closer.
    const bool shrink =
        format && (hasCheapLevel(*format) || format->decoder == DecoderKind::libspng);
    auto level = decodeLevel(url, box, shrink, target);
    if (level && prepare)
        (*level)->prepareReducedCopies();
    return level;
}

// Whether `level` has at least as many pixels as the view fitting it in `box` shows.
bool fillsBox(const Image& level, QSize box) {
    if (level.isFullResolution() || level.isScalable() || !box.isValid())
        return true;
    const QSize fitted = level.size().scaled(box, Qt::KeepAspectRatio);
    return level.bitmap().width() + 1 >= std::min(fitted.width(), level.width());
}

} // namespace

Result<ImagePtr> decodeFirstLevel(const FilePath& url, QSize box, const DisplayProfile& target,
                                  const std::function<void(ImagePtr)>& preview) {
    ImagePtr early = decodeEmbeddedPreview(url, box, target);
    if (!early)
        return decodeWindowLevel(url, box, target);
    if (!preview || fillsBox(*early, box))
        return early;
    // Shown while the level that fills the window decodes here, straight after it: on a launch
    // that saves the wait for the window to take the preview before asking for more.
    preview(early);
    const auto level = decodeWindowLevel(url, box, target, false);
    ImagePtr refined = level ? early->refined((*level)->bitmap()) : nullptr;
    if (!refined)
        return early; // the preview is the best there is; the loader says why when it asks again
    refined->prepareReducedCopies();
    return refined;
}

FirstLevelDecode startFirstLevel(QThreadPool& pool, const FilePath& url, QSize box,
                                 const DisplayProfile& target, std::function<bool()> wanted,
                                 int priority) {
    auto preview = std::make_shared<QPromise<ImagePtr>>();
    preview->start();
    FirstLevelDecode decode;
    decode.preview = preview->future();
    decode.level = runOnPool(
        pool,
        [url, box, target, wanted = std::move(wanted), preview]() -> Result<ImagePtr> {
            if (!wanted()) {
                preview->finish();
                return superseded();
            }
            auto level = decodeFirstLevel(url, box, target, [&preview](ImagePtr shown) {
                preview->addResult(std::move(shown));
                preview->finish();
            });
            preview->finish(); // with no result when there was no preview
            // Let go here when the user has moved on meanwhile, not on the GUI thread.
            return wanted() ? level : superseded();
        },
        priority);
    return decode;
}

PictureLoader::PictureLoader(QThreadPool& pool, QObject* parent)
    : QObject(parent)
    , pool_(pool)
    , latest_(std::make_shared<std::atomic<quint64>>(0))
    , latestSharper_(std::make_shared<std::atomic<quint64>>(0)) {}

// A decode already running stops at its next check of `latest_` and its watcher dies with this
// object; one that has not started never does.
PictureLoader::~PictureLoader() {
    latest_->store(0);
    releaseLater(std::move(shown_));
}

void PictureLoader::stop() {
    url_.reset();
    releaseLater(std::exchange(shown_, nullptr));
    requestedBox_ = QSize();
    renderedBox_ = QSize();
    requestedFull_ = false;
    fullFailure_.reset();
    ahead_ = false;
    completing_ = false;
    latest_->store(++ticket_);
    level_.drop();
    preview_.drop();
    adopted_.drop();
    sharper_.drop();
}

void PictureLoader::releaseLater(ImagePtr image) {
    if (image)
        releaseOn(pool_, std::move(image));
}

void PictureLoader::prefetch(const FilePath& url, QSize box) {
    load(url, nullptr, box);
    ahead_ = true;
}

void PictureLoader::load(const FilePath& url, ImagePtr preloaded, QSize box) {
    const bool decodedAhead = std::exchange(ahead_, false);
    if (decodedAhead && !preloaded && url_ == url && box.isValid() &&
        box.width() <= requestedBox_.width() && box.height() <= requestedBox_.height()) {
        qCDebug(lcModel) << "taking over the decode of" << displayName(url) << "made ahead";
        if (shown_)
            Q_EMIT ready(shown_);
        return; // on its way, or here already
    }
    stop();
    url_ = url;
    if (preloaded) {
        shown_ = std::move(preloaded); // decoded for a box not known here
        return;
    }
    requestedBox_ = box;
    requestedFull_ = !box.isValid();
    qCDebug(lcModel) << "decoding" << displayName(url) << "for" << box;
    const quint64 ticket = ticket_;
    follow(startFirstLevel(
        pool_, url, box, target_, [latest = latest_, ticket] { return latest->load() == ticket; },
        kFirstLevelPriority));
}

void PictureLoader::prefetch(const EarlyDecode& early) {
    stop();
    url_ = early.url;
    requestedBox_ = early.box;
    ahead_ = true;
    follow(early.decode);
}

void PictureLoader::adopt(const FilePath& url, QFuture<ImagePtr> running, QSize box) {
    stop();
    url_ = url;
    requestedBox_ = box;
    requestedFull_ = !box.isValid();
    const quint64 ticket = ticket_;
    adopted_.wait(std::move(running), [this, ticket, url, box](ImagePtr image) {
        if (ticket != ticket_)
            return releaseLater(std::move(image));
        if (!image)
            return load(url, nullptr, box); // decoded again to say why it cannot be shown
        shown_ = std::move(image);
        Q_EMIT ready(shown_);
    });
}

void PictureLoader::follow(const FirstLevelDecode& decode) {
    const quint64 ticket = ticket_;
    preview_.wait(decode.preview,
                  [this, ticket](ImagePtr preview) { previewArrived(ticket, std::move(preview)); });
    level_.wait(decode.level, [this, ticket](Result<ImagePtr> result) {
        levelArrived(ticket, std::move(result));
    });
}

void PictureLoader::previewArrived(quint64 ticket, ImagePtr preview) {
    if (ticket != ticket_ || shown_)
        return releaseLater(std::move(preview));
    qCDebug(lcModel) << "showing a preview of" << (url_ ? displayName(*url_) : QString())
                     << "while its level for" << requestedBox_ << "decodes";
    shown_ = std::move(preview);
    if (!ahead_) // else the window's load() takes it over
        Q_EMIT ready(shown_);
}

void PictureLoader::levelArrived(quint64 ticket, Result<ImagePtr> level) {
    if (ticket != ticket_) {
        if (level)
            releaseLater(std::move(*level));
        return;
    }
    if (ahead_) {
        // Decoded ahead of the window's load(): kept for it, or decoded again to say why not.
        if (level) {
            shown_ = *level;
            completeLevel();
        } else {
            stop();
        }
        return;
    }
    if (!level) {
        qCDebug(lcModel) << "cannot show" << (url_ ? displayName(*url_) : QString()) << ":"
                         << level.failure().message;
        Q_EMIT failed(level.failure());
        return;
    }
    shown_ = *level;
    completeLevel();
    Q_EMIT ready(shown_);
}

void PictureLoader::completeLevel() {
    if (!shown_ || fillsBox(*shown_, requestedBox_))
        return;
    qCDebug(lcModel) << "showing a preview of" << (url_ ? displayName(*url_) : QString())
                     << "until its level for" << requestedBox_ << "is decoded";
    completing_ = true;
    decodeSharper(requestedBox_, false, kFirstLevelPriority);
}

void PictureLoader::needLevel(QSize box) {
    // A vector picture can always be rendered sharper; the box says how sharp.
    const bool scalable = shown_ && shown_->isScalable() && box.isValid();
    if (!url_ || !shown_ || (shown_->isFullResolution() && !scalable) || shown_->isTiled())
        return;
    if (requestedFull_ && !scalable) {
        if (fullFailure_ && !box.isValid())
            Q_EMIT fullResolutionFailed(*fullFailure_); // asked again: the answer stands
        return;
    }
    const bool full = !box.isValid();
    const auto within = [box](QSize outer) {
        return outer.isValid() && box.width() <= outer.width() && box.height() <= outer.height();
    };
    if (scalable) {
        // Its first level was rendered no larger than the picture, whatever box it was for.
        if (within(shown_->bitmap().size()) || within(renderedBox_))
            return;
        renderedBox_ = box;
    } else if (!full && within(requestedBox_)) {
        return; // asked for already, or a level that fills a larger box is on screen
    }
    requestedFull_ = full;
    requestedBox_ = box;
    decodeSharper(box, full, kSharperLevelPriority);
}

void PictureLoader::decodeSharper(QSize box, bool full, int priority) {
    const quint64 ticket = ticket_;
    // Only the latest request's result is waited for: one it replaced (a zoom step passed
    // over, each a rendering of a vector picture) is not started at all.
    const quint64 request = latestSharper_->fetch_add(1) + 1;
    auto sharper = runOnPool(
        pool_,
        [url = *url_, level = shown_, box, latest = latest_, ticket, latestSharper = latestSharper_,
         request, target = target_]() -> Result<ImagePtr> {
            if (latest->load() != ticket || latestSharper->load() != request)
                return superseded();
            auto better = decodeLevel(url, box, false, target);
            if (!better)
                return better.failure();
            // Dropped here when the user has moved on meanwhile: handing back a
            // large picture's memory takes milliseconds the GUI thread should not
            // spend.
            if (latest->load() != ticket)
                return superseded();
            ImagePtr refined = level->refined((*better)->bitmap());
            if (!refined)
                return Failure{FailureReason::unreadable, QStringLiteral("not the same picture")};
            refined->prepareReducedCopies();
            return refined;
        },
        priority);
    sharper_.wait(std::move(sharper), [this, ticket, full](Result<ImagePtr> better) {
        sharperArrived(ticket, full, std::move(better));
    });
}

void PictureLoader::setTarget(const DisplayProfile& target) {
    if (target == target_)
        return;
    target_ = target;
    if (!url_)
        return;
    const FilePath url = *url_;
    const QSize box = requestedFull_ ? QSize() : requestedBox_;
    ImagePtr shown = shown_;
    if (!shown || ahead_) {
        // Nothing on screen yet: what is decoding for the old profile starts again.
        const bool wasAhead = ahead_;
        stop(); // not taken over: decoded for the old profile
        load(url, nullptr, box);
        ahead_ = wasAhead;
        return;
    }
    stop();
    url_ = url;
    requestedBox_ = box;
    requestedFull_ = !box.isValid();
    shown_ = shown; // stays on screen until the converted copy is here
    const quint64 ticket = ticket_;
    auto converted = runOnPool(
        pool_,
        [url, box, shown, latest = latest_, ticket, target = target_]() -> Result<ImagePtr> {
            if (latest->load() != ticket)
                return superseded();
            auto again = decodeWindowLevel(url, box, target);
            if (!again || latest->load() != ticket)
                return again ? superseded() : again.failure();
            ImagePtr level = shown->refined((*again)->bitmap());
            if (!level)
                return Failure{FailureReason::unreadable, QStringLiteral("not the same picture")};
            level->prepareReducedCopies();
            return level;
        },
        kFirstLevelPriority);
    sharper_.wait(std::move(converted), [this, ticket](Result<ImagePtr> result) {
        if (ticket != ticket_ || !result)
            return releaseLater(result ? std::move(*result) : nullptr);
        releaseLater(std::exchange(shown_, std::move(*result)));
        Q_EMIT ready(shown_);
    });
}

void PictureLoader::sharperArrived(quint64 ticket, bool full, Result<ImagePtr> result) {
    if (ticket != ticket_)
        return releaseLater(result ? std::move(*result) : nullptr);
    const bool completing = std::exchange(completing_, false);
    // A file that fails in full (over the memory budget, say) keeps showing its level, and is
    // not tried again for every zoom step. So does one whose preview shows and whose own
    // picture cannot be decoded: the preview is the best there is.
    if (!result) {
        qCDebug(lcModel) << "no sharper level of" << (url_ ? displayName(*url_) : QString()) << ":"
                         << result.failure().message;
        if (full || completing) {
            requestedFull_ = true;
            fullFailure_ = result.failure();
            Q_EMIT fullResolutionFailed(*fullFailure_);
        }
        return;
    }
    // Two requests may cross: only a gain is shown.
    ImagePtr better = std::move(*result);
    if (!shown_ || better->bitmap().width() <= shown_->bitmap().width())
        return releaseLater(std::move(better));
    releaseLater(std::exchange(shown_, std::move(better)));
    if (!ahead_) // else the window's load() takes it over
        Q_EMIT ready(shown_);
}

} // namespace kivo
