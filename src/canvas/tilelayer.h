// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/image.h"
#include "imaging/result.h"
#include "imaging/tasks/pendingresult.h"
#include "tilecache.h"

#include <QObject>
#include <QRectF>
#include <QSet>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QThreadPool;

namespace kivo {

// The sharp tiles of a picture too large to hold whole, over the screen-sized level the view
// draws first. Painting never waits: it draws the tiles already read (a coarser level's where
// the wanted one has not arrived) and asks for the missing ones, which are read on a pool in
// one batch, nearest to the view's centre first. A batch the view has moved away from, or of a
// picture no longer shown, is cancelled. Confined to the GUI thread.
class TileLayer : public QObject {
    Q_OBJECT

public:
    explicit TileLayer(QObject* parent = nullptr);
    ~TileLayer() override;

    // Reads run on `pool`; with none, on a pool of the layer's own.
    void setPool(QThreadPool* pool);
    void setBudget(qint64 bytes);
    // The picture drawn; only a tiled one has tiles.
    void setImage(const ImagePtr& image);

    // Draws the cached tiles that meet `exposed` (picture coordinates) into a painter whose
    // picture point p lands at offset + p × magnification, then asks for the tiles of the view
    // `visible` (picture coordinates) at `deviceScale` device pixels per picture pixel.
    void paint(QPainter& painter, const QRectF& exposed, const QRectF& visible, QPointF offset,
               double magnification, double deviceScale);

    // Called when tiles arrived, so the view repaints.
    std::function<void()> onArrived;

private:
    using Batch = std::vector<Result<QImage>>;
    void want(int level, const QRectF& visible);
    void start(int level, std::vector<tiles::TileKey> keys);
    void arrived(int level, const std::vector<tiles::TileKey>& keys, Batch batch);
    void cancel();
    QThreadPool& pool();

    ImagePtr image_;
    TileCache cache_;
    QSet<tiles::TileKey> failed_; // never asked for again for this picture
    QThreadPool* pool_ = nullptr;
    std::unique_ptr<QThreadPool> ownPool_;
    std::unique_ptr<PendingResult<Batch>> pending_;
    std::shared_ptr<std::atomic_bool> cancelled_;
    std::vector<tiles::TileKey> inFlight_;
    QRectF lastVisible_;
    int lastLevel_ = -1;
    bool complete_ = false; // every tile the view wants is in the cache
};

} // namespace kivo
