// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/image.h"

#include "imaging/codecs/animation.h"
#include "imaging/regions.h"

#include <QColorSpace>
#include <algorithm>
#include <atomic>
#include <cstdint>

namespace kivo {

namespace {

// Decoded frames of an animation kept for replay; beyond this, frames are decoded again each
// time round (in order, which is what playback asks for anyway).
constexpr qsizetype kFrameCacheBytes = 64 * 1024 * 1024;

// Copies below this longer side are not worth keeping: drawing them is cheap anyway.
constexpr int kSmallestReducedSide = 256;

// A 2x2 box filter: exact halving keeps detail sharp and costs one pass over the source,
// unlike a general smooth rescale of the full-size bitmap.
QImage halve(const QImage& source) {
    const int w = source.width() / 2;
    const int h = source.height() / 2;
    QImage out(w, h, source.format());
    if (out.isNull())
        return out;
    out.setColorSpace(source.colorSpace());
    for (int y = 0; y < h; ++y) {
        const auto* top = reinterpret_cast<const uint32_t*>(source.constScanLine(2 * y));
        const auto* bottom = reinterpret_cast<const uint32_t*>(source.constScanLine(2 * y + 1));
        auto* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const uint32_t a = top[2 * x], b = top[2 * x + 1], c = bottom[2 * x],
                           d = bottom[2 * x + 1];
            // Average each 8-bit channel of the four pixels, rounding to nearest.
            const uint32_t lo = ((a & 0x00ff00ffu) + (b & 0x00ff00ffu) + (c & 0x00ff00ffu) +
                                 (d & 0x00ff00ffu) + 0x00020002u) >>
                                2;
            const uint32_t hi =
                (((a >> 8) & 0x00ff00ffu) + ((b >> 8) & 0x00ff00ffu) + ((c >> 8) & 0x00ff00ffu) +
                 ((d >> 8) & 0x00ff00ffu) + 0x00020002u) >>
                2;
            dst[x] = (lo & 0x00ff00ffu) | ((hi & 0x00ff00ffu) << 8);
        }
    }
    return out;
}

quint64 newPictureId() {
    static std::atomic<quint64> last{0};
    return ++last;
}

} // namespace

// The frame source is not thread-safe and decodes in order, so one lock serialises it together
// with the cache of what it produced.
struct Image::Frames {
    std::unique_ptr<FrameSource> source;
    std::mutex mutex;
    std::vector<QImage> cache; // by index; null where not kept
    qsizetype cachedBytes = 0;
};

std::shared_ptr<const Image> Image::create(QImage bitmap) {
    return createLevel(std::move(bitmap), QSize());
}

std::shared_ptr<const Image> Image::createLevel(QImage bitmap, QSize fullSize) {
    if (bitmap.isNull())
        return nullptr;
    const QSize size = fullSize.width() > bitmap.width() || fullSize.height() > bitmap.height()
                           ? fullSize.expandedTo(bitmap.size())
                           : bitmap.size();
    return std::shared_ptr<const Image>(new Image(std::move(bitmap), size, newPictureId()));
}

std::shared_ptr<const Image> Image::createScalable(QImage bitmap, QSize size) {
    if (bitmap.isNull() || size.isEmpty())
        return nullptr;
    auto image = std::shared_ptr<Image>(new Image(std::move(bitmap), size, newPictureId()));
    image->scalable_ = true;
    return image;
}

std::shared_ptr<const Image> Image::createTiled(QImage level,
                                                std::shared_ptr<const RegionReader> regions) {
    if (level.isNull() || !regions || regions->size().isEmpty())
        return nullptr;
    const QSize size = regions->size();
    auto image = std::shared_ptr<Image>(new Image(std::move(level), size, newPictureId()));
    image->regions_ = std::move(regions);
    return image;
}

std::shared_ptr<const Image> Image::refined(QImage bitmap) const {
    if (bitmap.isNull())
        return nullptr;
    // Same aspect to within a pixel of rounding, in the bitmap's pixels: a level of this picture.
    const bool sameAspect = std::abs(qint64(bitmap.width()) * size_.height() -
                                     qint64(bitmap.height()) * size_.width()) <=
                            std::max<qint64>(size_.width(), size_.height()) *
                                std::max(1, bitmap.width() / size_.width());
    const bool level = sameAspect && (scalable_ || bitmap.width() <= size_.width());
    const QSize size = level ? size_ : bitmap.size();
    auto image = std::shared_ptr<Image>(new Image(std::move(bitmap), size, pictureId_));
    image->scalable_ = scalable_ && level;
    if (level)
        image->regions_ = regions_;
    return image;
}

double Image::resolution() const {
    return size_.width() > 0 ? double(bitmap_.width()) / size_.width() : 1.0;
}

std::shared_ptr<const Image> Image::createAnimated(QImage firstFrame,
                                                   std::unique_ptr<FrameSource> frames) {
    if (firstFrame.isNull())
        return nullptr;
    if (frames && frames->frameCount() < 2)
        frames.reset();
    const QSize size = firstFrame.size();
    return std::shared_ptr<const Image>(
        new Image(std::move(firstFrame), size, newPictureId(), std::move(frames)));
}

Image::Image(QImage bitmap, QSize size, quint64 pictureId, std::unique_ptr<FrameSource> frames)
    : bitmap_(std::move(bitmap))
    , size_(size)
    , pictureId_(pictureId) {
    if (frames) {
        frames_ = std::make_unique<Frames>();
        frames_->cache.resize(size_t(frames->frameCount()));
        frames_->source = std::move(frames);
    }
}

Image::~Image() = default;

int Image::frameCount() const {
    return frames_ ? frames_->source->frameCount() : 1;
}

int Image::frameDelayMs(int index) const {
    return frames_ ? frames_->source->frameDelayMs(index) : 0;
}

QImage Image::frame(int index) const {
    if (index == 0)
        return bitmap_;
    if (!frames_ || index < 0 || index >= frameCount())
        return {};
    std::lock_guard lock(frames_->mutex);
    QImage& cached = frames_->cache[size_t(index)];
    if (!cached.isNull())
        return cached;
    QImage decoded = frames_->source->decodeFrame(index);
    // Frames of another size than the first would make the canvas jump; refuse them.
    if (decoded.size() != bitmap_.size())
        return {};
    if (frames_->cachedBytes + decoded.sizeInBytes() <= kFrameCacheBytes) {
        cached = decoded;
        frames_->cachedBytes += decoded.sizeInBytes();
    }
    return decoded;
}

void Image::prepareReducedCopies() const {
    std::call_once(reducedOnce_, [this] {
        if (std::max(bitmap_.width(), bitmap_.height()) <= 2 * kSmallestReducedSide)
            return;
        // The box filter averages 32-bit words channel by channel, which is right for both
        // display formats; anything else is converted once.
        QImage level = bitmap_;
        if (level.format() != QImage::Format_RGB32 &&
            level.format() != QImage::Format_ARGB32_Premultiplied)
            level.convertTo(QImage::Format_ARGB32_Premultiplied);
        while (std::max(level.width(), level.height()) / 2 >= kSmallestReducedSide) {
            QImage next = halve(level);
            if (next.isNull())
                break;
            reduced_.push_back(next);
            level = std::move(next);
        }
    });
}

const QImage& Image::bestCopyForScale(double scale) const {
    prepareReducedCopies();
    const QImage* best = &bitmap_;
    double levelScale = resolution();
    for (const QImage& copy : reduced_) {
        levelScale *= 0.5;
        if (levelScale < scale)
            break;
        best = &copy;
    }
    return *best;
}

} // namespace kivo
