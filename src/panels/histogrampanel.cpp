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
    return image_ && !chart_->data();
}

void HistogramPanel::setImage(ImagePtr image) {
    if (image == image_)
        return;
    image_ = std::move(image);
    const quint64 generation = ++generation_;
    chart_->setData(std::nullopt);
    if (!image_)
        return;
    // The task holds the image, so it stays alive while counted even if the viewer moves on;
    // the panel is the continuation's context, so nothing arrives after the panel is gone.
    QtConcurrent::run(&pool_, [image = image_] {
        return computeHistogram(*image);
    }).then(this, [this, generation](std::optional<HistogramData> counts) {
        if (generation == generation_ && counts)
            chart_->setData(std::move(counts));
    });
}

} // namespace kivo
