// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/image.h"
#include "imaging/tasks/pendingresult.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <optional>
#include <utility>

class QThreadPool;

namespace kivo {

class PannableImageView;

// Plays an animated picture on the image view, each frame for its own delay, looping. The next
// frame is decoded, converted and turned on a worker thread while the current one is on screen,
// so the GUI thread only swaps bitmaps; a frame that is late is shown as soon as it arrives.
class FramePlayer : public QObject {
    Q_OBJECT

public:
    // Frames decode on `animationPool`, the application's one-thread pool for animation, so they
    // come in order and never wait behind other work.
    FramePlayer(PannableImageView* view, QThreadPool& animationPool, QObject* parent = nullptr);
    ~FramePlayer() override;

    // Starts from the first frame, which the view already shows as the image itself. Does
    // nothing for a still picture.
    void play(ImagePtr image, double rotation);
    void stop();
    bool isPlaying() const { return image_ != nullptr; }
    int currentFrame() const { return current_; }

    // Delays of 10 ms or less are stored by many encoders to mean "as fast as possible"; like
    // web browsers, such frames are shown for 100 ms so the animation plays at its intended pace.
    static int effectiveDelay(int delayMs);

Q_SIGNALS:
    void frameShown(int index);

private:
    void prefetch(int index);
    void frameArrived(quint64 generation, int index, const QImage& frame);
    void timerFired();
    void showReadyFrame();

    QPointer<PannableImageView> view_;
    ImagePtr image_;
    double rotation_ = 0.0;
    int current_ = 0;
    quint64 generation_ = 0; // results of an earlier play() are dropped
    std::optional<std::pair<int, QImage>> ready_;
    bool isDue_ = false; // the current frame's time is up but the next is not decoded yet
    QTimer timer_;
    QThreadPool& pool_;
    PendingResult<QImage> pending_; // the next frame, decoding
};

} // namespace kivo
