#pragma once

#include "imaging/image.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace kivo {

class PannableImageView;

// The frames of an animated picture as the player reads them: frame `i`'s upright bitmap and
// how long it stays on screen.
struct AnimationFrames {
    int count = 0;
    std::function<QImage(int)> frame;
    std::function<int(int)> delayMs;
};

// The frames of `image` when it is animated; a count below 2 for a still picture.
AnimationFrames animationFramesOf(const ImagePtr& image);

// Plays an animation on the image view, each frame for its own delay, looping. Frames are turned
// like the still picture when the view shows it rotated.
class FramePlayer : public QObject {
    Q_OBJECT

public:
    explicit FramePlayer(PannableImageView* view, QObject* parent = nullptr);

    // Starts from the first frame, which the view already shows as the image itself.
    void play(AnimationFrames frames, double rotation);
    void stop();
    bool isPlaying() const { return timer_.isActive(); }
    int currentFrame() const { return current_; }

    // Delays of 10 ms or less are stored by many encoders to mean "as fast as possible"; like
    // web browsers, such frames are shown for 100 ms so the animation plays at its intended pace.
    static int effectiveDelay(int delayMs);

Q_SIGNALS:
    void frameShown(int index);

private:
    void advance();

    QPointer<PannableImageView> view_;
    AnimationFrames frames_;
    double rotation_ = 0.0;
    int current_ = 0;
    QTimer timer_;
};

} // namespace kivo
