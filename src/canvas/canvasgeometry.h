// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The canvas's arithmetic, free of widgets so that every rule can be checked with plain numbers.
//
// Two coordinate spaces meet here. Inside the canvas everything is in image points with Qt's
// orientation: origin at the image's top-left corner, y downwards ("clip bounds" are the part of
// the image the viewport shows, in those points). The model speaks unit coordinates: fractions
// of the image's width and height with the origin at the lower-left corner and y upwards. The
// two conversions below (visibleUnitRect and clipOriginForUnitTarget) are the only place where
// one becomes the other.

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <optional>

namespace kivo::canvas {

inline constexpr double kMaxMagnification = 20.0;
inline constexpr double kLineWheelFactor = 0.1;      // per notch of a line-based wheel
inline constexpr double kPreciseWheelFactor = 0.005; // per pixel of a touchpad's delta
inline constexpr double kFitTolerance = 0.001;       // magnifications this close are equal
inline constexpr double kDragThreshold = 3.0;        // window points
inline constexpr double kZoomStep = 1.5;             // zoomIn / zoomOut factor

// The scale at which the whole document fits the viewport, never above 1.0 so that a small
// image is not enlarged. Absent when either size is empty: the caller keeps its old minimum.
std::optional<double> fitMagnification(QSizeF viewport, QSizeF document);

// Keeps the clip bounds inside the document, and centres the document on an axis where it is
// smaller than the clip (giving a negative origin there). The size is never changed.
QRectF constrainClipBounds(const QRectF& proposed, QSizeF document);

// The magnification a vertical wheel delta asks for, clamped to [minimum, maximum]. `precise`
// is true for touchpads (pixel deltas), false for notched wheels (dy in notches).
double wheelZoomTarget(double current, double dy, bool precise, double minimum, double maximum);

// The clip origin after magnifying from `oldMagnification` to `newMagnification` so that
// `anchor` (image points) keeps its place on screen. Not yet constrained.
QPointF originKeepingAnchor(QPointF origin, QPointF anchor, double oldMagnification,
                            double newMagnification);

// The clip bounds (image points, y down) as the unit rectangle of the image that is visible
// (origin lower-left, y up), clamped to the image as reported to the model. Absent for an empty
// document.
std::optional<QRectF> visibleUnitRect(const QRectF& clipBounds, QSizeF document);

// The clip origin (image points, y down) that puts the unit point `target` (origin lower-left,
// y up) in the middle of a clip of `clipSize`. Not yet constrained.
QPointF clipOriginForUnitTarget(QPointF target, QSizeF document, QSizeF clipSize);

// The pixel size of an image of `size` turned by `degrees`: the bounding box of the turned
// rectangle, rounded up. Quarter turns are exact (sides swapped or kept).
QSize rotatedPixelSize(QSize size, double degrees);

// The remainder of `degrees` in [0, 360); 0 for values that are not finite.
double normalizedDegrees(double degrees);

// Window auto-size: the frame (top-left origin, y down, like the visible area) that shows an
// image of `imageSize` at 100 % when the screen allows, scaled down to the screen's usable area
// otherwise, centred in that area. `chrome` is the part of the frame that is not canvas.
struct AutoSizeFrame {
    QRectF frame;      // the window's outer frame
    QSizeF canvasSize; // whole points
    double scale = 1.0;
};
std::optional<AutoSizeFrame> autoSizeFrame(const QRectF& visibleArea, QSizeF chrome,
                                           QSizeF imageSize);

// Navigator mini-map: its size for an image of `imageSize` whose longer side becomes
// `maxDimension` (neither side below one point).
QSizeF navigatorSize(QSizeF imageSize, double maxDimension);

// The viewport frame drawn on a mini-map of `mapSize` (top-left origin, y down) for a visible
// unit rectangle (origin lower-left, y up).
QRectF navigatorViewportFrame(const QRectF& visibleRect, QSizeF mapSize);

// The unit point of the image (origin lower-left, y up) under a pointer at `position` on the
// mini-map, clamped to the image.
QPointF navigatorTargetForPointer(QPointF position, QSizeF mapSize);

// The viewer shows the navigator only while part of the image is hidden or a drag is under way.
bool navigatorShouldShow(const QRectF& visibleRect, bool isDragging);

} // namespace kivo::canvas
