// SPDX-License-Identifier: GPL-3.0-or-later
#include "coordinator.h"

#include "canvasgeometry.h"
#include "crossfade.h"
#include "pannableimageview.h"
#include "rotatedimage.h"
#include "tilelayer.h"
#include "windowautosize.h"
#include "zoomscrollview.h"

#include <algorithm>

namespace kivo {

Coordinator::Coordinator(QThreadPool* animationPool, QObject* parent)
    : QObject(parent)
    , ownAnimationPool_(animationPool ? nullptr : std::make_unique<QThreadPool>())
    , animationPool_(animationPool ? animationPool : ownAnimationPool_.get()) {
    if (ownAnimationPool_)
        ownAnimationPool_->setMaxThreadCount(1); // frames decode in order
}

Coordinator::~Coordinator() = default;

ZoomScrollView* Coordinator::makeView(QWidget* parent) {
    auto* scrollView = new ZoomScrollView(parent);
    scrollView_ = scrollView;
    imageView_ = scrollView->documentView();
    fade_ = new CrossFade(scrollView->viewport());
    player_ = new FramePlayer(imageView_, *animationPool_, this);

    // The image view forwards to whatever callbacks the latest update installed; it holds the
    // coordinator weakly.
    QPointer<Coordinator> self(this);
    imageView_->onDoubleClick = [self] {
        if (self && self->onDoubleClick_)
            self->onDoubleClick_();
    };
    imageView_->onNavigateClick = [self](bool isNext) {
        if (self && self->onNavigateClick_)
            self->onNavigateClick_(isNext);
    };

    connect(scrollView, &ZoomScrollView::boundsChanged, this, &Coordinator::reportState);
    connect(scrollView, &ZoomScrollView::liveMagnifyEnded, this, &Coordinator::reportState);
    connect(scrollView, &ZoomScrollView::liveMagnifyStarted, this, [this] {
        if (scrollView_)
            scrollView_->setFitMode(false);
    });
    return scrollView;
}

bool Coordinator::isFading() const {
    return fade_ && fade_->isRunning();
}

void Coordinator::defer(std::function<void()> work) {
    // Posted with this object as context: dropped if the canvas goes away first.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void Coordinator::update(const CanvasInputs& inputs) {
    if (!imageView_ || !scrollView_)
        return;
    imageView_->tileLayer().setBudget(inputs.tileCacheBytes);
    imageStep(inputs);
    if (inputs.zoomAction)
        zoomStep(inputs);
    if (inputs.scrollTarget)
        scrollStep(inputs);
    onStateChange_ = inputs.onStateChange;
    onDoubleClick_ = inputs.onDoubleClick;
    onNavigateClick_ = inputs.onNavigateClick;
}

void Coordinator::imageStep(const CanvasInputs& inputs) {
    if (!inputs.image)
        return; // keep showing what is shown
    if (inputs.image == sourceImage_ && inputs.rotation == currentRotation_)
        return;
    if (sourceImage_ && inputs.image->samePicture(*sourceImage_) &&
        inputs.rotation == currentRotation_) {
        refineStep(inputs.image);
        return;
    }
    const double previousMagnification = scrollView_->magnification();
    const bool hadImage = sourceImage_ != nullptr;
    sourceImage_ = inputs.image;
    currentRotation_ = inputs.rotation;
    displayedImage_ = imageForDisplay(inputs.image, inputs.rotation);

    if (hadImage && fade_)
        fade_->start(scrollView_->viewport()->grab(), kFadeMs);
    player_->stop();
    imageView_->setImage(displayedImage_);
    player_->play(sourceImage_, currentRotation_);
    scrollView_->setDocumentSize(QSizeF(displayedImage_->size()));

    QPointer<ZoomScrollView> scrollView(scrollView_);
    if (inputs.isAutoSizeWindow) {
        scrollView_->setAutoSizing(true);
        const QSizeF size(displayedImage_->size());
        defer([this, scrollView, size] {
            resizeWindowForImage(scrollView, size);
            defer(
                [this, scrollView] { finishAutoSize(scrollView, {}, [this] { reportState(); }); });
        });
        return;
    }
    defer([this, scrollView, previousMagnification] {
        if (!scrollView)
            return;
        scrollView->updateMinMagnification();
        const double minimum = scrollView->minMagnification();
        scrollView->setMagnification(
            scrollView->isFitMode() ? minimum : std::max(previousMagnification, minimum));
        reportState();
    });
}

// A sharper level of the picture on screen is swapped in place: no fade, no refit. Every level
// has the same size, so the view keeps its centre and magnification exactly; a full picture of
// another size than its preview (a raw file cropped otherwise) keeps its centre and the size
// it appears at.
void Coordinator::refineStep(const ImagePtr& image) {
    const QSizeF before = scrollView_->documentSize();
    sourceImage_ = image;
    displayedImage_ = imageForDisplay(image, currentRotation_);
    imageView_->setImage(displayedImage_);
    const QSizeF after(displayedImage_->size());
    if (after == before || before.isEmpty())
        return;
    const QPointF centre = scrollView_->clipBounds().center();
    const QPointF unitCentre(centre.x() / before.width(), centre.y() / before.height());
    const double magnification = scrollView_->magnification() * before.width() / after.width();
    scrollView_->setDocumentSize(after);
    scrollView_->updateMinMagnification();
    if (scrollView_->isFitMode()) {
        scrollView_->setMagnification(scrollView_->minMagnification());
    } else {
        scrollView_->setMagnification(std::max(magnification, scrollView_->minMagnification()));
        const QSizeF clip = scrollView_->clipBounds().size();
        scrollView_->scrollClipTo(QPointF(unitCentre.x() * after.width() - clip.width() / 2,
                                          unitCentre.y() * after.height() - clip.height() / 2));
    }
    reportState();
}

void Coordinator::zoomStep(const CanvasInputs& inputs) {
    const ZoomAction action = *inputs.zoomAction;
    const auto consumed = inputs.onZoomActionConsumed;
    QPointer<ZoomScrollView> scrollView(scrollView_);
    if (action == ZoomAction::fit && inputs.isAutoSizeWindow && displayedImage_) {
        scrollView_->setAutoSizing(true);
        resizeWindowForImage(scrollView_, QSizeF(displayedImage_->size()));
        defer([this, scrollView, consumed] {
            finishAutoSize(scrollView, consumed, [this] { reportState(); });
        });
        return;
    }
    ZoomScrollView& view = *scrollView_;
    view.updateMinMagnification();
    const QPointF anchor = view.clipBounds().center();
    switch (action) {
    case ZoomAction::fit:
        view.setFitMode(true);
        view.updateMinMagnification();
        view.setMagnification(view.minMagnification());
        break;
    case ZoomAction::actualSize:
        view.setFitMode(false);
        view.setMagnification(std::max(view.minMagnification(), 1.0), anchor);
        break;
    case ZoomAction::zoomIn:
        view.setFitMode(false);
        view.setMagnification(
            std::min(view.magnification() * canvas::kZoomStep, view.maxMagnification()), anchor);
        break;
    case ZoomAction::zoomOut:
        view.setFitMode(false);
        view.setMagnification(
            std::max(view.magnification() / canvas::kZoomStep, view.minMagnification()), anchor);
        break;
    }
    defer([this, consumed] {
        if (consumed)
            consumed();
        reportState();
    });
}

void Coordinator::scrollStep(const CanvasInputs& inputs) {
    const QSizeF document = scrollView_->documentSize();
    if (document.isEmpty())
        return;
    const QRectF clip = scrollView_->clipBounds();
    scrollView_->scrollClipTo(
        canvas::clipOriginForUnitTarget(*inputs.scrollTarget, document, clip.size()));
    const auto consumed = inputs.onScrollTargetConsumed;
    defer([this, consumed] {
        if (consumed)
            consumed();
        reportState();
    });
}

void Coordinator::reportState() {
    if (!scrollView_)
        return;
    const auto rect =
        canvas::visibleUnitRect(scrollView_->clipBounds(), scrollView_->documentSize());
    if (!rect)
        return;
    if (onStateChange_)
        onStateChange_(scrollView_->magnification(), *rect);
}

} // namespace kivo
