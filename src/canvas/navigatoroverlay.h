// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/image.h"

#include <QImage>
#include <QRectF>
#include <QWidget>
#include <functional>

namespace kivo {

// The mini-map over the canvas: the whole image in small, the part outside the viewport dimmed,
// the visible part outlined. A press or drag on it asks the canvas to centre on the point under
// the pointer. It keeps no state of its own beyond a cached small copy of the image.
//
// It shows the picture as the canvas displays it, turned by the on-screen rotation, because the
// visible rectangle and the scroll targets are fractions of that turned picture.
class NavigatorOverlay : public QWidget {
    Q_OBJECT

public:
    static constexpr double kDefaultMaxDimension = 150.0;
    static constexpr int kShadowMargin = 6; // room around the map for its shadow

    explicit NavigatorOverlay(QWidget* parent = nullptr);

    // The image and the on-screen rotation (degrees clockwise) it is displayed with.
    void setImage(ImagePtr image, double rotation = 0.0);
    void setVisibleRect(const QRectF& visibleRect);
    void setMaxDimension(double maxDimension);
    const QRectF& visibleRect() const { return visibleRect_; }

    std::function<void(QPointF unitPoint)> onNavigate;
    std::function<void(bool isDragging)> onDragStateChange;

    // The mini-map's area inside this widget.
    QRectF mapRect() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QSize displayedSize() const; // the image as turned on screen; needs an image
    void rebuildCache();
    void navigateTo(QPointF position);

    ImagePtr image_;
    double rotation_ = 0.0;
    QRectF visibleRect_{0.0, 0.0, 1.0, 1.0};
    double maxDimension_ = kDefaultMaxDimension;
    QImage bright_;
    QImage dimmed_;
    bool isDragging_ = false;
};

} // namespace kivo
