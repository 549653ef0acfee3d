// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panels/overlaycard.h"
#include "thumbnails/thumbnailstrip.h"

#include <QObject>
#include <QPointer>

class QThreadPool;
class QWidget;

namespace kivo {

class AppState;
class ThumbnailCache;

// What the overlays need from the application: the histogram's pool and the shared thumbnail
// cache. A viewer without them (as in tests of the viewer alone) shows neither panel nor strip.
// The canvas reads the tiles of huge pictures on `tilePool` (with none, on a pool of its own).
struct OverlayServices {
    QThreadPool* histogramPool = nullptr;
    ThumbnailCache* thumbnails = nullptr;
    QThreadPool* tilePool = nullptr;
};

// The viewer's overlays over the canvas: the histogram or metadata panel of the overlay mode and
// the thumbnail strip, fed from the model, and the placement of those and the navigator and
// status pill. Owned by the viewer widget they stand in.
class ViewerOverlays : public QObject {
    Q_OBJECT

public:
    ViewerOverlays(AppState& state, const OverlayServices& services, QWidget& viewer);
    ~ViewerOverlays() override;

    // Places every overlay for the viewer's current size and the model's values; the navigator
    // and the pill belong to the viewer (either may be null).
    void place(QWidget* navigator, QWidget* statusPill);

    OverlayCard* panel() const { return panel_; }
    ThumbnailStrip* strip() const { return strip_; }

Q_SIGNALS:
    // Something that moves the overlays changed; the viewer places them again.
    void layoutChanged();

private:
    void rebuildPanel();
    void feedPanel();

    AppState& state_;
    OverlayServices services_;
    QWidget& viewer_;
    QPointer<OverlayCard> panel_;
    QPointer<ThumbnailStrip> strip_;
};

} // namespace kivo
