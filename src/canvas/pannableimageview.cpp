// SPDX-License-Identifier: GPL-3.0-or-later
#include "pannableimageview.h"

#include "canvasgeometry.h"
#include "tilelayer.h"
#include "zoomscrollview.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>
#include <ctime>

namespace kivo {

namespace {

// From this magnification on, pixels are drawn as crisp squares.
constexpr double kNearestNeighbourFrom = 2.0;

// One line per painted picture, for the open and step benchmark (bench/bench_open.cpp).
Q_LOGGING_CATEGORY(lcTiming, "kivo.timing", QtWarningMsg)

} // namespace

PannableImageView::PannableImageView(QWidget* viewport, ZoomScrollView* scrollView)
    : QWidget(viewport)
    , scrollView_(scrollView)
    , tiles_(new TileLayer(this)) {
    setCursor(Qt::OpenHandCursor);
    // Tiles arrive without moving the view: a repaint of what is shown is all they need.
    tiles_->onArrived = [this] { update(); };
}

void PannableImageView::setImage(ImagePtr image) {
    image_ = std::move(image);
    frame_ = QImage();
    tiles_->setImage(image_);
    update();
}

void PannableImageView::setFrameBitmap(const QImage& frame) {
    frame_ = frame;
    update();
}

const QImage& PannableImageView::bitmapForScale(double magnification) const {
    if (!frame_.isNull())
        return frame_;
    // Reduced copies are chosen by device pixels, so a high-density screen stays sharp.
    const double deviceScale = magnification * devicePixelRatioF();
    if (deviceScale < image_->resolution())
        return image_->bestCopyForScale(deviceScale);
    return image_->bitmap();
}

void PannableImageView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QSizeF document = scrollView_->documentSize();
    if (!image_ || document.isEmpty()) {
        painter.fillRect(event->rect(), Qt::black);
        return;
    }
    const double m = scrollView_->magnification();
    const QImage& bitmap = bitmapForScale(m);
    const QPointF imageOffset = scrollView_->imageRectInViewport().topLeft() - QPointF(pos());

    // A bitmap as large as the picture on screen (100 %, or a level decoded for exactly this
    // view) is drawn unscaled at whole pixels: a half-pixel centring offset must not turn into
    // a blurry resample, and a blit costs a fraction of a smooth rescale.
    const QSizeF onScreen = document * m;
    const bool pixelForPixel =
        (std::abs(m - 1.0) < 1e-9 && bitmap.size() == document.toSize()) ||
        (devicePixelRatioF() == 1.0 && std::abs(bitmap.width() - onScreen.width()) < 1.0 &&
         std::abs(bitmap.height() - onScreen.height()) < 1.0);
    if (pixelForPixel) {
        const QPoint offset = imageOffset.toPoint();
        const QRect source = event->rect().translated(-offset) & bitmap.rect();
        painter.drawImage(source.topLeft() + offset, bitmap, source);
    } else {
        // The exposed part of the view, in image points, clipped to the image.
        const QRectF exposed(event->rect());
        QRectF source((exposed.topLeft() - imageOffset) / m, exposed.size() / m);
        source &= QRectF(QPointF(), document);
        if (source.isEmpty())
            return;
        const QRectF target(source.topLeft() * m + imageOffset, source.size() * m);
        const double sx = bitmap.width() / document.width();
        const double sy = bitmap.height() / document.height();
        const QRectF bitmapSource(source.x() * sx, source.y() * sy, source.width() * sx,
                                  source.height() * sy);
        // A bitmap with more pixels than the screen shows (a vector picture rendered for a
        // closer zoom) is smoothed whatever the magnification.
        painter.setRenderHint(QPainter::SmoothPixmapTransform,
                              m < kNearestNeighbourFrom || bitmap.width() > onScreen.width());
        painter.drawImage(target, bitmap, bitmapSource);
    }
    if (frame_.isNull() && image_->isTiled()) {
        const QRectF exposed(QRectF(event->rect()).translated(-imageOffset).topLeft() / m,
                             QSizeF(event->rect().size()) / m);
        const QRectF visible = scrollView_->clipBounds() & QRectF(QPointF(), document);
        tiles_->paint(painter, exposed, visible, imageOffset, m, m * devicePixelRatioF());
    }
    ++paintCount_;
    if (lcTiming().isInfoEnabled()) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        qCInfo(lcTiming, "painted %lld us image %p bitmap %dx%d",
               qlonglong(now.tv_sec) * 1000000 + now.tv_nsec / 1000,
               static_cast<const void*>(image_.get()), bitmap.width(), bitmap.height());
    }
}

QPointF PannableImageView::viewportPosition(const QMouseEvent* event) const {
    return mapTo(parentWidget(), event->position());
}

void PannableImageView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    undoCandidate_ = lastNavigateWasNext_;
    lastNavigateWasNext_.reset();
    lastDragLocation_ = viewportPosition(event);
    isDragging_ = true;
    hasDragged_ = false;
}

void PannableImageView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // The double click undoes what its first click did, then asks for its own action. The
    // press it follows has started nothing: its release must not navigate again.
    const std::optional<bool> toUndo = lastNavigateWasNext_ ? lastNavigateWasNext_ : undoCandidate_;
    undoCandidate_.reset();
    lastNavigateWasNext_.reset();
    if (isDragging_ && hasDragged_)
        QGuiApplication::restoreOverrideCursor();
    isDragging_ = false;
    if (toUndo && onNavigateClick)
        onNavigateClick(!*toUndo);
    if (onDoubleClick)
        onDoubleClick();
}

void PannableImageView::mouseMoveEvent(QMouseEvent* event) {
    if (!isDragging_)
        return;
    const QPointF p = viewportPosition(event);
    const QPointF delta = p - lastDragLocation_;
    if (!hasDragged_) {
        // Measured on screen, so a hand's tremor is a click at every zoom: in image points
        // a 24 MP photo at its fit scale would turn a one-pixel wobble into a drag.
        if (std::abs(delta.x()) <= canvas::kDragThreshold &&
            std::abs(delta.y()) <= canvas::kDragThreshold)
            return; // small moves add up against the press position
        hasDragged_ = true;
        QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
    }
    lastDragLocation_ = p;
    // The image moves with the hand: a step on screen is a step / magnification in the image.
    scrollView_->scrollClipTo(scrollView_->clipBounds().topLeft() -
                              delta / scrollView_->magnification());
}

void PannableImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isDragging_)
        return;
    isDragging_ = false;
    undoCandidate_.reset();
    if (hasDragged_) {
        QGuiApplication::restoreOverrideCursor();
        return; // a drag never navigates
    }
    if (!scrollView_->isFitMode())
        return;
    const QPointF point = scrollView_->viewportToImage(viewportPosition(event));
    const bool isNext = point.x() > scrollView_->documentSize().width() * 0.5;
    lastNavigateWasNext_ = isNext;
    if (onNavigateClick)
        onNavigateClick(isNext);
}

} // namespace kivo
