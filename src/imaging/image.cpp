#include "image.h"

#include <QColorSpace>
#include <algorithm>
#include <cstdint>

namespace kivo {

namespace {

// Copies below this longer side are not worth keeping: drawing them is cheap anyway.
constexpr int kSmallestReducedSide = 256;

// A 2x2 box filter: exact halving keeps detail sharp and costs one pass over the source,
// unlike a general smooth rescale of the full-size bitmap.
QImage halve(const QImage& source) {
    const int w = source.width() / 2;
    const int h = source.height() / 2;
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
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

} // namespace

std::shared_ptr<const Image> Image::create(QImage bitmap) {
    if (bitmap.isNull())
        return nullptr;
    return std::shared_ptr<const Image>(new Image(std::move(bitmap)));
}

Image::Image(QImage bitmap)
    : bitmap_(std::move(bitmap)) {}

void Image::prepareReducedCopies() const {
    std::call_once(reducedOnce_, [this] {
        if (std::max(bitmap_.width(), bitmap_.height()) <= 2 * kSmallestReducedSide)
            return;
        QImage level = bitmap_.convertToFormat(QImage::Format_ARGB32_Premultiplied);
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
    double levelScale = 1.0;
    for (const QImage& copy : reduced_) {
        levelScale *= 0.5;
        if (levelScale < scale)
            break;
        best = &copy;
    }
    return *best;
}

} // namespace kivo
