// SPDX-License-Identifier: GPL-3.0-or-later
#include "tilelayer.h"

#include "imaging/regions.h"

#include <QLoggingCategory>
#include <QPainter>
#include <QThreadPool>
#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

Q_LOGGING_CATEGORY(lcTiles, "kivo.canvas.tiles", QtWarningMsg)

// The budget until the preferences say otherwise.
constexpr qint64 kDefaultBudget = qint64(256) << 20;

// From this magnification on tiles are drawn as crisp squares, as the level below them is.
constexpr double kNearestNeighbourFrom = 2.0;

// A rectangle on whole device pixels, so neighbouring tiles share their edges exactly.
QRect snapped(const QRectF& rect) {
    const auto round = [](double v) { return int(std::floor(v + 0.5)); };
    const QPoint topLeft(round(rect.left()), round(rect.top()));
    const QPoint bottomRight(round(rect.right()), round(rect.bottom()));
    return QRect(topLeft, bottomRight - QPoint(1, 1));
}

} // namespace

TileLayer::TileLayer(QObject* parent)
    : QObject(parent)
    , cache_(kDefaultBudget) {}

TileLayer::~TileLayer() {
    cancel();
}

void TileLayer::setPool(QThreadPool* pool) {
    if (pool == pool_)
        return;
    cancel();
    pool_ = pool;
}

QThreadPool& TileLayer::pool() {
    if (pool_)
        return *pool_;
    if (!ownPool_)
        ownPool_ = std::make_unique<QThreadPool>();
    return *ownPool_;
}

void TileLayer::setBudget(qint64 bytes) {
    if (bytes <= 0 || bytes == cache_.budget())
        return;
    cache_.setBudget(bytes);
    cache_.trim([](const tiles::TileKey&) { return false; });
}

void TileLayer::setImage(const ImagePtr& image) {
    const ImagePtr tiled = image && image->isTiled() ? image : nullptr;
    if (tiled && image_ && tiled->samePicture(*image_)) {
        image_ = tiled;
        return;
    }
    cancel();
    cache_.clear();
    failed_.clear();
    lastVisible_ = QRectF();
    lastLevel_ = -1;
    complete_ = false;
    image_ = tiled;
}

void TileLayer::cancel() {
    if (cancelled_)
        cancelled_->store(true);
    cancelled_.reset();
    if (pending_)
        pending_->drop();
    inFlight_.clear();
}

void TileLayer::paint(QPainter& painter, const QRectF& exposed, const QRectF& visible,
                      QPointF offset, double magnification, double deviceScale) {
    if (!image_ || visible.isEmpty())
        return;
    const int level = tiles::levelForScale(deviceScale);
    // Where the level under the tiles is as sharp as the view needs, there is nothing to add.
    if (std::ldexp(1.0, -level) <= image_->resolution() * 1.01)
        return;

    // Coarser tiles first, so a sharper one covers them where it has arrived.
    std::vector<std::pair<tiles::TileKey, const QImage*>> drawn;
    const QSize size = image_->size();
    cache_.forEach([&](const tiles::TileKey& key, const QImage& tile) {
        if (key.level >= level && std::ldexp(1.0, -key.level) > image_->resolution() &&
            QRectF(tiles::tileRect(size, key)).intersects(exposed))
            drawn.emplace_back(key, &tile);
    });
    std::sort(drawn.begin(), drawn.end(),
              [](const auto& a, const auto& b) { return a.first.level > b.first.level; });
    painter.setRenderHint(QPainter::SmoothPixmapTransform, magnification < kNearestNeighbourFrom);
    for (const auto& [key, tile] : drawn) {
        const QRectF area(tiles::tileRect(size, key));
        const QRectF target(offset + area.topLeft() * magnification, area.size() * magnification);
        const QRect onScreen = snapped(target);
        // At 100 % a tile is copied pixel for pixel; a resample would blur it by the view's
        // sub-pixel offset.
        if (onScreen.size() == tile->size())
            painter.drawImage(onScreen.topLeft(), *tile);
        else
            painter.drawImage(onScreen, *tile);
    }
    want(level, visible);
}

