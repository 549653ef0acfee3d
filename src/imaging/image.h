// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QSize>
#include <memory>
#include <mutex>
#include <vector>

namespace kivo {

class FrameSource;
class RegionReader;

// A decoded picture as the viewer shows it: upright and in the colour space of the screen it was
// decoded for (sRGB unless a display profile was given). It is shared and immutable,
// so it can be handed between threads freely; its identity is the object, not its pixels
// (two decodes of one file are two images).
//
// An image is one level of its picture: the full resolution, or a reduced one decoded first
// because it is cheap (a screen-sized JPEG, a raw file's preview). Every level has the same
// size(), the full size the file declares, in points: zoom and geometry use it whichever level
// is drawn, and the bitmap is simply stretched over it. A better level of the same picture is
// made with refined(), so that whoever draws it can tell a sharper copy from another picture.
//
// An animated GIF or WebP is one Image too: bitmap() is its first frame, and the other frames
// are decoded on demand, in order, the first time frame(i) asks for them. Every method may be
// called from any thread.
class Image {
public:
    // Takes ownership of an upright sRGB bitmap at full resolution. A null bitmap yields no
    // image.
    static std::shared_ptr<const Image> create(QImage bitmap);

    // A reduced level of a picture whose full size is `fullSize`: the bitmap covers the same
    // picture at fewer pixels. An invalid or smaller `fullSize` means the bitmap is full size.
    static std::shared_ptr<const Image> createLevel(QImage bitmap, QSize fullSize);

    // A vector picture of intrinsic size `size`, rendered into `bitmap` at any scale: its levels
    // may hold more pixels than its size (a view zoomed in), and every one is full resolution
    // once it holds at least one pixel per point.
    static std::shared_ptr<const Image> createScalable(QImage bitmap, QSize size);

    // A picture too large to hold whole: `level` is a reduced level that fills the screen
    // (what fit and the navigator draw), `regions` reads sharper tiles where the view looks.
    // size() is the reader's full size.
    static std::shared_ptr<const Image> createTiled(QImage level,
                                                    std::shared_ptr<const RegionReader> regions);

    // An animation: its first frame, already decoded, and the source of the others.
    static std::shared_ptr<const Image> createAnimated(QImage firstFrame,
                                                       std::unique_ptr<FrameSource> frames);

    ~Image();

    // This level's pixels; smaller than size() for a reduced level.
    const QImage& bitmap() const { return bitmap_; }
    // The picture's full size in points.
    QSize size() const { return size_; }
    int width() const { return size_.width(); }
    int height() const { return size_.height(); }

    bool isFullResolution() const {
        return scalable_ ? bitmap_.width() >= size_.width() : bitmap_.size() == size_;
    }
    // Where sharper pixels come from for a tiled picture (createTiled); null otherwise. A tiled
    // picture never has a full-resolution bitmap: views read tiles instead.
    const std::shared_ptr<const RegionReader>& regions() const { return regions_; }
    bool isTiled() const { return regions_ != nullptr; }
    // Whether a sharper level can always be rendered (createScalable).
    bool isScalable() const { return scalable_; }
    // Bitmap pixels per point: 1 at full resolution, 0.25 for a quarter-scale level, 8 for a
    // vector picture rendered for 800 %.
    double resolution() const;

    // The same picture at another level, sharing this one's identity (samePicture) and size.
    // A bitmap of another aspect than size() (a raw file whose preview was cropped differently
    // from its sensor) becomes a full-resolution picture of its own size.
    std::shared_ptr<const Image> refined(QImage bitmap) const;
    // Whether `other` is a level of this picture (or this very image).
    bool samePicture(const Image& other) const { return pictureId_ == other.pictureId_; }

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

    // The smallest prepared copy whose scale, in pixels per point, is still at least `scale`,
    // so a picture drawn at `scale` is downsampled, never upsampled; the bitmap itself when no
    // copy is large enough (a reduced level drawn beyond its resolution). Prepares the chain
    // first when that has not happened yet.
    const QImage& bestCopyForScale(double scale) const;

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

private:
    struct Frames;
    Image(QImage bitmap, QSize size, quint64 pictureId,
          std::unique_ptr<FrameSource> frames = nullptr);

    QImage bitmap_;
    QSize size_;
    quint64 pictureId_;
    bool scalable_ = false;
    std::shared_ptr<const RegionReader> regions_;
    std::unique_ptr<Frames> frames_;
    mutable std::once_flag reducedOnce_;
    mutable std::vector<QImage> reduced_; // each half the size of the one before
};

using ImagePtr = std::shared_ptr<const Image>;

} // namespace kivo
