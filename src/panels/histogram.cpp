// SPDX-License-Identifier: GPL-3.0-or-later
#include "histogram.h"

#include <QColorSpace>
#include <QImage>

namespace kivo {

namespace {

constexpr qint64 kSampleTarget = 500'000;
// Rows converted at a time when the bitmap is not yet 8-bit sRGB: bounds the extra memory to a
// strip instead of a second full-size copy.
constexpr int kBandRows = 64;

// Byte offsets of red, green, blue and alpha within a 32-bit pixel of a layout that can be read
// where it lies. Straight (unpremultiplied) alpha is premultiplied per sample, which is what
// drawing the pixel over black leaves; the others already are.
struct DirectLayout {
    int red, green, blue, alpha;
    bool straightAlpha = false;
};

std::optional<DirectLayout> directLayout(QImage::Format format) {
    // 0xAARRGGBB in a native 32-bit word.
    const DirectLayout argb =
        Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? DirectLayout{2, 1, 0, 3} : DirectLayout{1, 2, 3, 0};
    const DirectLayout rgba{0, 1, 2, 3};
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return argb;
    case QImage::Format_ARGB32:
        return DirectLayout{argb.red, argb.green, argb.blue, argb.alpha, true};
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return rgba;
    case QImage::Format_RGBA8888:
        return DirectLayout{0, 1, 2, 3, true};
    default:
        return std::nullopt;
    }
}

// Qt's own rounding for premultiplication (qPremultiply), so a sample read in place counts
// exactly as the same pixel converted by QImage.
inline uchar premultiplied(uint value, uint alpha) {
    const uint t = value * alpha;
    return uchar((t + (t >> 8) + 0x80) >> 8);
}

bool isSrgb(const QImage& bitmap) {
    const QColorSpace space = bitmap.colorSpace();
    return !space.isValid() || space == QColorSpace(QColorSpace::SRgb);
}

// Walks the sample indices 0, s, 2s ... in storage order as (row, column) pairs without a
// division per sample.
class SampleCursor {
public:
    SampleCursor(qint64 width, qint64 height, qint64 step)
        : width_(width)
        , height_(height)
        , rowStep_(step / width)
        , columnStep_(step % width) {}

    bool done() const { return row_ >= height_; }
    qint64 row() const { return row_; }
    qint64 column() const { return column_; }

    void advance() {
        row_ += rowStep_;
        column_ += columnStep_;
        if (column_ >= width_) {
            column_ -= width_;
            ++row_;
        }
    }

private:
    qint64 width_, height_, rowStep_, columnStep_;
    qint64 row_ = 0, column_ = 0;
};

// Samples this far ahead are fetched into the cache while the current one is counted: with a
// stride of tens of pixels every sample is a cache miss, and a 24 MP bitmap spans more pages than
// the hardware prefetcher follows, so without this the loop waits on memory for each sample.
constexpr int kPrefetchDistance = 32;

// Counts the samples that fall into rows [firstRow, firstRow + rows.height()) of `rows`, whose
// pixels are laid out as `layout` says.
void countRows(const QImage& rows, qint64 firstRow, DirectLayout layout, SampleCursor& cursor,
               HistogramData& data) {
    const qint64 endRow = firstRow + rows.height();
    const uchar* bits = rows.constBits();
    const qint64 stride = rows.bytesPerLine();
    const auto address = [&](const SampleCursor& at) {
        return bits + (at.row() - firstRow) * stride + 4 * at.column();
    };
    // Local copies: the counts are 64-bit integers too, so the compiler would otherwise have to
    // assume that each increment may change the cursors.
    SampleCursor at = cursor;
    SampleCursor ahead = cursor;
    for (int i = 0; i < kPrefetchDistance; ++i)
        ahead.advance();
    while (!at.done() && at.row() < endRow) {
        if (!ahead.done() && ahead.row() < endRow) {
            __builtin_prefetch(address(ahead));
            ahead.advance();
        }
        const uchar* pixel = address(at);
        if (layout.straightAlpha) {
            const uint alpha = pixel[layout.alpha];
            ++data.red[premultiplied(pixel[layout.red], alpha)];
            ++data.green[premultiplied(pixel[layout.green], alpha)];
            ++data.blue[premultiplied(pixel[layout.blue], alpha)];
        } else {
            ++data.red[pixel[layout.red]];
            ++data.green[pixel[layout.green]];
            ++data.blue[pixel[layout.blue]];
        }
        at.advance();
    }
    cursor = at;
}

// A bitmap in a screen's colour space: the samples alone are gathered and converted back to sRGB,
// so the picture's own values are counted for the cost of at most a million pixels.
std::optional<HistogramData> countConvertedSamples(const QImage& bitmap, SampleCursor cursor,
                                                   qint64 step) {
    const qint64 count = (qint64(bitmap.width()) * bitmap.height() + step - 1) / step;
    QImage samples(int(count), 1, bitmap.format());
    if (samples.isNull())
        return std::nullopt;
    auto* out = reinterpret_cast<quint32*>(samples.bits());
    for (qint64 i = 0; i < count && !cursor.done(); ++i, cursor.advance())
        out[i] = reinterpret_cast<const quint32*>(
            bitmap.constScanLine(int(cursor.row())))[cursor.column()];
    samples.setColorSpace(bitmap.colorSpace());
    samples.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    samples.convertTo(QImage::Format_RGBA8888_Premultiplied);
    if (samples.isNull() || samples.format() != QImage::Format_RGBA8888_Premultiplied)
        return std::nullopt;
    HistogramData data;
    SampleCursor all(count, 1, 1);
    countRows(samples, 0, *directLayout(samples.format()), all, data);
    return data;
}

} // namespace

qint64 histogramSamplingStep(qint64 pixelCount) {
    return pixelCount < kSampleTarget ? 1 : pixelCount / kSampleTarget;
}

std::optional<HistogramData> computeHistogram(const Image& image) {
    const QImage& bitmap = image.bitmap();
    const qint64 width = bitmap.width();
    const qint64 height = bitmap.height();
    if (width < 1 || height < 1)
        return std::nullopt;
    HistogramData data;
    SampleCursor cursor(width, height, histogramSamplingStep(width * height));

    // The decoder's bitmap usually is 8-bit sRGB already: read it where it lies.
    if (const auto layout = directLayout(bitmap.format()); layout && isSrgb(bitmap)) {
        countRows(bitmap, 0, *layout, cursor, data);
        return data;
    }
    if (directLayout(bitmap.format()))
        return countConvertedSamples(bitmap, cursor, histogramSamplingStep(width * height));

    // Anything else is converted strip by strip, as drawing it into a cleared 8-bit sRGB buffer
    // would: premultiplied, so transparent areas count as black.
    const QImage::Format target = QImage::Format_RGBA8888_Premultiplied;
    const bool convertColours = !isSrgb(bitmap);
    for (qint64 top = 0; top < height && !cursor.done(); top += kBandRows) {
        const int rows = int(std::min<qint64>(kBandRows, height - top));
        if (cursor.row() >= top + rows)
            continue;
        QImage band = bitmap.copy(0, int(top), int(width), rows);
        if (convertColours)
            band.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
        band.convertTo(target);
        if (band.isNull() || band.format() != target)
            return std::nullopt;
        countRows(band, top, *directLayout(target), cursor, data);
    }
    return data;
}

} // namespace kivo
