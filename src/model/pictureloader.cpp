#include "pictureloader.h"

#include "imaging/decode.h"
#include "logging.h"

#include <QThreadPool>
#include <QtConcurrent>

namespace kivo {

namespace {

// The level the user is waiting for goes ahead of the neighbours; the full resolution, which
// a fitted picture does not show, after them.
constexpr int kLevelPriority = 2;
constexpr int kFullPriority = -1;

// A full demosaic takes seconds and several hundred megabytes; the preview serves until the
// user looks closer.
bool decodesFullOnDemand(const FilePath& url) {
    const FormatInfo* format = formatForPath(url);
    return format && format->decoder == DecoderKind::libraw;
}

// What a decode the user has left returns instead of its picture.
Failure superseded() {
    return Failure{FailureReason::unreadable, QStringLiteral("superseded")};
}

} // namespace

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
    fullTicket_ = 0;
    latest_->store(++ticket_);
}

void PictureLoader::load(const FilePath& url, ImagePtr preloaded, QSize box) {
    stop();
    url_ = url;
    fullOnDemand_ = decodesFullOnDemand(url);
    if (preloaded) {
        shown_ = std::move(preloaded);
        if (!fullOnDemand_)
            startFull();
        return;
    }
    const quint64 ticket = ticket_;
    QtConcurrent::task([url, box, latest = latest_, ticket]() -> Result<ImagePtr> {
        if (latest->load() != ticket)
            return superseded();
        auto level = decodeLevel(url, box, false);
        if (level)
            (*level)->prepareReducedCopies();
        return level;
    })
        .onThreadPool(pool_)
        .withPriority(kLevelPriority)
        .spawn()
        .then(this, [this, ticket](Result<ImagePtr> level) { levelArrived(ticket, level); });
}

void PictureLoader::levelArrived(quint64 ticket, Result<ImagePtr> level) {
    if (ticket != ticket_)
        return;
    if (!level) {
        qCDebug(lcModel) << "cannot show" << (url_ ? displayName(*url_) : QString()) << ":"
                         << level.failure().message;
        Q_EMIT failed(level.failure());
        return;
    }
    shown_ = *level;
    Q_EMIT ready(shown_);
    if (!fullOnDemand_)
        startFull();
}

void PictureLoader::needFullResolution() {
    startFull();
}

void PictureLoader::startFull() {
    if (!url_ || !shown_ || shown_->isFullResolution() || fullTicket_ == ticket_)
        return;
    fullTicket_ = ticket_;
    const quint64 ticket = ticket_;
    QtConcurrent::task([url = *url_, level = shown_, latest = latest_, ticket]() -> ImagePtr {
        if (latest->load() != ticket)
            return nullptr;
        auto full = decodeImage(url);
        // Dropped here when the user has moved on meanwhile: handing back a large picture's
        // memory takes milliseconds the GUI thread should not spend.
        if (!full || latest->load() != ticket)
            return nullptr;
        ImagePtr refined = level->refined((*full)->bitmap());
        full = Result<ImagePtr>(nullptr);
        if (refined)
            refined->prepareReducedCopies();
        return refined;
    })
        .onThreadPool(pool_)
        .withPriority(kFullPriority)
        .spawn()
        .then(this, [this, ticket](ImagePtr full) { fullArrived(ticket, std::move(full)); });
}

void PictureLoader::fullArrived(quint64 ticket, ImagePtr full) {
    if (ticket != ticket_)
        return;
    // A file that fails in full (truncated past what its level needed) keeps showing the level;
    // fullTicket_ stays set, so it is not tried again for every zoom step.
    if (!full)
        return;
    fullTicket_ = 0;
    shown_ = std::move(full);
    Q_EMIT ready(shown_);
}

} // namespace kivo
