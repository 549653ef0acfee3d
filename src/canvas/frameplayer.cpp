#include "frameplayer.h"

#include "pannableimageview.h"
#include "rotatedimage.h"

namespace kivo {

namespace {

constexpr int kFastestDelayMs = 10;
constexpr int kFallbackDelayMs = 100;

} // namespace

AnimationFrames animationFramesOf(const ImagePtr& image) {
    if (!image)
        return {};
    return {}; // still pictures only until images carry their animation frames
}

FramePlayer::FramePlayer(PannableImageView* view, QObject* parent)
    : QObject(parent)
    , view_(view) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FramePlayer::advance);
}

int FramePlayer::effectiveDelay(int delayMs) {
    return delayMs <= kFastestDelayMs ? kFallbackDelayMs : delayMs;
}

void FramePlayer::play(AnimationFrames frames, double rotation) {
    stop();
    if (frames.count < 2 || !frames.frame || !frames.delayMs)
        return;
    frames_ = std::move(frames);
    rotation_ = rotation;
    current_ = 0;
    timer_.start(effectiveDelay(frames_.delayMs(0)));
}

void FramePlayer::stop() {
    timer_.stop();
    frames_ = {};
    current_ = 0;
}

void FramePlayer::advance() {
    if (!view_ || frames_.count < 2)
        return;
    current_ = (current_ + 1) % frames_.count;
    QImage bitmap = frames_.frame(current_);
    if (!bitmap.isNull() && !drawsDirectly(bitmap.format()))
        bitmap.convertTo(QImage::Format_ARGB32_Premultiplied);
    if (!bitmap.isNull())
        view_->setFrameBitmap(rotatedBitmap(bitmap, rotation_));
    Q_EMIT frameShown(current_);
    timer_.start(effectiveDelay(frames_.delayMs(current_)));
}

} // namespace kivo
