// SPDX-License-Identifier: GPL-3.0-or-later
#include "navigatoroverlay.h"

#include "canvasgeometry.h"
#include "rotatedimage.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

constexpr double kCornerRadius = 4.0;
constexpr double kOutlineWidth = 1.5;
constexpr double kOutlineOpacity = 0.8;
constexpr int kDimming = 77; // a brightness of -0.3 on 8-bit channels

// The map darkened the way a brightness shift does: every colour channel lowered by the same
// amount (scaled by alpha, as the pixels are premultiplied).
QImage dimmedCopy(const QImage& source) {
    QImage out = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = row[x];
            const int a = qAlpha(p);
            const int shift = kDimming * a / 255;
            row[x] = qRgba(std::max(qRed(p) - shift, 0), std::max(qGreen(p) - shift, 0),
                           std::max(qBlue(p) - shift, 0), a);
        }
    }
    return out;
}

} // namespace

NavigatorOverlay::NavigatorOverlay(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::ArrowCursor);
}

void NavigatorOverlay::setImage(ImagePtr image, double rotation) {
    if (image == image_ && rotation == rotation_)
        return;
    image_ = std::move(image);
    rotation_ = rotation;
    rebuildCache();
}

void NavigatorOverlay::setVisibleRect(const QRectF& visibleRect) {
    if (visibleRect == visibleRect_)
        return;
    visibleRect_ = visibleRect;
    update();
}

void NavigatorOverlay::setMaxDimension(double maxDimension) {
    maxDimension_ = maxDimension;
    rebuildCache();
}

QRectF NavigatorOverlay::mapRect() const {
    const QSizeF size = image_ ? canvas::navigatorSize(QSizeF(displayedSize()), maxDimension_)
                               : QSizeF(maxDimension_, maxDimension_);
    return {QPointF(kShadowMargin, kShadowMargin), size};
}

QSize NavigatorOverlay::displayedSize() const {
    return canvas::rotatedPixelSize(image_->size(), rotation_);
}

QSize NavigatorOverlay::sizeHint() const {
    const QRectF map = mapRect();
    return QSizeF(map.width() + 2 * kShadowMargin, map.height() + 2 * kShadowMargin)
        .toSize()
        .expandedTo(QSize(1, 1));
}

void NavigatorOverlay::rebuildCache() {
    bright_ = QImage();
    dimmed_ = QImage();
    if (image_) {
        // A small copy made once per image: painting the map never touches the full bitmap.
        const QSizeF map = mapRect().size() * devicePixelRatioF();
        const QSize pixels(std::max(1, int(std::ceil(map.width()))),
                           std::max(1, int(std::ceil(map.height()))));
        // Scaled first and turned after, so only the small copy is ever turned.
        const double scale = double(pixels.width()) / displayedSize().width();
        const QSize unturned(std::max(1, int(std::lround(image_->width() * scale))),
                             std::max(1, int(std::lround(image_->height() * scale))));
        const QImage small = image_->bestCopyForScale(scale).scaled(unturned, Qt::IgnoreAspectRatio,
                                                                    Qt::SmoothTransformation);
        bright_ = rotatedBitmap(small, rotation_)
                      .scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        dimmed_ = dimmedCopy(bright_);
    }
    resize(sizeHint());
    update();
}

void NavigatorOverlay::paintEvent(QPaintEvent*) {
    if (bright_.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF map = mapRect();

    // Shadow: black at half opacity fading out over four points around the rounded map.
    painter.setPen(Qt::NoPen);
    for (int i = 4; i >= 1; --i) {
        painter.setBrush(QColor(0, 0, 0, 128 / (i + 1)));
        const double grow = i;
        painter.drawRoundedRect(map.adjusted(-grow, -grow, grow, grow), kCornerRadius + grow,
                                kCornerRadius + grow);
    }

    QPainterPath rounded;
    rounded.addRoundedRect(map, kCornerRadius, kCornerRadius);
    painter.setClipPath(rounded);
    painter.drawImage(map, dimmed_);

    const QRectF frame =
        canvas::navigatorViewportFrame(visibleRect_, map.size()).translated(map.topLeft());
    painter.save();
    painter.setClipRect(frame, Qt::IntersectClip);
    painter.drawImage(map, bright_);
    painter.restore();

    QColor outline(Qt::white);
    outline.setAlphaF(kOutlineOpacity);
    painter.setPen(QPen(outline, kOutlineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame);
}

void NavigatorOverlay::navigateTo(QPointF position) {
    const QRectF map = mapRect();
    if (onDragStateChange)
        onDragStateChange(true);
    if (onNavigate)
        onNavigate(canvas::navigatorTargetForPointer(position - map.topLeft(), map.size()));
}

void NavigatorOverlay::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !image_ || !mapRect().contains(event->position())) {
        event->ignore();
        return;
    }
    isDragging_ = true;
    navigateTo(event->position());
}

void NavigatorOverlay::mouseMoveEvent(QMouseEvent* event) {
    if (isDragging_)
        navigateTo(event->position());
}

void NavigatorOverlay::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isDragging_)
        return;
    isDragging_ = false;
    if (onDragStateChange)
        onDragStateChange(false);
}

} // namespace kivo
