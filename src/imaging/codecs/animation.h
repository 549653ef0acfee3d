// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/formats.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <memory>
#include <optional>

namespace kivo {

// The frames of an animated picture, decoded in order when asked for. Implementations are not
// thread-safe: Image serialises every call (see Image::frame).
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int frameCount() const = 0;
    // How long frame `index` stays on screen, in milliseconds.
    virtual int frameDelayMs(int index) const = 0;
    // Frame `index` composed onto the canvas, as an sRGB display bitmap; null when it cannot be
    // decoded. Asking for an earlier frame than the last one restarts from the first.
    virtual QImage decodeFrame(int index) = 0;
};

struct Animation {
    QImage firstFrame;
    std::unique_ptr<FrameSource> frames;
};

// Browsers show frames that ask for 10 ms or less for 100 ms, and files are made to look right
// there; taking such delays literally would spin the animation.
inline int normalisedDelay(int ms) {
    return ms <= 10 ? 100 : ms;
}

// The animation of a GIF or WebP file's bytes, its first frame decoded at once. None when the
// file holds a single frame (decode it as a still image) or cannot be read.
std::optional<Animation> openAnimation(QByteArray data, const FormatInfo& format);

// Whether a WebP file's header announces an animation, from its first 32 bytes or so, so that a
// still WebP is never read twice.
bool webpHeaderIsAnimated(QByteArrayView head);

} // namespace kivo
