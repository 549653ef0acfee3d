// SPDX-License-Identifier: GPL-3.0-or-later
#include "zoomscrollview.h"

#include "canvasgeometry.h"
#include "overlayscrollbar.h"
#include "pannableimageview.h"

#include <QGestureEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QResizeEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace kivo {

ZoomScrollView::ZoomScrollView(QWidget* parent)
    : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    // The platform's bars would sit beside the picture and take room from it; ours float over it.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette black = viewport()->palette();
    black.setColor(QPalette::Window, Qt::black);
    viewport()->setPalette(black);
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);
    viewport()->grabGesture(Qt::PinchGesture);
    maxMagnification_ = canvas::kMaxMagnification;
    setFocusPolicy(Qt::NoFocus); // keys belong to the viewer, which steps through the folder

    documentView_ = new PannableImageView(viewport(), this);
    documentView_->hide();
    documentView_->installEventFilter(this);
    horizontalBar_ = new OverlayScrollBar(Qt::Horizontal, this);
    verticalBar_ = new OverlayScrollBar(Qt::Vertical, this);
    horizontalBar_->onScroll = [this](double position) {
        scrollClipTo({position / magnification_, origin_.y()});
    };
    verticalBar_->onScroll = [this](double position) {
        scrollClipTo({origin_.x(), position / magnification_});
    };
    // A wheel over a bar zooms like anywhere else on the canvas.
    horizontalBar_->installEventFilter(this);
    verticalBar_->installEventFilter(this);
}

ZoomScrollView::~ZoomScrollView() = default;

void ZoomScrollView::setDocumentSize(QSizeF size) {
    documentSize_ = size;
    applyClip(origin_, magnification_, false);
}

void ZoomScrollView::updateMinMagnification() {
    if (const auto fit = canvas::fitMagnification(contentsRect().size(), documentSize_))
        minMagnification_ = *fit;
}

void ZoomScrollView::setMagnification(double magnification) {
    const double m = std::clamp(magnification, minMagnification_, maxMagnification_);
    const QPointF centre = clipBounds().center();
    const QSizeF clip = QSizeF(viewport()->size()) / m;
    applyClip(centre - QPointF(clip.width() * 0.5, clip.height() * 0.5), m, true);
}

void ZoomScrollView::setMagnification(double magnification, QPointF anchor) {
    const double m = std::clamp(magnification, minMagnification_, maxMagnification_);
    applyClip(canvas::originKeepingAnchor(origin_, anchor, magnification_, m), m, true);
}

QRectF ZoomScrollView::clipBounds() const {
    return {origin_, QSizeF(viewport()->size()) / magnification_};
}

void ZoomScrollView::scrollClipTo(QPointF origin) {
    applyClip(origin, magnification_, true);
}

QRectF ZoomScrollView::constrainBoundsRect(const QRectF& proposed) const {
    return canvas::constrainClipBounds(proposed, documentSize_);
}

QPointF ZoomScrollView::viewportToImage(QPointF viewportPosition) const {
    return viewportPosition / magnification_ + origin_;
}

QRectF ZoomScrollView::imageRectInViewport() const {
    return {-origin_ * magnification_, documentSize_ * magnification_};
}

void ZoomScrollView::layoutCanvas() {
    updateMinMagnification();
    if (isFitMode_ && !isAutoSizing_)
        setMagnification(minMagnification_);
    else
        applyClip(origin_, magnification_, false); // the clip's size follows the viewport
}

void ZoomScrollView::applyClip(QPointF origin, double magnification, bool flashBars) {
    magnification_ = magnification;
    const QSizeF clip = QSizeF(viewport()->size()) / magnification_;
    origin_ = constrainBoundsRect(QRectF(origin, clip)).topLeft();
    placeDocumentView();
    const QRectF bounds = clipBounds();
    const bool changed = bounds != lastReportedBounds_;
    // A zoom or scroll shows the bars even when the bounds stay (a new picture opened at its
    // zoom), so the user sees that there is more of the picture to see.
    syncScrollBars(flashBars);
    if (changed) {
        lastReportedBounds_ = bounds;
        Q_EMIT boundsChanged();
    }
}

void ZoomScrollView::syncScrollBars(bool flash) {
    const auto sync = [this, flash](OverlayScrollBar* bar, double documentLength,
                                    double viewportLength, double origin) {
        bar->setExtent(documentLength * magnification_, viewportLength, origin * magnification_);
        if (flash)
            bar->flash();
    };
    sync(horizontalBar_, documentSize_.width(), viewport()->width(), origin_.x());
    sync(verticalBar_, documentSize_.height(), viewport()->height(), origin_.y());
}

void ZoomScrollView::placeScrollBars() {
    // Along the bottom and right edges of the viewport, leaving the corner where they meet.
    const QRect area = viewport()->geometry();
    const int t = OverlayScrollBar::kThickness;
    horizontalBar_->setGeometry(area.left(), area.bottom() + 1 - t, std::max(area.width() - t, 0),
                                t);
    verticalBar_->setGeometry(area.right() + 1 - t, area.top(), t, std::max(area.height() - t, 0));
}

