#pragma once

#include <QImage>
#include <QSize>
#include <memory>
#include <mutex>
#include <vector>

namespace kivo {

// A decoded picture as the viewer shows it: upright and in sRGB. It is shared and immutable,
// so it can be handed between threads freely; its identity is the object, not its pixels
// (two decodes of one file are two images). Its size in points equals its pixel size.
class Image {
public:
    // Takes ownership of an upright sRGB bitmap. A null bitmap yields no image.
    static std::shared_ptr<const Image> create(QImage bitmap);

    const QImage& bitmap() const { return bitmap_; }
    QSize size() const { return bitmap_.size(); }
    int width() const { return bitmap_.width(); }
    int height() const { return bitmap_.height(); }

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
    explicit Image(QImage bitmap);

    QImage bitmap_;
    mutable std::once_flag reducedOnce_;
    mutable std::vector<QImage> reduced_; // each half the size of the one before
};

using ImagePtr = std::shared_ptr<const Image>;

} // namespace kivo
