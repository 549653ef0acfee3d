// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/image.h"
#include "imaging/tasks/pendingresult.h"
#include "panels/histogram.h"
#include "panels/overlaycard.h"

#include <atomic>
#include <memory>

class QThreadPool;

namespace kivo {

class HistogramChart;

// The card titled "Histogram" over the top-left of the picture: the chart of the current image,
// or a busy indicator while its pixels are counted. Counting runs on the pool handed in, never
// on the GUI thread; a result for an image that is no longer shown is dropped, so the chart of
// the previous image never appears, not even for a moment.
class HistogramPanel : public OverlayCard {
    Q_OBJECT

public:
    // `pool` (the application's histogram pool) must outlive the panel.
    explicit HistogramPanel(QThreadPool& pool, QWidget* parent = nullptr);
    ~HistogramPanel() override;

    // The image whose histogram is shown; another image clears the chart and counts anew.
    void setImage(ImagePtr image);
    bool isCounting() const;
    HistogramChart* chart() const { return chart_; }

private:
    QThreadPool& pool_;
    HistogramChart* chart_;
    // Held weakly: the panel only needs to recognise the image, and must not be the one that
    // frees a 100 MB picture on the GUI thread when the viewer has moved on.
    std::weak_ptr<const Image> image_;
    bool hasImage_ = false;
    // The count under way: cancelled when the image changes or the panel goes, so a count
    // nobody waits for any more does not start.
    std::shared_ptr<std::atomic_bool> cancelled_;
    PendingResult<std::optional<HistogramData>> count_{this, nullptr};
};

} // namespace kivo