void TileLayer::want(int level, const QRectF& visible) {
    const QPointF pan = level == lastLevel_ && lastVisible_.isValid()
                            ? visible.center() - lastVisible_.center()
                            : QPointF();
    lastVisible_ = visible;
    lastLevel_ = level;
    const std::vector<tiles::TileKey> keys =
        tiles::tilesForView(image_->size(), level, visible, pan);
    cache_.markSeen(keys);

    std::vector<tiles::TileKey> missing;
    for (const tiles::TileKey& key : keys) {
        if (!cache_.contains(key) && !failed_.contains(key))
            missing.push_back(key);
    }
    // Said once each time the view becomes sharp, for whoever wonders why it is still blurred.
    if (missing.empty() && !complete_)
        qCDebug(lcTiles) << "tiles complete for the view at level" << level;
    complete_ = missing.empty();
    if (!inFlight_.empty()) {
        // A batch still wanted finishes, and the rest follows it; one for a view left behind
        // gives way at once.
        const bool stillWanted = std::all_of(inFlight_.begin(), inFlight_.end(), [&](auto& k) {
            return std::find(keys.begin(), keys.end(), k) != keys.end();
        });
        if (stillWanted)
            return;
        qCDebug(lcTiles) << "cancelling" << inFlight_.size() << "tiles the view moved away from";
        cancel();
    }
    if (!missing.empty())
        start(level, std::move(missing));
}

void TileLayer::start(int level, std::vector<tiles::TileKey> keys) {
    std::vector<QRect> rects;
    rects.reserve(keys.size());
    for (const tiles::TileKey& key : keys)
        rects.push_back(tiles::tileRect(image_->size(), key));
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    cancelled_ = cancelled;
    inFlight_ = keys;
    qCDebug(lcTiles) << "reading" << keys.size() << "tiles at level" << level;
    QThreadPool& workers = pool();
    if (!pending_)
        pending_ = std::make_unique<PendingResult<Batch>>(this, &workers);
    std::shared_ptr<const RegionReader> reader = image_->regions();
    QFuture<Batch> future = runOnPool(workers, [reader, rects, level, cancelled] {
        return reader->read(rects, level, cancelled.get());
    });
    pending_->wait(std::move(future), [this, level, keys = std::move(keys), cancelled](Batch b) {
        if (cancelled != cancelled_)
            return; // a picture or view since replaced
        arrived(level, keys, std::move(b));
    });
}

void TileLayer::arrived(int level, const std::vector<tiles::TileKey>& keys, Batch batch) {
    const bool wasCancelled = cancelled_ && cancelled_->load();
    cancelled_.reset();
    inFlight_.clear();
    int read = 0;
    for (size_t i = 0; i < keys.size() && i < batch.size(); ++i) {
        if (batch[i]) {
            cache_.insert(keys[i], std::move(*batch[i]));
            ++read;
        } else if (!wasCancelled) {
            qCDebug(lcTiles) << "tile" << keys[i].column << keys[i].row << "of level" << level
                             << "unreadable:" << batch[i].failure().message;
            failed_.insert(keys[i]);
        }
    }
    const QSize size = image_ ? image_->size() : QSize();
    const QRectF visible = lastVisible_;
    const int wanted = lastLevel_;
    cache_.trim([&](const tiles::TileKey& key) {
        return key.level >= wanted && QRectF(tiles::tileRect(size, key)).intersects(visible);
    });
    qCDebug(lcTiles) << "read" << read << "tiles at level" << level << ", cache" << cache_.count()
                     << "tiles," << cache_.bytes() / (1 << 20) << "MB";
    if (onArrived)
        onArrived();
}

} // namespace kivo
