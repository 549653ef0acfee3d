// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panels/histogram.h"

#include <QBasicTimer>
#include <QPainterPath>
#include <QWidget>
#include <optional>

namespace kivo {

// The histogram's red, green and blue distributions on a logarithmic count scale, each channel
// scaled to its own tallest bin; a busy indicator in the same place while there are no counts.
// Drawn from the 3 x 256 counts alone, as vectors, so it is sharp at any pixel ratio.
class HistogramChart : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kSize{256, 120};
    static constexpr double kFillOpacity = 0.3;
    static constexpr double kOutlineOpacity = 0.7;

    explicit HistogramChart(QWidget* parent = nullptr);

    // The counts to draw; none shows the busy indicator.
    void setData(std::optional<HistogramData> data);
    const std::optional<HistogramData>& data() const { return data_; }

    // The closed outline of one channel on a surface of `size`: from the bottom-left corner
    // along the bins (bin i at i / 255 of the width) to the bottom-right corner. None for a
    // channel without counts, which is not drawn at all.
    static std::optional<QPainterPath> channelPath(const std::array<qint64, 256>& counts,
                                                   QSizeF size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void paintChart(QPainter& painter) const;
    void paintBusy(QPainter& painter) const;
    void updateSpinning();

    std::optional<HistogramData> data_;
    QBasicTimer spin_;
    int spinStep_ = 0;
};

} // namespace kivo
