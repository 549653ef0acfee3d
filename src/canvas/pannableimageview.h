// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/image.h"

#include <QPointF>
#include <QWidget>
#include <functional>
#include <optional>

namespace kivo {

class TileLayer;
class ZoomScrollView;

// The document view of the canvas: draws the part of the image that the viewport shows and
// turns the mouse into panning and click navigation. It covers exactly the image's on-screen
// area inside the viewport, so presses on the black margin around a small image never reach it.
//
// Drawing stays cheap at any zoom: only the visible part of the source is drawn; below 100 % it
// comes from the image's prepared reduced-size copies with smooth filtering (a fitted 50 MP
// photo is never rescaled from full size on each paint); at 200 % and above it uses
// nearest-neighbour sampling so pixels stay crisp for checking focus. A picture too large to
// hold whole is drawn from its screen-sized level with the tiles read so far over it.
class PannableImageView : public QWidget {
    Q_OBJECT

public:
    PannableImageView(QWidget* viewport, ZoomScrollView* scrollView);

    // The bitmap drawn: the displayed image (already rotated) or, for an animation, its
    // current frame. `image` supplies the reduced copies used below 100 %.
    void setImage(ImagePtr image);
    void setFrameBitmap(const QImage& frame);
    const ImagePtr& image() const { return image_; }
    // The sharp tiles drawn over a picture too large to hold whole.
    TileLayer& tileLayer() const { return *tiles_; }

    std::function<void()> onDoubleClick;
    std::function<void(bool isNext)> onNavigateClick;

    bool isDragging() const { return isDragging_; }
    bool hasDragged() const { return hasDragged_; }
    std::optional<bool> lastNavigateWasNext() const { return lastNavigateWasNext_; }

    // Finished paints so far; lets benchmarks and tests wait for a real paint.
    quint64 paintCount() const { return paintCount_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Pointer position in the viewport's (window) points, not the scrolled content's, so a
    // pan step does not move the reference it is measured from.
    QPointF viewportPosition(const QMouseEvent* event) const;
    const QImage& bitmapForScale(double magnification) const;

    ZoomScrollView* scrollView_;
    TileLayer* tiles_; // child
    ImagePtr image_;
    QImage frame_; // an animation's current frame; null for still images
    QPointF lastDragLocation_;
    bool isDragging_ = false;
    bool hasDragged_ = false;
    std::optional<bool> lastNavigateWasNext_;
    // The navigation of the first click of a double click: the platform delivers the second
    // press before the double-click event, and that press has cleared lastNavigateWasNext_.
    std::optional<bool> undoCandidate_;
    quint64 paintCount_ = 0;
};

} // namespace kivo
