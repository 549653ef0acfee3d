#include "pictureloader.h"

#include "imaging/decode.h"
#include "logging.h"

#include <QThreadPool>
#include <QtConcurrent>
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

Result<ImagePtr> decodeFirstLevel(const FilePath& url, QSize box) {
    // A reduced decode is brought to the exact size it is shown at, so each paint is a blit; a
    // full one is kept whole rather than decoded again when the view zooms in.
    const FormatInfo* format = formatForPath(url);
    auto level = decodeLevel(url, box, format && hasCheapLevel(*format));
    if (level)
        (*level)->prepareReducedCopies();
    return level;
}

PictureLoader::PictureLoader(QThreadPool& pool, QObject* parent)
    : QObject(parent)
    , pool_(pool)
    , latest_(std::make_shared<std::atomic<quint64>>(0)) {}

// Decodes already running finish on their own; their continuations die with this object, and
// the next check of `latest_` stops whatever has not started.
PictureLoader::~PictureLoader() {
    latest_->store(0);
}

void PictureLoader::stop() {
    url_.reset();
    shown_.reset();
    requestedBox_ = QSize();
    requestedFull_ = false;
    ahead_ = false;
    latest_->store(++ticket_);
}

void PictureLoader::prefetch(const FilePath& url, QSize box) {
    load(url, nullptr, box);
    ahead_ = true;
}

void PictureLoader::load(const FilePath& url, ImagePtr preloaded, QSize box) {
    const bool decodedAhead = std::exchange(ahead_, false);
    if (decodedAhead && !preloaded && url_ == url && box.isValid() &&
        box.width() <= requestedBox_.width() && box.height() <= requestedBox_.height()) {
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
    const quint64 ticket = ticket_;
    follow(QtConcurrent::task([url, box, latest = latest_, ticket]() -> Result<ImagePtr> {
               if (latest->load() != ticket)
                   return superseded();
               return decodeFirstLevel(url, box);
           })
               .onThreadPool(pool_)
               .withPriority(kFirstLevelPriority)
               .spawn());
}

void PictureLoader::prefetch(const EarlyDecode& early) {
    stop();
    url_ = early.url;
    requestedBox_ = early.box;
    ahead_ = true;
    follow(early.level);
}

void PictureLoader::follow(QFuture<Result<ImagePtr>> level) {
    const quint64 ticket = ticket_;
    level.then(this, [this, ticket](Result<ImagePtr> result) { levelArrived(ticket, result); });
}

void PictureLoader::levelArrived(quint64 ticket, Result<ImagePtr> level) {
    if (ticket != ticket_)
        return;
    if (ahead_) {
        // Decoded ahead of the window's load(): kept for it, or decoded again to say why not.
        if (level)
            shown_ = *level;
        else
            stop();
        return;
    }
    if (!level) {
        qCDebug(lcModel) << "cannot show" << (url_ ? displayName(*url_) : QString()) << ":"
                         << level.failure().message;
        Q_EMIT failed(level.failure());
        return;
    }
    shown_ = *level;
    Q_EMIT ready(shown_);
}

void PictureLoader::needLevel(QSize box) {
    if (!url_ || !shown_ || shown_->isFullResolution() || requestedFull_)
        return;
    const bool full = !box.isValid();
    if (!full && requestedBox_.isValid() && box.width() <= requestedBox_.width() &&
        box.height() <= requestedBox_.height())
        return; // asked for already, or a level that fills a larger box is on screen
    requestedFull_ = full;
    requestedBox_ = box;
    const quint64 ticket = ticket_;
    QtConcurrent::task([url = *url_, level = shown_, box, latest = latest_, ticket]() -> ImagePtr {
        if (latest->load() != ticket)
            return nullptr;
        auto better = decodeLevel(url, box, false);
        // Dropped here when the user has moved on meanwhile: handing back a large picture's
        // memory takes milliseconds the GUI thread should not spend.
        if (!better || latest->load() != ticket)
            return nullptr;
        ImagePtr refined = level->refined((*better)->bitmap());
        if (refined)
            refined->prepareReducedCopies();
        return refined;
    })
        .onThreadPool(pool_)
        .withPriority(kSharperLevelPriority)
        .spawn()
        .then(this, [this, ticket](ImagePtr better) { sharperArrived(ticket, std::move(better)); });
}

void PictureLoader::sharperArrived(quint64 ticket, ImagePtr better) {
    // A file that fails in full (over the memory budget, say) keeps showing its level, and is
    // not tried again for every zoom step. Two requests may cross: only a gain is shown.
    if (ticket != ticket_ || !better || !shown_ ||
        better->bitmap().width() <= shown_->bitmap().width())
        return;
    shown_ = std::move(better);
    Q_EMIT ready(shown_);
}

} // namespace kivo
