// SPDX-License-Identifier: GPL-3.0-or-later
#include "frameplayer.h"

#include "imaging/tasks/handoff.h"
#include "pannableimageview.h"
#include "rotatedimage.h"

#include <QThreadPool>

namespace kivo {

namespace {

constexpr int kFastestDelayMs = 10;
constexpr int kFallbackDelayMs = 100;

// A frame as the view draws it: in a format Qt blits directly, turned like the still picture.
QImage displayFrame(const ImagePtr& image, int index, double rotation) {
    QImage frame = image->frame(index);
    if (frame.isNull())
        return frame;
    if (!drawsDirectly(frame.format()))
        frame.convertTo(QImage::Format_ARGB32_Premultiplied);
    return rotatedBitmap(frame, rotation);
}

} // namespace

FramePlayer::FramePlayer(PannableImageView* view, QThreadPool& animationPool, QObject* parent)
    : QObject(parent)
    , view_(view)
    , pool_(animationPool)
    , pending_(this, &animationPool) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FramePlayer::timerFired);
}

// A frame still decoding finishes on its own; its result has no watcher left to land in.
FramePlayer::~FramePlayer() {
    stop();
}

int FramePlayer::effectiveDelay(int delayMs) {
    return delayMs <= kFastestDelayMs ? kFallbackDelayMs : delayMs;
}

void FramePlayer::play(ImagePtr image, double rotation) {
    stop();
    if (!image || !image->isAnimated())
        return;
    image_ = std::move(image);
    rotation_ = rotation;
    timer_.start(effectiveDelay(image_->frameDelayMs(0)));
    prefetch(1);
}

void FramePlayer::stop() {
    ++generation_;
    pending_.drop();
    timer_.stop();
    image_.reset();
    ready_.reset();
    isDue_ = false;
    current_ = 0;
}

void FramePlayer::prefetch(int index) {
    pending_.wait(
        runOnPool(pool_, [image = image_, index,
                          rotation = rotation_] { return displayFrame(image, index, rotation); }),
        [this, generation = generation_, index](QImage frame) {
            frameArrived(generation, index, frame);
        });
}

void FramePlayer::frameArrived(quint64 generation, int index, const QImage& frame) {
    if (generation != generation_ || !image_)
        return;
    if (frame.isNull()) {
        stop(); // a frame that cannot be decoded ends the animation on the last good one
        return;
    }
    ready_.emplace(index, frame);
    if (isDue_)
        showReadyFrame();
}

void FramePlayer::timerFired() {
    if (ready_)
        showReadyFrame();
    else
        isDue_ = true;
}

void FramePlayer::showReadyFrame() {
    isDue_ = false;
    current_ = ready_->first;
    if (view_)
        view_->setFrameBitmap(ready_->second);
    ready_.reset();
    Q_EMIT frameShown(current_);
    timer_.start(effectiveDelay(image_->frameDelayMs(current_)));
    prefetch((current_ + 1) % image_->frameCount());
}

} // namespace kivo
