#include "zoomscrollview.h"

#include "canvasgeometry.h"
#include "pannableimageview.h"

#include <QGestureEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace kivo {

ZoomScrollView::ZoomScrollView(QWidget* parent)
    : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
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
    // A wheel over a scroll bar would scroll it; the canvas's wheel only ever zooms.
    horizontalScrollBar()->installEventFilter(this);
    verticalScrollBar()->installEventFilter(this);
}

ZoomScrollView::~ZoomScrollView() = default;

void ZoomScrollView::setDocumentSize(QSizeF size) {
    documentSize_ = size;
    applyClip(origin_, magnification_);
}

void ZoomScrollView::updateMinMagnification() {
    if (const auto fit = canvas::fitMagnification(contentsRect().size(), documentSize_))
        minMagnification_ = *fit;
}

void ZoomScrollView::setMagnification(double magnification) {
    const double m = std::clamp(magnification, minMagnification_, maxMagnification_);
    const QPointF centre = clipBounds().center();
    const QSizeF clip = QSizeF(viewport()->size()) / m;
    applyClip(centre - QPointF(clip.width() * 0.5, clip.height() * 0.5), m);
}

void ZoomScrollView::setMagnification(double magnification, QPointF anchor) {
    const double m = std::clamp(magnification, minMagnification_, maxMagnification_);
    applyClip(canvas::originKeepingAnchor(origin_, anchor, magnification_, m), m);
}

QRectF ZoomScrollView::clipBounds() const {
    return {origin_, QSizeF(viewport()->size()) / magnification_};
}

void ZoomScrollView::scrollClipTo(QPointF origin) {
    applyClip(origin, magnification_);
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
        applyClip(origin_, magnification_); // the clip's size follows the viewport
}

void ZoomScrollView::applyClip(QPointF origin, double magnification) {
    magnification_ = magnification;
    // Showing or hiding a scroll bar resizes the viewport, which changes the clip: settle both.
    for (int pass = 0; pass < 3; ++pass) {
        const QSize viewportSize = viewport()->size();
        const QSizeF clip = QSizeF(viewportSize) / magnification_;
        origin_ = constrainBoundsRect(QRectF(origin, clip)).topLeft();
        syncScrollBars();
        if (viewport()->size() == viewportSize)
            break;
    }
    placeDocumentView();
    const QRectF bounds = clipBounds();
    if (bounds != lastReportedBounds_) {
        lastReportedBounds_ = bounds;
        Q_EMIT boundsChanged();
    }
}

void ZoomScrollView::syncScrollBars() {
    if (isSyncingScrollBars_)
        return;
    isSyncingScrollBars_ = true;
    const auto syncAxis = [](QScrollBar* bar, double documentLength, double viewportLength,
                             double origin, double m) {
        const double excess = documentLength * m - viewportLength;
        // Half a pixel of excess is rounding, not content worth a scroll bar.
        if (excess > 0.5) {
            bar->setRange(0, static_cast<int>(std::ceil(excess)));
            bar->setPageStep(static_cast<int>(viewportLength));
            bar->setSingleStep(20);
            bar->setValue(static_cast<int>(std::lround(origin * m)));
        } else {
            bar->setRange(0, 0);
        }
    };
    syncAxis(horizontalScrollBar(), documentSize_.width(), viewport()->width(), origin_.x(),
             magnification_);
    syncAxis(verticalScrollBar(), documentSize_.height(), viewport()->height(), origin_.y(),
             magnification_);
    isSyncingScrollBars_ = false;
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

void ZoomScrollView::scrollContentsBy(int, int) {
    if (isSyncingScrollBars_)
        return;
    QPointF origin = origin_;
    if (horizontalScrollBar()->maximum() > 0)
        origin.setX(horizontalScrollBar()->value() / magnification_);
    if (verticalScrollBar()->maximum() > 0)
        origin.setY(verticalScrollBar()->value() / magnification_);
    applyClip(origin, magnification_);
}

void ZoomScrollView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (isSyncingScrollBars_)
        return; // a scroll bar came or went: applyClip settles the clip itself
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
    if (event->type() == QEvent::Wheel &&
        (watched == horizontalScrollBar() || watched == verticalScrollBar()))
        return true;
    if (watched == documentView_ && event->type() == QEvent::Wheel) {
        // Over the image: zoom as if the wheel had reached the viewport.
        auto* wheel = static_cast<QWheelEvent*>(event);
        QWheelEvent mapped(documentView_->mapTo(viewport(), wheel->position()),
                           wheel->globalPosition(), wheel->pixelDelta(), wheel->angleDelta(),
                           wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted(),
                           wheel->source(), wheel->pointingDevice());
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
