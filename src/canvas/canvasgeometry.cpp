// SPDX-License-Identifier: GPL-3.0-or-later
#include "canvasgeometry.h"

#include <QSize>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace kivo::canvas {

std::optional<double> fitMagnification(QSizeF viewport, QSizeF document) {
    if (!(viewport.width() > 0 && viewport.height() > 0 && document.width() > 0 &&
          document.height() > 0))
        return std::nullopt;
    const double fit =
        std::min(viewport.width() / document.width(), viewport.height() / document.height());
    return std::min(fit, 1.0);
}

namespace {

// One axis of the constraint: ordinary clamped scrolling where the document is at least as
// large as the clip, centring where it is smaller.
double constrainAxis(double origin, double clipLength, double documentLength) {
    if (documentLength < clipLength)
        return (documentLength - clipLength) * 0.5;
    return std::clamp(origin, 0.0, documentLength - clipLength);
}

// Relative difference below which a length counts as the whole image.
constexpr double kWholeTolerance = 1e-9;

double clampUnit(double value) {
    return std::max(std::min(value, 1.0), 0.0);
}

} // namespace

QRectF constrainClipBounds(const QRectF& proposed, QSizeF document) {
    QRectF r = proposed;
    r.moveLeft(constrainAxis(proposed.x(), proposed.width(), document.width()));
    r.moveTop(constrainAxis(proposed.y(), proposed.height(), document.height()));
    return r;
}

double wheelZoomTarget(double current, double dy, bool precise, double minimum, double maximum) {
    const double k = precise ? kPreciseWheelFactor : kLineWheelFactor;
    double target = current * (1.0 + dy * k);
    target = std::min(target, maximum);
    return std::max(target, minimum);
}

QPointF originKeepingAnchor(QPointF origin, QPointF anchor, double oldMagnification,
                            double newMagnification) {
    if (!(newMagnification > 0))
        return origin;
    return anchor - (anchor - origin) * (oldMagnification / newMagnification);
}

std::optional<QRectF> visibleUnitRect(const QRectF& clipBounds, QSizeF document) {
    const double w = document.width();
    const double h = document.height();
    if (!(w > 0 && h > 0))
        return std::nullopt;
    // The part of the image below the viewport, measured from the image's lower edge.
    const double yFromBottom = h - clipBounds.bottom();
    const auto axis = [](double start, double length) {
        // A clip that covers the image but for floating-point dust shows all of it: a fitted
        // picture reports exactly (0, 0, 1, 1).
        if (length >= 1.0 - kWholeTolerance)
            return std::pair{0.0, 1.0};
        return std::pair{std::max(start, 0.0), length};
    };
    const auto [x, width] = axis(clipBounds.x() / w, clipBounds.width() / w);
    const auto [y, height] = axis(yFromBottom / h, clipBounds.height() / h);
    return QRectF(x, y, width, height);
}

QPointF clipOriginForUnitTarget(QPointF target, QSizeF document, QSizeF clipSize) {
    return {target.x() * document.width() - clipSize.width() * 0.5,
            (1.0 - target.y()) * document.height() - clipSize.height() * 0.5};
}

double normalizedDegrees(double degrees) {
    if (!std::isfinite(degrees))
        return 0.0;
    double r = std::fmod(degrees, 360.0);
    if (r < 0)
        r += 360.0;
    return r >= 360.0 ? 0.0 : r;
}

QSize rotatedPixelSize(QSize size, double degrees) {
    const double r = normalizedDegrees(degrees);
    if (r == 0.0 || r == 180.0)
        return size;
    if (r == 90.0 || r == 270.0)
        return size.transposed();
    const double a = r * std::numbers::pi / 180.0;
    const double s = std::abs(std::sin(a));
    const double c = std::abs(std::cos(a));
    const double w = size.width();
    const double h = size.height();
    return {static_cast<int>(std::ceil(c * w + s * h)), static_cast<int>(std::ceil(s * w + c * h))};
}

std::optional<AutoSizeFrame> autoSizeFrame(const QRectF& visibleArea, QSizeF chrome,
                                           QSizeF imageSize) {
    const double availableWidth = visibleArea.width() - chrome.width();
    const double availableHeight = visibleArea.height() - chrome.height();
    if (!(imageSize.width() > 0 && imageSize.height() > 0 && availableWidth > 0 &&
          availableHeight > 0))
        return std::nullopt;
    const double scale =
        std::min({availableWidth / imageSize.width(), availableHeight / imageSize.height(), 1.0});
    // std::round takes halves away from zero: a canvas of 530.5 points becomes 531.
    const QSizeF canvas(std::round(imageSize.width() * scale),
                        std::round(imageSize.height() * scale));
    const QSizeF window = canvas + chrome;
    const QPointF origin(visibleArea.x() + (visibleArea.width() - window.width()) * 0.5,
                         visibleArea.y() + (visibleArea.height() - window.height()) * 0.5);
    return AutoSizeFrame{QRectF(origin, window), canvas, scale};
}

QSizeF navigatorSize(QSizeF imageSize, double maxDimension) {
    if (!(imageSize.width() > 0 && imageSize.height() > 0))
        return {maxDimension, maxDimension};
    const double aspect = imageSize.width() / imageSize.height();
    if (aspect < 1.0)
        return {std::max(aspect * maxDimension, 1.0), maxDimension};
    return {maxDimension, std::max(maxDimension / aspect, 1.0)};
}

QRectF navigatorViewportFrame(const QRectF& visibleRect, QSizeF mapSize) {
    const double w = mapSize.width();
    const double h = mapSize.height();
    const QSizeF size(w * std::min(visibleRect.width(), 1.0),
                      h * std::min(visibleRect.height(), 1.0));
    const QPointF centre(w * visibleRect.center().x(), h * (1.0 - visibleRect.center().y()));
    QRectF frame(QPointF(), size);
    frame.moveCenter(centre);
    return frame;
}

QPointF navigatorTargetForPointer(QPointF position, QSizeF mapSize) {
    if (!(mapSize.width() > 0 && mapSize.height() > 0))
        return {0.5, 0.5};
    return {clampUnit(position.x() / mapSize.width()),
            clampUnit(1.0 - position.y() / mapSize.height())};
}

bool navigatorShouldShow(const QRectF& visibleRect, bool isDragging) {
    return visibleRect.width() < 0.99 || visibleRect.height() < 0.99 || isDragging;
}

} // namespace kivo::canvas
