// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the whole-picture PNG decoder and the PNG region reader share: libspng's context and
// stream, the colour of the file, and its rows turned into display pixels or averaged down.

#include "imaging/tasks/cancellation.h"

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QRgba64>
#include <climits>
#include <memory>
#include <spng.h>
#include <vector>

namespace kivo::png {

struct ContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

// libspng reads through this, so that a cancelled decode also stops inside a long IDAT run.
inline int readFromFile(spng_ctx*, void* user, void* destination, size_t length) {
    auto* file = static_cast<QFile*>(user);
    auto* out = static_cast<char*>(destination);
    while (length > 0) {
        if (CancelScope::requested())
            return SPNG_IO_ERROR;
        const qint64 got = file->read(out, qint64(length));
        if (got <= 0)
            return got == 0 ? SPNG_IO_EOF : SPNG_IO_ERROR;
        out += got;
        length -= size_t(got);
    }
    return 0;
}

struct PngColour {
    QColorSpace space;
    QByteArray icc; // only when QColorSpace cannot read the embedded profile
};

// The same precedence as Qt's PNG reader, so both paths show a file alike: a profile Qt can
// read, else the sRGB chunk, else gAMA (with cHRM's primaries when they are usable).
inline PngColour colourOf(spng_ctx* context) {
    PngColour colour;
    uint8_t intent = 0;
    if (spng_get_srgb(context, &intent) == 0 && intent <= 3)
        colour.space = QColorSpace::SRgb;
    QByteArray profile;
    spng_iccp iccp{};
    if (spng_get_iccp(context, &iccp) == 0 && iccp.profile && iccp.profile_len <= INT_MAX) {
        profile = QByteArray(iccp.profile, qsizetype(iccp.profile_len));
        const QColorSpace parsed = QColorSpace::fromIccProfile(profile);
        if (parsed.isValid())
            colour.space = parsed;
    }
    double gamma = 0;
    if (!colour.space.isValid() && spng_get_gama(context, &gamma) == 0 && gamma > 0) {
        const float exponent = float(1.0 / gamma);
        spng_chrm chrm{};
        if (spng_get_chrm(context, &chrm) == 0)
            colour.space = QColorSpace(
                QPointF(chrm.white_point_x, chrm.white_point_y), QPointF(chrm.red_x, chrm.red_y),
                QPointF(chrm.green_x, chrm.green_y), QPointF(chrm.blue_x, chrm.blue_y),
                QColorSpace::TransferFunction::Gamma, exponent);
        if (!colour.space.isValid())
            colour.space = QColorSpace(QColorSpace::Primaries::SRgb,
                                       QColorSpace::TransferFunction::Gamma, exponent);
    }
    if (!colour.space.isValid())
        colour.icc = profile;
    return colour;
}

// How libspng's rows become the bitmap's: RGBA8 to display words, RGBA16 kept at 16 bits, or
// RGBA16 reduced to display words with Qt's rounding (premultiplied at 16 bits first, as Qt
// converts a 16-bit picture).
enum class RowKind { display, deep, narrowed };

// Converts one row in place; the converted pixels start at the row's first byte.
inline void convertRow(uchar* row, int width, RowKind kind, bool alpha) {
    auto* display = reinterpret_cast<QRgb*>(row);
    auto* deep = reinterpret_cast<QRgba64*>(row);
    switch (kind) {
    case RowKind::display:
        for (int x = 0; x < width; ++x) {
            const uchar* p = row + 4 * x;
            const QRgb rgba = qRgba(p[0], p[1], p[2], p[3]);
            display[x] = alpha ? qPremultiply(rgba) : (rgba | 0xff000000u);
        }
        break;
    case RowKind::deep: // libspng's host-endian RGBA16 is already QRgba64's layout
        if (alpha)
            for (int x = 0; x < width; ++x)
                deep[x] = deep[x].premultiplied();
        break;
    case RowKind::narrowed: // left to right, each pixel is read before its bytes are reused
        for (int x = 0; x < width; ++x) {
            const QRgba64 p = deep[x];
            display[x] = alpha ? p.premultiplied().toArgb32() : (p.toArgb32() | 0xff000000u);
        }
        break;
    }
}

// Averages whole rows into a smaller bitmap as they arrive (a box filter), so a screen-sized
// level of a large picture never holds the full one. Rows are four channels in the bitmap's
// memory order (premultiplied where the picture has alpha), or for an opaque 8-bit picture
// libspng's RGBA as it comes, swapped only once averaged.
template <typename Channel, typename Sum> class RowReducer {
public:
    RowReducer(int sourceWidth, int sourceHeight, QImage& out, bool fromRgba)
        : sourceHeight_(sourceHeight)
        , out_(out)
        , fromRgba_(fromRgba)
        , start_(size_t(out.width()) + 1)
        , sums_(size_t(out.width()) * 4, 0) {
        // Target column t averages the source columns x with x * width / sourceWidth == t.
        for (qint64 t = 0; t <= out.width(); ++t)
            start_[size_t(t)] = int((t * sourceWidth + out.width() - 1) / out.width());
    }

    void add(int y, const uchar* row) {
        const int target = int(qint64(y) * out_.height() / sourceHeight_);
        if (target != row_)
            flush();
        row_ = target;
        const auto* pixels = reinterpret_cast<const Channel*>(row);
        for (size_t t = 0; t + 1 < start_.size(); ++t) {
            Sum c0 = 0, c1 = 0, c2 = 0, c3 = 0;
            const Channel* end = pixels + 4 * start_[t + 1];
            for (const Channel* p = pixels + 4 * start_[t]; p < end; p += 4) {
                c0 += p[0];
                c1 += p[1];
                c2 += p[2];
                c3 += p[3];
            }
            Sum* sum = &sums_[t * 4];
            sum[0] += c0;
            sum[1] += c1;
            sum[2] += c2;
            sum[3] += c3;
        }
        ++rows_;
    }

    void flush() {
        if (rows_ == 0 || row_ < 0)
            return;
        auto* out = reinterpret_cast<Channel*>(out_.scanLine(row_));
        for (size_t t = 0; t + 1 < start_.size(); ++t) {
            const Sum n = Sum(start_[t + 1] - start_[t]) * rows_;
            Sum* sum = &sums_[t * 4];
            Channel mean[4];
            for (int c = 0; c < 4; ++c)
                mean[c] = Channel((sum[c] + n / 2) / n);
            if (fromRgba_)
                reinterpret_cast<QRgb*>(out)[t] = qRgba(mean[0], mean[1], mean[2], mean[3]);
            else
                std::copy(mean, mean + 4, out + 4 * t);
            std::fill(sum, sum + 4, 0);
        }
        rows_ = 0;
    }

private:
    int sourceHeight_;
    QImage& out_;
    bool fromRgba_;
    std::vector<int> start_; // first source column of each target column, and the width
    std::vector<Sum> sums_;
    int row_ = -1;
    Sum rows_ = 0;
};

} // namespace kivo::png
