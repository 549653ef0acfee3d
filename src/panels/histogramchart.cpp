// SPDX-License-Identifier: GPL-3.0-or-later
#include "histogramchart.h"

#include <QPainter>
#include <QTimerEvent>
#include <cmath>

namespace kivo {

namespace {

constexpr int kSpinnerTicks = 12;
constexpr int kSpinnerIntervalMs = 80;

} // namespace

HistogramChart::HistogramChart(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(kSize);
}

void HistogramChart::setData(std::optional<HistogramData> data) {
    data_ = std::move(data);
    updateSpinning();
    update();
}

std::optional<QPainterPath> HistogramChart::channelPath(const std::array<qint64, 256>& counts,
                                                        QSizeF size) {
    std::array<double, 256> heights{};
    double tallest = 0.0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        heights[i] = counts[i] >= 1 ? std::log(double(counts[i]) + 1.0) : 0.0;
        tallest = std::max(tallest, heights[i]);
    }
    if (!(tallest > 0.0))
        return std::nullopt;
    const double w = size.width();
    const double h = size.height();
    QPainterPath path(QPointF(0, h));
    for (std::size_t i = 0; i < heights.size(); ++i)
        path.lineTo(w * double(i) / 255.0, h - h * heights[i] / tallest);
    path.lineTo(w, h);
    path.closeSubpath();
    return path;
}

void HistogramChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (data_)
        paintChart(painter);
    else
        paintBusy(painter);
}

void HistogramChart::paintChart(QPainter& painter) const {
    const std::pair<const std::array<qint64, 256>*, QColor> channels[] = {
        {&data_->red, QColor(255, 59, 48)},
        {&data_->green, QColor(52, 199, 89)},
        {&data_->blue, QColor(0, 122, 255)},
    };
    for (const auto& [counts, colour] : channels) {
        const auto path = channelPath(*counts, QSizeF(size()));
        if (!path)
            continue;
        QColor fill = colour;
        fill.setAlphaF(float(kFillOpacity));
        QColor outline = colour;
        outline.setAlphaF(float(kOutlineOpacity));
        painter.fillPath(*path, fill);
        painter.strokePath(*path, QPen(outline, 1.0));
    }
}

// Twelve ticks round a centre, the brightest one stepping on: the usual spinning indicator.
void HistogramChart::paintBusy(QPainter& painter) const {
    painter.translate(width() / 2.0, height() / 2.0);
    for (int tick = 0; tick < kSpinnerTicks; ++tick) {
        const int age = (spinStep_ - tick + kSpinnerTicks) % kSpinnerTicks;
        QColor colour(255, 255, 255);
        colour.setAlphaF(float(1.0 - 0.75 * age / kSpinnerTicks));
        painter.setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -5), QPointF(0, -10));
        painter.rotate(360.0 / kSpinnerTicks);
    }
}

void HistogramChart::updateSpinning() {
    if (!data_ && isVisible())
        spin_.start(kSpinnerIntervalMs, this);
    else
        spin_.stop();
}

void HistogramChart::timerEvent(QTimerEvent* event) {
    if (event->timerId() != spin_.timerId())
        return QWidget::timerEvent(event);
    spinStep_ = (spinStep_ + 1) % kSpinnerTicks;
    update();
}

void HistogramChart::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateSpinning();
}

void HistogramChart::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateSpinning();
}

} // namespace kivo
