// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vieweroverlays.h"

#include <QPointer>
#include <QWidget>

class QMenu;

namespace kivo {

class AppState;
class EmptyState;
class NavigatorOverlay;
class StatusPill;
class ViewerAlerts;
class ZoomableImageView;

// The whole content of a viewer window: over black, the canvas while the model holds a picture
// (otherwise the empty state), the navigator, the overlay panel and thumbnail strip, and the
// status pill in the top-right corner. It
// owns the window's keys, file drops, context menu and alerts, and keeps no state beyond
// keyboard focus: everything shown is read from the model, every action is a model call.
class ImageViewer : public QWidget {
    Q_OBJECT

public:
    ImageViewer(AppState& state, QWidget* parent = nullptr, const OverlayServices& services = {});
    ~ImageViewer() override;

    AppState& state() const { return state_; }
    ZoomableImageView* canvas() const; // null while no picture is shown
    NavigatorOverlay* navigator() const;
    EmptyState* emptyState() const { return emptyState_; }
    StatusPill* statusPill() const { return statusPill_; }
    const ViewerAlerts& alerts() const { return *alerts_; }
    const ViewerOverlays& overlays() const { return *overlays_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void showCurrentImage();
    void placeLayers();
    void placeNavigator();
    void retitleWindow();
    bool handleKey(QKeyEvent& event);
    void cycleOverlay();
    void escape();

    AppState& state_;
    QPointer<ZoomableImageView> canvas_;
    QPointer<NavigatorOverlay> navigator_;
    EmptyState* emptyState_;
    StatusPill* statusPill_;
    ViewerAlerts* alerts_;
    ViewerOverlays* overlays_;
    QThreadPool* tilePool_;
    bool hasShownOnce_ = false;
};

} // namespace kivo
