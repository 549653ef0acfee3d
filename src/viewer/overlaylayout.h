// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QRectF>
#include <QSize>
#include <QtGlobal>
#include <optional>

class QWidget;

namespace kivo {

// Where the viewer's overlays stand over the canvas, and whether they are shown. Pure geometry
// from plain values, so every rule can be checked in a table.
struct OverlayInputs {
    QSize viewerSize;        // the viewer's area, the window's content
    bool hasImage = false;   // a current image is shown
    qsizetype fileCount = 0; // images in the folder
    bool showThumbnailBar = false;
    QRectF visibleRect{0, 0, 1, 1}; // the visible part of the image, in unit coordinates
    bool isNavigatorDragging = false;
    bool showsPanel = false; // an overlay mode other than none
    QSize navigatorSize;     // the navigator widget, its shadow margin included
    int navigatorShadowMargin = 0;
    QSize panelSize; // the panel's fitted size
};

struct OverlayPlacement {
    std::optional<QRect> navigator; // none: hidden
    std::optional<QRect> panel;
    std::optional<QRect> strip;
};

namespace overlay {
inline constexpr int kNavigatorInset = 12;     // from every window edge, to the map itself
inline constexpr int kStripNavigatorLift = 60; // more at the bottom while the strip is shown
inline constexpr double kNavigatorVisibleThreshold = 0.99;
inline constexpr int kPanelMargin = 16; // the card's distance from the top-left corner
inline constexpr int kStripHeight = 60;
} // namespace overlay

OverlayPlacement placeOverlays(const OverlayInputs& inputs);

// Places and shows or hides the given widgets (any may be null) as `placement` says, and stacks
// them back to front: navigator, panel, status pill, strip; all in front of the canvas.
void applyOverlayPlacement(const OverlayPlacement& placement, QWidget* navigator, QWidget* panel,
                           QWidget* statusPill, QWidget* strip);

} // namespace kivo
