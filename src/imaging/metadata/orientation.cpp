// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/metadata/orientation.h"

#include "imaging/bytes/bytereader.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QColorSpace>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kivo {

namespace {

// Orientations 2 to 4 keep rows as rows: each output row is one source row, possibly reversed.
template <int Bytes> void flipRows(const QImage& src, QImage& dst, bool mirror, bool flip) {
    const int w = src.width(), h = src.height();
    for (int y = 0; y < h; ++y) {
        const uchar* in = src.constScanLine(flip ? h - 1 - y : y);
        uchar* out = dst.scanLine(y);
        if (!mirror) {
            std::memcpy(out, in, size_t(w) * Bytes);
            continue;
        }
        for (int x = 0; x < w; ++x)
            std::memcpy(out + size_t(x) * Bytes, in + size_t(w - 1 - x) * Bytes, Bytes);
    }
}

// Orientations 5 to 8 turn rows into columns. Output (x, y) comes from source column sx(y) and
// source row sy(x); the directions depend on the orientation.
struct Transpose {
    const uchar* srcBits;
    qsizetype srcStride;
    int srcWidth, srcHeight;
    bool columnFromLeft; // sx = y, else sw - 1 - y
    bool rowFromTop;     // sy = x, else sh - 1 - x
    uchar* dstBits;
    qsizetype dstStride;

    int sourceColumn(int y) const { return columnFromLeft ? y : srcWidth - 1 - y; }
    int sourceRow(int x) const { return rowFromTop ? x : srcHeight - 1 - x; }

    template <int Bytes> void copy(int x0, int x1, int y0, int y1) const {
        const qsizetype step = rowFromTop ? srcStride : -srcStride;
        for (int y = y0; y < y1; ++y) {
            const uchar* in =
                srcBits + sourceRow(x0) * srcStride + qsizetype(sourceColumn(y)) * Bytes;
            uchar* out = dstBits + y * dstStride + qsizetype(x0) * Bytes;
            for (int x = x0; x < x1; ++x, in += step, out += Bytes)
                std::memcpy(out, in, Bytes);
        }
    }

#ifdef __SSE2__
    // A 4x4 block of 32-bit pixels: four contiguous loads, a register transpose, four
    // contiguous stores, where the plain loop does sixteen strided loads.
    void copyBlock4x4(int x0, int y0) const {
        const int firstColumn = std::min(sourceColumn(y0), sourceColumn(y0 + 3));
        __m128i r[4];
        for (int k = 0; k < 4; ++k) {
            r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                srcBits + sourceRow(x0 + k) * srcStride + qsizetype(firstColumn) * 4));
            if (!columnFromLeft)
                r[k] = _mm_shuffle_epi32(r[k], 0x1B); // reverse the four pixels
        }
        const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
        const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
        const __m128i c[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                              _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
        for (int j = 0; j < 4; ++j)
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(dstBits + (y0 + j) * dstStride + qsizetype(x0) * 4),
                c[j]);
    }
#endif
};

// Square tiles keep both the rows read and the rows written in cache, which matters at tens of
// megapixels.
template <int Bytes> void transposeTiles(const QImage& src, QImage& dst, int orientation) {
    constexpr int kTile = 64;
    const Transpose t{src.constBits(),
                      src.bytesPerLine(),
                      src.width(),
                      src.height(),
                      orientation == 5 || orientation == 6,
                      orientation == 5 || orientation == 8,
                      dst.bits(),
                      dst.bytesPerLine()};
    const int dw = dst.width(), dh = dst.height();
    for (int ty = 0; ty < dh; ty += kTile) {
        const int yEnd = std::min(ty + kTile, dh);
        for (int tx = 0; tx < dw; tx += kTile) {
            const int xEnd = std::min(tx + kTile, dw);
#ifdef __SSE2__
            if constexpr (Bytes == 4) {
                const int yBlocks = ty + (yEnd - ty) / 4 * 4;
                const int xBlocks = tx + (xEnd - tx) / 4 * 4;
                for (int y = ty; y < yBlocks; y += 4)
                    for (int x = tx; x < xBlocks; x += 4)
                        t.copyBlock4x4(x, y);
                t.copy<Bytes>(xBlocks, xEnd, ty, yEnd);
                t.copy<Bytes>(tx, xBlocks, yBlocks, yEnd);
                continue;
            }
#endif
            t.copy<Bytes>(tx, xEnd, ty, yEnd);
        }
    }
}

template <int Bytes> void orient(const QImage& src, QImage& dst, int orientation) {
    if (orientation <= 4)
        flipRows<Bytes>(src, dst, orientation == 2 || orientation == 3,
                        orientation == 3 || orientation == 4);
    else
        transposeTiles<Bytes>(src, dst, orientation);
}

} // namespace

int exifOrientation(QByteArrayView tiff) {
    const auto reader = TiffReader::open(tiff);
    if (!reader || reader->firstDirectory() < 8)
        return 1;
    const TiffDirectory ifd0 = reader->directory(reader->firstDirectory());
    const TiffEntry* entry = ifd0.find(kTiffOrientationTag);
    // SHORT, one value, held in the first two bytes of the value field.
    const auto value = entry && entry->type == kTiffShort ? reader->number(*entry) : std::nullopt;
    return value && *value >= 1 && *value <= 8 ? int(*value) : 1;
}

QImage applyOrientation(const QImage& image, int orientation) {
    if (orientation < 2 || orientation > 8 || image.isNull())
        return image;
    QImage out = allocateImage(orientedSize(image.size(), orientation), image.format());
    if (out.isNull())
        return {};
    out.setColorSpace(image.colorSpace());
    out.setDotsPerMeterX(image.dotsPerMeterX());
    out.setDotsPerMeterY(image.dotsPerMeterY());
    switch (image.depth()) {
    case 8:
        orient<1>(image, out, orientation);
        break;
    case 16:
        orient<2>(image, out, orientation);
        break;
    case 24:
        orient<3>(image, out, orientation);
        break;
    case 32:
        orient<4>(image, out, orientation);
        break;
    case 64:
        orient<8>(image, out, orientation);
        break;
    case 128:
        orient<16>(image, out, orientation);
        break;
    default: {
        // Sub-byte formats (mono) are rare enough to leave to Qt.
        const QImage converted = image.convertToFormat(QImage::Format_ARGB32);
        return applyOrientation(converted, orientation);
    }
    }
    if (image.format() == QImage::Format_Indexed8)
        out.setColorTable(image.colorTable());
    return out;
}

int longSideToFill(QSize stored, int orientation, QSize box) {
    const QSize upright = orientedSize(stored, orientation);
    const int longSide = std::max(stored.width(), stored.height());
    if (upright.isEmpty() || box.isEmpty())
        return longSide;
    const double fit = std::min(
        {double(box.width()) / upright.width(), double(box.height()) / upright.height(), 1.0});
    return std::clamp(int(std::ceil(longSide * fit - 1e-9)), 1, longSide);
}

} // namespace kivo
