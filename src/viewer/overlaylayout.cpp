// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlaylayout.h"

#include <QWidget>

namespace kivo {

namespace {

bool stripShown(const OverlayInputs& in) {
    return in.showThumbnailBar && in.hasImage && in.fileCount >= 2;
}

// The navigator stands while part of the picture is out of view, or while it is being dragged
// (a drag that brings everything into view must not lose its target under the pointer).
bool navigatorShown(const OverlayInputs& in) {
    const QRectF& seen = in.visibleRect;
    return in.hasImage &&
           (seen.width() < overlay::kNavigatorVisibleThreshold ||
            seen.height() < overlay::kNavigatorVisibleThreshold || in.isNavigatorDragging);
}

} // namespace

OverlayPlacement placeOverlays(const OverlayInputs& in) {
    OverlayPlacement placement;
    const int width = in.viewerSize.width();
    const int height = in.viewerSize.height();
    if (navigatorShown(in)) {
        // Lifted clear of the strip; the inset is to the map, inside the widget's shadow.
        const bool lifted = in.showThumbnailBar && in.fileCount > 1;
        const int right = overlay::kNavigatorInset - in.navigatorShadowMargin;
        const int bottom = overlay::kNavigatorInset + (lifted ? overlay::kStripNavigatorLift : 0) -
                           in.navigatorShadowMargin;
        placement.navigator = QRect(QPoint(width - right - in.navigatorSize.width(),
                                           height - bottom - in.navigatorSize.height()),
                                    in.navigatorSize);
    }
    if (in.hasImage && in.showsPanel)
        placement.panel = QRect(QPoint(overlay::kPanelMargin, overlay::kPanelMargin), in.panelSize);
    if (stripShown(in))
        placement.strip = QRect(0, height - overlay::kStripHeight, width, overlay::kStripHeight);
    return placement;
}

void applyOverlayPlacement(const OverlayPlacement& placement, QWidget* navigator, QWidget* panel,
                           QWidget* statusPill, QWidget* strip) {
    const auto place = [](QWidget* widget, const std::optional<QRect>& where) {
        if (!widget)
            return;
        if (where)
            widget->setGeometry(*where);
        widget->setVisible(where.has_value());
    };
    place(navigator, placement.navigator);
    place(panel, placement.panel);
    place(strip, placement.strip);
    // Back to front: each raise puts the widget above all its siblings so far.
    for (QWidget* widget : {navigator, panel, statusPill, strip})
        if (widget)
            widget->raise();
}

} // namespace kivo
