// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>

namespace kivo {

// A thin scroll bar drawn over the picture instead of beside it, so it never takes room from
// the viewport and a fitted picture is always shown whole. It appears while the view is being
// scrolled or zoomed, stays while the pointer rests on it or drags its thumb, and fades out
// after a short pause. Where the whole picture is visible on its axis it is not shown at all.
//
// Lengths are in viewport pixels: the picture's length on screen, the viewport's length, and
// the position of the viewport's start along the picture.
class OverlayScrollBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int kThickness = 10; // room across the bar, margin included
    static constexpr int kPauseMs = 900;  // full strength after the last scroll or zoom
    static constexpr int kFadeMs = 250;

    OverlayScrollBar(Qt::Orientation orientation, QWidget* parent);

    // Updates the extent; hides the bar at once when nothing is left to scroll to.
    void setExtent(double contentLength, double viewportLength, double position);
    // Some of the picture lies outside the viewport on this axis (by more than rounding).
    bool hasOverflow() const;
    // Shows the bar at full strength and restarts the pause after which it fades out.
    void flash();
    double opacity() const { return opacity_; }

    // The user moved the thumb or paged along the track: the new position, in viewport pixels.
    std::function<void(double position)> onScroll;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    double along(QPointF point) const;
    double trackLength() const;
    double thumbLength() const;
    QRectF thumbRect() const;
    void scrollTo(double position);
    void setOpacity(double opacity);
    void startPause();

    Qt::Orientation orientation_;
    double content_ = 0.0;
    double viewport_ = 0.0;
    double position_ = 0.0;
    double opacity_ = 0.0;
    bool isHovered_ = false;
    bool isDraggingThumb_ = false;
    double dragStart_ = 0.0;         // pointer position along the bar at the press
    double dragStartPosition_ = 0.0; // scroll position at the press
    QTimer pause_;
    QVariantAnimation fade_;
};

} // namespace kivo
