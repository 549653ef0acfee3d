#include "orientation.h"

#include "pixelbuffer.h"

#include <QColorSpace>
#include <cstdint>
#include <cstring>

namespace kivo {

namespace {

uint16_t read16(const uchar* p, bool bigEndian) {
    return bigEndian ? uint16_t((p[0] << 8) | p[1]) : uint16_t((p[1] << 8) | p[0]);
}

uint32_t read32(const uchar* p, bool bigEndian) {
    return bigEndian
               ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
               : (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

// Fixed-size pixel for the copy loops; memcpy keeps the loads free of alignment assumptions and
// compiles to plain moves.
template <int Bytes> struct Pixel { uchar bytes[Bytes]; };

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

// Orientations 5 to 8 turn rows into columns. Working in square tiles keeps both the rows read
// and the rows written in cache, which matters at tens of megapixels.
template <int Bytes> void transposeTiles(const QImage& src, QImage& dst, int orientation) {
    constexpr int kTile = 64;
    const int sw = src.width(), sh = src.height();
    const int dw = dst.width(), dh = dst.height();
    const qsizetype srcStride = src.bytesPerLine();
    const uchar* srcBits = src.constBits();
    // Output (x, y) comes from source column sx(y) and source row sy(x).
    const bool columnFromLeft = orientation == 5 || orientation == 6;
    const bool rowFromTop = orientation == 5 || orientation == 8;
    for (int ty = 0; ty < dh; ty += kTile) {
        const int yEnd = std::min(ty + kTile, dh);
        for (int tx = 0; tx < dw; tx += kTile) {
            const int xEnd = std::min(tx + kTile, dw);
            for (int y = ty; y < yEnd; ++y) {
                const int sx = columnFromLeft ? y : sw - 1 - y;
                const int sy0 = rowFromTop ? tx : sh - 1 - tx;
                const qsizetype step = rowFromTop ? srcStride : -srcStride;
                const uchar* in = srcBits + sy0 * srcStride + qsizetype(sx) * Bytes;
                uchar* out = dst.scanLine(y) + qsizetype(tx) * Bytes;
                for (int x = tx; x < xEnd; ++x, in += step, out += Bytes)
                    std::memcpy(out, in, Bytes);
            }
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
    const auto* data = reinterpret_cast<const uchar*>(tiff.data());
    const qsizetype size = tiff.size();
    if (size < 8)
        return 1;
    bool bigEndian;
    if (std::memcmp(data, "II*\0", 4) == 0)
        bigEndian = false;
    else if (std::memcmp(data, "MM\0*", 4) == 0)
        bigEndian = true;
    else
        return 1;
    const uint32_t ifd = read32(data + 4, bigEndian);
    if (ifd < 8 || qsizetype(ifd) + 2 > size)
        return 1;
    const int count = read16(data + ifd, bigEndian);
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = qsizetype(ifd) + 2 + qsizetype(i) * 12;
        if (entry + 12 > size)
            return 1;
        const uchar* e = data + entry;
        if (read16(e, bigEndian) != 0x0112)
            continue;
        // SHORT, one value, held in the first two bytes of the value field.
        const int type = read16(e + 2, bigEndian);
        const int value = type == 3 ? read16(e + 8, bigEndian) : 0;
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
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

} // namespace kivo
