// SPDX-License-Identifier: GPL-3.0-or-later
#include "zoomableimageview.h"

#include "zoomscrollview.h"

#include <QVBoxLayout>

namespace kivo {

ZoomableImageView::ZoomableImageView(QWidget* parent, QThreadPool* animationPool)
    : QWidget(parent)
    , coordinator_(animationPool) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(coordinator_.makeView(this));
}

ZoomableImageView::~ZoomableImageView() = default;

void ZoomableImageView::setInputProvider(std::function<CanvasInputs()> provider) {
    provider_ = std::move(provider);
    scheduleUpdate();
}

void ZoomableImageView::scheduleUpdate() {
    if (isUpdatePending_)
        return;
    isUpdatePending_ = true;
    QMetaObject::invokeMethod(this, &ZoomableImageView::runUpdate, Qt::QueuedConnection);
}

void ZoomableImageView::runUpdate() {
    isUpdatePending_ = false;
    if (provider_)
        coordinator_.update(provider_());
}

} // namespace kivo
