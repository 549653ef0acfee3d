// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractScrollArea>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class QNativeGestureEvent;
class QGestureEvent;

namespace kivo {

class OverlayScrollBar;
class PannableImageView;

// The magnifying scroll area of the canvas. The document (the image) keeps its natural size in
// image points; everything on screen is scaled by `magnification`. The clip bounds, the part of
// the document the viewport shows, are kept in image points with the origin at the document's
// top-left corner, and every change of them passes the centring constraint, so a document
// smaller than the viewport sits in the middle over the black background.
//
// The wheel only zooms (anchored under the pointer) and never scrolls; panning is by drag,
// scroll bars or the navigator. In fit state every layout re-applies the fit scale, so a fitted
// image follows the window's size. The scroll bars float over the picture and take no room:
// the viewport is always the whole area, so the fit scale and the visible part agree.
class ZoomScrollView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ZoomScrollView(QWidget* parent = nullptr);
    ~ZoomScrollView() override;

    bool isFitMode() const { return isFitMode_; }
    void setFitMode(bool fit) { isFitMode_ = fit; }
    bool isAutoSizing() const { return isAutoSizing_; }
    void setAutoSizing(bool autoSizing) { isAutoSizing_ = autoSizing; }

    // The document view: the widget that draws the visible part of the image and turns
    // presses into pans and clicks. Owned by the viewport.
    PannableImageView* documentView() const { return documentView_; }

    // The document's size in image points; empty when nothing is shown.
    QSizeF documentSize() const { return documentSize_; }
    void setDocumentSize(QSizeF size);

    double magnification() const { return magnification_; }
    double minMagnification() const { return minMagnification_; }
    double maxMagnification() const { return maxMagnification_; }
    void setMaxMagnification(double maximum) { maxMagnification_ = maximum; }

    // Recomputes the minimum as the fit scale of the document in this view's own bounds;
    // leaves the old minimum in place when the document or the bounds are empty.
    void updateMinMagnification();
    // Magnifies about the centre of the current clip bounds.
    void setMagnification(double magnification);
    // Magnifies so that `anchor` (image points) keeps its place on screen.
    void setMagnification(double magnification, QPointF anchor);

    // The clip bounds in image points (origin top-left, y down).
    QRectF clipBounds() const;
    // Scrolls the clip to `origin` (image points) as far as the centring constraint allows.
    void scrollClipTo(QPointF origin);
    QRectF constrainBoundsRect(const QRectF& proposed) const;

    // Converts a position in the viewport's pixels into image points and back.
    QPointF viewportToImage(QPointF viewportPosition) const;
    QRectF imageRectInViewport() const;

    // Runs the layout pass: refit in fit state unless a window auto-size is under way.
    void layoutCanvas();

    OverlayScrollBar* horizontalOverlayBar() const { return horizontalBar_; }
    OverlayScrollBar* verticalOverlayBar() const { return verticalBar_; }

Q_SIGNALS:
    // The clip bounds changed (scroll, magnification, viewport size).
    void boundsChanged();
    void liveMagnifyStarted();
    void liveMagnifyEnded();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyClip(QPointF origin, double magnification, bool flashBars);
    void syncScrollBars(bool flash);
    void placeScrollBars();
    void placeDocumentView();
    bool handleNativeGesture(QNativeGestureEvent* event);
    bool handlePinchGesture(QGestureEvent* event);
    void beginLiveMagnify();
    void endLiveMagnify();
    void liveMagnifyBy(double factor, QPointF viewportPosition);

    PannableImageView* documentView_ = nullptr;
    OverlayScrollBar* horizontalBar_ = nullptr; // owned by this widget
    OverlayScrollBar* verticalBar_ = nullptr;
    bool isFitMode_ = true;
    bool isAutoSizing_ = false;
    QSizeF documentSize_;
    double magnification_ = 1.0;
    double minMagnification_ = 1.0;
    double maxMagnification_ = 20.0;
    QPointF origin_;
    QRectF lastReportedBounds_;
    bool isLiveMagnifying_ = false;
    double pinchStartMagnification_ = 1.0;
};

} // namespace kivo
