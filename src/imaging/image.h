#pragma once

#include <QImage>
#include <QSize>
#include <memory>
#include <mutex>
#include <vector>

namespace kivo {

class FrameSource;

// A decoded picture as the viewer shows it: upright and in sRGB. It is shared and immutable,
// so it can be handed between threads freely; its identity is the object, not its pixels
// (two decodes of one file are two images). Its size in points equals its pixel size.
//
// An animated GIF or WebP is one Image too: bitmap() is its first frame, and the other frames
// are decoded on demand, in order, the first time frame(i) asks for them. Every method may be
// called from any thread.
class Image {
public:
    // Takes ownership of an upright sRGB bitmap. A null bitmap yields no image.
    static std::shared_ptr<const Image> create(QImage bitmap);

    // An animation: its first frame, already decoded, and the source of the others.
    static std::shared_ptr<const Image> createAnimated(QImage firstFrame,
                                                       std::unique_ptr<FrameSource> frames);

    ~Image();

    const QImage& bitmap() const { return bitmap_; }
    QSize size() const { return bitmap_.size(); }
    int width() const { return bitmap_.width(); }
    int height() const { return bitmap_.height(); }

    // 1 for a still picture.
    int frameCount() const;
    bool isAnimated() const { return frameCount() > 1; }
    // How long frame `index` stays on screen, in milliseconds; 0 for a still picture or an
    // index out of range.
    int frameDelayMs(int index) const;
    // Frame `index` (0 is bitmap()), all frames the size of bitmap(). Decodes it on first use,
    // which for an animation may mean decoding the frames before it, so a player should ask
    // for the next frame ahead of time on a worker thread. Recent frames are kept up to a
    // memory bound. Null when the frame cannot be decoded or the index is out of range.
    QImage frame(int index) const;

    // Builds the chain of reduced-size copies that drawing below 100 % uses. Costly for large
    // images, so loaders call it on a worker thread before the image reaches the GUI; calling
    // it again, or from several threads at once, is cheap and safe.
    void prepareReducedCopies() const;

    // The smallest prepared copy whose scale is still at least `scale` (1.0 = the bitmap
    // itself), so a picture drawn at `scale` is always downsampled, never upsampled. Prepares
    // the chain first when that has not happened yet.
    const QImage& bestCopyForScale(double scale) const;

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

private:
    struct Frames;
    explicit Image(QImage bitmap, std::unique_ptr<FrameSource> frames = nullptr);

    QImage bitmap_;
    std::unique_ptr<Frames> frames_;
    mutable std::once_flag reducedOnce_;
    mutable std::vector<QImage> reduced_; // each half the size of the one before
};

using ImagePtr = std::shared_ptr<const Image>;

} // namespace kivo
