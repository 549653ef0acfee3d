#include "histogrampanel.h"

#include "panels/histogramchart.h"

#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace kivo {

namespace {

constexpr int kSpacing = 8;
constexpr int kSpaceBelowTitle = 2;

} // namespace

HistogramPanel::HistogramPanel(QThreadPool& pool, QWidget* parent)
    : OverlayCard(tr("Histogram"), kSpacing, kSpaceBelowTitle, parent)
    , pool_(pool)
    , chart_(new HistogramChart(this)) {
    content()->addWidget(chart_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

bool HistogramPanel::isCounting() const {
    return hasImage_ && !chart_->data();
}

void HistogramPanel::setImage(ImagePtr image) {
    // Compared by owner, not address: a new image may reuse a freed one's address.
    const bool same =
        hasImage_ == bool(image) && !image_.owner_before(image) && !image.owner_before(image_);
    if (same)
        return;
    image_ = image;
    hasImage_ = bool(image);
    const quint64 generation = ++generation_;
    chart_->setData(std::nullopt);
    if (!image)
        return;
    // The task holds the image, so it stays alive while counted even if the viewer moves on,
    // and lets it go on the pool thread; the panel is the continuation's context, so nothing
    // arrives after the panel is gone.
    QtConcurrent::run(&pool_, [image = std::move(image)] {
        return computeHistogram(*image);
    }).then(this, [this, generation](std::optional<HistogramData> counts) {
        if (generation == generation_ && counts)
            chart_->setData(std::move(counts));
    });
}

} // namespace kivo
