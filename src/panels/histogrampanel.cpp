// SPDX-License-Identifier: GPL-3.0-or-later
#include "histogrampanel.h"

#include "imaging/tasks/handoff.h"
#include "panels/histogramchart.h"

#include <QLoggingCategory>
#include <QThreadPool>
#include <QVBoxLayout>

namespace kivo {

namespace {

constexpr int kSpacing = 8;
constexpr int kSpaceBelowTitle = 2;

Q_LOGGING_CATEGORY(lcHistogram, "kivo.panels.histogram", QtWarningMsg)

} // namespace

HistogramPanel::HistogramPanel(QThreadPool& pool, QWidget* parent)
    : OverlayCard(tr("Histogram"), kSpacing, kSpaceBelowTitle, parent)
    , pool_(pool)
    , chart_(new HistogramChart(this)) {
    content()->addWidget(chart_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

HistogramPanel::~HistogramPanel() {
    if (cancelled_)
        cancelled_->store(true);
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
    if (cancelled_)
        cancelled_->store(true);
    count_.drop();
    chart_->setData(std::nullopt);
    if (!image)
        return;
    // Its proportions are the picture's; a whole bitmap of it would not fit in memory.
    if (image->isTiled())
        qCDebug(lcHistogram) << "counting the" << image->bitmap().size() << "level of a"
                             << image->size() << "picture held in tiles";
    // The task holds the image, so it stays alive while counted even if the viewer moves on,
    // and lets it go on the pool thread.
    cancelled_ = std::make_shared<std::atomic_bool>(false);
    count_.wait(runOnPool(pool_,
                          [image = std::move(image), cancelled = cancelled_] {
                              return cancelled->load() ? std::nullopt : computeHistogram(*image);
                          }),
                [this](std::optional<HistogramData> counts) {
                    if (counts)
                        chart_->setData(std::move(counts));
                });
}

} // namespace kivo
