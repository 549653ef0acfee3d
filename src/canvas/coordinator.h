// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "crossfade.h"
#include "frameplayer.h"
#include "imaging/image.h"
#include "model/appstate.h"
#include "pannableimageview.h"
#include "zoomscrollview.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <optional>

namespace kivo {

// What the viewer hands the canvas on every update: the model's values and the callbacks through
// which the canvas reports back.
struct CanvasInputs {
    ImagePtr image;
    double rotation = 0.0;
    bool isAutoSizeWindow = false;
    qint64 tileCacheBytes = 0; // the memory tiles of a huge picture may take; 0: the default
    std::optional<ZoomAction> zoomAction;
    std::optional<QPointF> scrollTarget; // unit coordinates, origin lower-left, y up
    std::function<void()> onZoomActionConsumed;
    std::function<void(double magnification, QRectF visibleRect)> onStateChange;
    std::function<void()> onScrollTargetConsumed;
    std::function<void()> onDoubleClick;
    std::function<void(bool isNext)> onNavigateClick;
};

// The long-lived controller of the canvas: builds the scroll view and the image view once,
// carries out each update (image, then zoom request, then scroll request, then callbacks), and
// reports the magnification and visible rectangle after every change.
//
// Work that must follow the update (the refit after a new image, the consumption callbacks, the
// window auto-size) is posted to the event loop and runs in a later turn, one piece at a time
// in posting order, calling the callbacks of the update that posted it.
class Coordinator : public QObject {
    Q_OBJECT

public:
    static constexpr int kFadeMs = 150;

    // Animation frames decode on `animationPool`; with none, on a pool of the coordinator's own.
    explicit Coordinator(QThreadPool* animationPool = nullptr, QObject* parent = nullptr);
    ~Coordinator() override;

    // Builds the views; the scroll view becomes a child of `parent`.
    ZoomScrollView* makeView(QWidget* parent);
    void update(const CanvasInputs& inputs);
    void reportState();

    ZoomScrollView* scrollView() const { return scrollView_; }
    PannableImageView* imageView() const { return imageView_; }
    const ImagePtr& sourceImage() const { return sourceImage_; }
    const ImagePtr& displayedImage() const { return displayedImage_; }
    double currentRotation() const { return currentRotation_; }
    bool isFading() const;
    FramePlayer* framePlayer() const { return player_; }

private:
    void imageStep(const CanvasInputs& inputs);
    void refineStep(const ImagePtr& image);
    void zoomStep(const CanvasInputs& inputs);
    void scrollStep(const CanvasInputs& inputs);
    void defer(std::function<void()> work);

    QPointer<ZoomScrollView> scrollView_;
    QPointer<PannableImageView> imageView_;
    QPointer<CrossFade> fade_;
    std::unique_ptr<QThreadPool> ownAnimationPool_;
    QThreadPool* animationPool_;
    FramePlayer* player_ = nullptr; // owned by this object
    ImagePtr sourceImage_;
    ImagePtr displayedImage_;
    double currentRotation_ = 0.0;
    std::function<void(double, QRectF)> onStateChange_;
    std::function<void()> onDoubleClick_;
    std::function<void(bool)> onNavigateClick_;
};

} // namespace kivo