void ZoomScrollView::placeDocumentView() {
    if (documentSize_.isEmpty()) {
        documentView_->hide();
        return;
    }
    const QRectF visible = imageRectInViewport() & QRectF(viewport()->rect());
    const QRect geometry = visible.toAlignedRect();
    if (geometry.isEmpty()) {
        documentView_->hide();
        return;
    }
    documentView_->setGeometry(geometry);
    documentView_->show();
    documentView_->update(); // the content moves even when the geometry does not
}

void ZoomScrollView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    placeScrollBars();
    layoutCanvas();
}

void ZoomScrollView::wheelEvent(QWheelEvent* event) {
    event->accept(); // never passed on: the wheel does not scroll
    const bool precise = !event->pixelDelta().isNull();
    const double dy = precise ? event->pixelDelta().y() : event->angleDelta().y() / 120.0;
    if (dy == 0.0)
        return;
    updateMinMagnification();
    const double target =
        canvas::wheelZoomTarget(magnification_, dy, precise, minMagnification_, maxMagnification_);
    if (std::abs(target - magnification_) <= canvas::kFitTolerance)
        return;
    isFitMode_ = std::abs(target - minMagnification_) < canvas::kFitTolerance;
    setMagnification(target, viewportToImage(event->position()));
}

void ZoomScrollView::keyPressEvent(QKeyEvent* event) {
    event->ignore(); // arrow keys navigate in the viewer; they never scroll the canvas
}

bool ZoomScrollView::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::NativeGesture:
        return handleNativeGesture(static_cast<QNativeGestureEvent*>(event));
    case QEvent::Gesture:
        return handlePinchGesture(static_cast<QGestureEvent*>(event));
    default:
        return QAbstractScrollArea::viewportEvent(event);
    }
}

bool ZoomScrollView::eventFilter(QObject* watched, QEvent* event) {
    const bool isOverCanvas =
        watched == documentView_ || watched == horizontalBar_ || watched == verticalBar_;
    if (isOverCanvas && event->type() == QEvent::Wheel) {
        // Over the image or a bar: zoom as if the wheel had reached the viewport.
        auto* source = static_cast<QWidget*>(watched);
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPointF position = viewport()->mapFrom(this, source->mapTo(this, wheel->position()));
        QWheelEvent mapped(position, wheel->globalPosition(), wheel->pixelDelta(),
                           wheel->angleDelta(), wheel->buttons(), wheel->modifiers(),
                           wheel->phase(), wheel->inverted(), wheel->source(),
                           wheel->pointingDevice());
        wheelEvent(&mapped);
        return true;
    }
    if (watched == documentView_ && event->type() == QEvent::NativeGesture) {
        // A touchpad pinch over the image: handled as if it reached the viewport.
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        const QPointF position = documentView_->mapTo(viewport(), gesture->position());
        QNativeGestureEvent mapped(gesture->gestureType(), gesture->pointingDevice(),
                                   gesture->fingerCount(), position, position,
                                   gesture->globalPosition(), gesture->value(), gesture->delta());
        return handleNativeGesture(&mapped);
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

bool ZoomScrollView::handleNativeGesture(QNativeGestureEvent* event) {
    switch (event->gestureType()) {
    case Qt::BeginNativeGesture:
        beginLiveMagnify();
        break;
    case Qt::ZoomNativeGesture:
        if (!isLiveMagnifying_)
            beginLiveMagnify();
        liveMagnifyBy(1.0 + event->value(), event->position());
        break;
    case Qt::EndNativeGesture:
        endLiveMagnify();
        break;
    default:
        return false;
    }
    event->accept();
    return true;
}

bool ZoomScrollView::handlePinchGesture(QGestureEvent* event) {
    auto* pinch = static_cast<QPinchGesture*>(event->gesture(Qt::PinchGesture));
    if (!pinch)
        return false;
    if (pinch->state() == Qt::GestureStarted) {
        beginLiveMagnify();
        pinchStartMagnification_ = magnification_;
    }
    if (isLiveMagnifying_ && (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged)) {
        const QPointF centre = viewport()->mapFromGlobal(pinch->centerPoint());
        const double target = pinchStartMagnification_ * pinch->totalScaleFactor();
        liveMagnifyBy(target / magnification_, centre);
    }
    if (pinch->state() == Qt::GestureFinished || pinch->state() == Qt::GestureCanceled)
        endLiveMagnify();
    event->accept(pinch);
    return true;
}

void ZoomScrollView::beginLiveMagnify() {
    if (isLiveMagnifying_)
        return;
    isLiveMagnifying_ = true;
    updateMinMagnification();
    Q_EMIT liveMagnifyStarted();
}

void ZoomScrollView::endLiveMagnify() {
    if (!isLiveMagnifying_)
        return;
    isLiveMagnifying_ = false;
    Q_EMIT liveMagnifyEnded();
}

void ZoomScrollView::liveMagnifyBy(double factor, QPointF viewportPosition) {
    if (!std::isfinite(factor) || factor <= 0.0)
        return;
    setMagnification(magnification_ * factor, viewportToImage(viewportPosition));
}

} // namespace kivo
