// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlayscrollbar.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace kivo {

namespace {

constexpr double kInset = 2.0; // between the thumb and the bar's edges
constexpr double kMinThumbLength = 24.0;
// Less than this many pixels outside the viewport is rounding, not content worth a bar.
constexpr double kOverflowTolerance = 0.5;

} // namespace

OverlayScrollBar::OverlayScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent)
    , orientation_(orientation) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::ArrowCursor);
    hide();
    pause_.setSingleShot(true);
    pause_.setInterval(kPauseMs);
    connect(&pause_, &QTimer::timeout, this, [this] {
        fade_.setStartValue(opacity_);
        fade_.start();
    });
    fade_.setEndValue(0.0);
    fade_.setDuration(kFadeMs);
    connect(&fade_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setOpacity(value.toDouble()); });
    connect(&fade_, &QVariantAnimation::finished, this, &QWidget::hide);
}

void OverlayScrollBar::setExtent(double contentLength, double viewportLength, double position) {
    content_ = contentLength;
    viewport_ = viewportLength;
    position_ = position;
    if (!hasOverflow()) {
        pause_.stop();
        fade_.stop();
        isDraggingThumb_ = false;
        setOpacity(0.0);
        hide();
        return;
    }
    update();
}

bool OverlayScrollBar::hasOverflow() const {
    return content_ - viewport_ > kOverflowTolerance;
}

void OverlayScrollBar::flash() {
    if (!hasOverflow())
        return;
    fade_.stop();
    setOpacity(1.0);
    show();
    raise();
    startPause();
}

void OverlayScrollBar::startPause() {
    if (isHovered_ || isDraggingThumb_)
        pause_.stop(); // held at full strength while the pointer works with the bar
    else
        pause_.start();
}

void OverlayScrollBar::setOpacity(double opacity) {
    opacity_ = opacity;
    update();
}

double OverlayScrollBar::along(QPointF point) const {
    return orientation_ == Qt::Horizontal ? point.x() : point.y();
}

double OverlayScrollBar::trackLength() const {
    const double length = orientation_ == Qt::Horizontal ? width() : height();
    return std::max(length - 2 * kInset, 0.0);
}

double OverlayScrollBar::thumbLength() const {
    const double track = trackLength();
    if (!(content_ > 0))
        return track;
    return std::min(std::max(track * viewport_ / content_, kMinThumbLength), track);
}

QRectF OverlayScrollBar::thumbRect() const {
    const double range = content_ - viewport_;
    const double fraction = range > 0 ? std::clamp(position_ / range, 0.0, 1.0) : 0.0;
    const double start = kInset + (trackLength() - thumbLength()) * fraction;
    const double across = (orientation_ == Qt::Horizontal ? height() : width()) - 2 * kInset;
    if (orientation_ == Qt::Horizontal)
        return {start, kInset, thumbLength(), across};
    return {kInset, start, across, thumbLength()};
}

void OverlayScrollBar::scrollTo(double position) {
    const double clamped = std::clamp(position, 0.0, std::max(content_ - viewport_, 0.0));
    if (onScroll)
        onScroll(clamped);
}

void OverlayScrollBar::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0.0 || !hasOverflow())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    // A light thumb with a dark rim stays visible over dark and bright pictures alike.
    painter.setPen(QPen(QColor(0, 0, 0, 110), 1.0));
    painter.setBrush(QColor(225, 225, 225, 200));
    const QRectF thumb = thumbRect();
    const double radius = std::min(thumb.width(), thumb.height()) / 2;
    painter.drawRoundedRect(thumb.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void OverlayScrollBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !hasOverflow()) {
        event->ignore();
        return;
    }
    flash();
    const QRectF thumb = thumbRect();
    if (thumb.contains(event->position())) {
        isDraggingThumb_ = true;
        pause_.stop();
        dragStart_ = along(event->position());
        dragStartPosition_ = position_;
        return;
    }
    // A press on the track pages towards the pointer.
    const bool forward = along(event->position()) > along(thumb.center());
    scrollTo(position_ + (forward ? viewport_ : -viewport_));
}

void OverlayScrollBar::mouseMoveEvent(QMouseEvent* event) {
    if (!isDraggingThumb_)
        return;
    const double travel = trackLength() - thumbLength();
    if (travel <= 0)
        return;
    const double moved = along(event->position()) - dragStart_;
    scrollTo(dragStartPosition_ + moved * (content_ - viewport_) / travel);
}

void OverlayScrollBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    isDraggingThumb_ = false;
    startPause();
}

void OverlayScrollBar::enterEvent(QEnterEvent*) {
    isHovered_ = true;
    if (isVisible() && hasOverflow())
        flash();
}

void OverlayScrollBar::leaveEvent(QEvent*) {
    isHovered_ = false;
    if (isVisible())
        startPause();
}

} // namespace kivo
