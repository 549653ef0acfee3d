// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/pngdecoder.h"

#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/pngrowindex.h"
#include "imaging/codecs/pngrows.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/tasks/cancellation.h"

#include <QColorSpace>
#include <QFile>
#include <QRgba64>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <spng.h>
#include <type_traits>
#include <vector>

namespace kivo {

using namespace png;

namespace {

// Larger text or profile chunks are not worth holding; libspng's own default is unbounded.
constexpr size_t kMaxChunkBytes = 64 * 1024 * 1024;
// How many rows are decoded between two looks at whether the decode is still wanted.
constexpr int kRowsPerCancelCheck = 32;

// The stored size the decode aims at: what fills the box once turned upright, or what the long
// side allows; the full size when that is no smaller.
QSize targetSize(QSize stored, const PngDecodeOptions& options) {
    if (options.fitBox.isValid() && !options.fitBox.isEmpty()) {
        const QSize upright = orientedSize(stored, options.orientation);
        const QSize fitted = upright.scaled(options.fitBox, Qt::KeepAspectRatio).expandedTo({1, 1});
        return fitted.width() < upright.width() ? orientedSize(fitted, options.orientation)
                                                : stored;
    }
    const int longSide = std::max(stored.width(), stored.height());
    const int wanted = options.maxLongSide;
    if (wanted <= 0 || longSide <= wanted)
        return stored;
    const auto shortSide = [&](int side) {
        return std::max(1, int(qint64(side) * wanted / longSide));
    };
    return stored.width() >= stored.height() ? QSize(wanted, shortSide(stored.height()))
                                             : QSize(shortSide(stored.width()), wanted);
}

Failure refused(const char* what, int error) {
    if (CancelScope::requested())
        return Failure{FailureReason::unreadable, QStringLiteral("cancelled")};
    return Failure{FailureReason::unsupported,
                   QStringLiteral("libspng %1: %2")
                       .arg(QLatin1StringView(what), QLatin1StringView(spng_strerror(error)))};
}

Failure stopped(int error) {
    if (CancelScope::requested())
        return Failure{FailureReason::unreadable, QStringLiteral("cancelled")};
    return Failure{FailureReason::damaged,
                   QStringLiteral("libspng: %1").arg(QLatin1StringView(spng_strerror(error)))};
}

} // namespace

Result<DecodedPixels> decodePng(const FilePath& path, const PngDecodeOptions& options) {
    QFile file;
    Failure why;
    if (!openForReading(file, path, &why))
        return why;
    const Context context(spng_ctx_new(0));
    if (!context)
        return Failure{FailureReason::tooLarge, QStringLiteral("no memory for libspng")};
    spng_ctx* ctx = context.get();
    // As libpng: a broken critical chunk is an error, a broken ancillary one is skipped.
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
    spng_set_chunk_limits(ctx, kMaxChunkBytes, kMaxChunkBytes);
    spng_set_png_stream(ctx, readFromFile, &file);

    spng_ihdr header{};
    if (const int error = spng_get_ihdr(ctx, &header))
        return refused("header", error);
    if (header.width > INT_MAX || header.height > INT_MAX)
        return Failure{FailureReason::tooLarge,
                       QStringLiteral("%1x%2 pixels").arg(header.width).arg(header.height)};
    const int width = int(header.width), height = int(header.height);
    const QSize stored(width, height);
    const bool deepSource = header.bit_depth == 16;
    // Budgeted at the size of the picture whole, the same limit the other decoders keep.
    if (!fitsDecodeBudget(stored, deepSource ? 8 : 4))
        return Failure{FailureReason::tooLarge,
                       QStringLiteral("%1x%2 pixels").arg(width).arg(height)};

    const bool interlaced = header.interlace_method != 0;
    spng_trns trns{};
    const bool alpha = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                       spng_get_trns(ctx, &trns) == 0;
    PngColour colour = colourOf(ctx);
    // A 16-bit picture that is converted keeps its precision through the conversion.
    const bool deep =
        deepSource &&
        ((colour.space.isValid() && colour.space != QColorSpace::SRgb) || !colour.icc.isEmpty());
    const RowKind kind = !deepSource ? RowKind::display : deep ? RowKind::deep : RowKind::narrowed;
    const QImage::Format imageFormat =
        deep ? (alpha ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBX64)
             : displayFormat(alpha);
    const size_t rowBytes = size_t(width) * (deepSource ? 8 : 4); // as libspng writes it
    const size_t pixelBytes = size_t(width) * (deep ? 8 : 4);     // as the bitmap holds it

    const QSize target = targetSize(stored, options);
    const bool reducing = target != stored;
    QImage image = allocateImage(target, imageFormat);
    if (image.isNull())
        return Failure{FailureReason::tooLarge, QStringLiteral("no memory for the bitmap")};
    // Rows go straight into the bitmap unless they are scaled or narrowed on the way.
    const bool direct = !reducing && rowBytes == pixelBytes;
    const auto finished = [&](QImage decoded) {
        if (colour.space.isValid())
            decoded.setColorSpace(colour.space);
        DecodedPixels pixels{std::move(decoded), std::move(colour.icc)};
        if (reducing)
            pixels.fullSize = orientedSize(stored, options.orientation);
        return pixels;
    };
    // 8-bit sums stay in 32 bits unless one target pixel averages over 2^24 source pixels.
    const qint64 perTarget = qint64(width / target.width() + 1) * (height / target.height() + 1);

    // The common kinds (8-bit RGB or RGBA, not interlaced, no colour key) inflate on this thread
    // while a helper unfilters the rows. Should that read fail, libspng reads the file again
    // below and says what is wrong with it.
    if (!interlaced && kind == RowKind::display) {
        if (const auto index = PngRowIndex::open(path)) {
            std::optional<RowReducer<uchar, quint32>> narrow;
            std::optional<RowReducer<uchar, quint64>> wide;
            if (reducing && perTarget > (qint64(1) << 24))
                wide.emplace(width, height, image, false);
            else if (reducing)
                narrow.emplace(width, height, image, false);
            const auto take = [&](int y, const QRgb* row) {
                const auto* bytes = reinterpret_cast<const uchar*>(row);
                if (narrow)
                    narrow->add(y, bytes);
                else if (wide)
                    wide->add(y, bytes);
                else
                    std::memcpy(image.scanLine(y), row, pixelBytes);
            };
            if (index->read(0, height - 1, take, nullptr, {.keepStates = false})) {
                if (narrow)
                    narrow->flush();
                if (wide)
                    wide->flush();
                return finished(std::move(image));
            }
            if (CancelScope::requested())
                return stopped(0);
        }
    }

    // Interlaced rows arrive pass by pass, so they need the whole picture before the first row
    // is complete: the bitmap itself, or a full-size buffer.
    std::unique_ptr<uchar[]> whole;
    std::vector<uchar> rowBuffer;
    uchar* buffer = nullptr;
    if (interlaced) {
        if (direct && size_t(image.bytesPerLine()) == rowBytes) {
            buffer = image.bits();
        } else {
            whole.reset(new (std::nothrow) uchar[rowBytes * size_t(height)]);
            if (!whole)
                return Failure{FailureReason::tooLarge, QStringLiteral("no memory for passes")};
            buffer = whole.get();
        }
    } else if (!direct) {
        rowBuffer.resize(rowBytes);
    }

    if (const int error =
            spng_decode_image(ctx, nullptr, 0, deepSource ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8,
                              SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE))
        return refused("chunks", error);

    std::optional<RowReducer<uchar, quint32>> reducer;
    std::optional<RowReducer<uchar, quint64>> wideReducer;
    std::optional<RowReducer<quint16, quint64>> deepReducer;
    const bool reduceRgba = kind == RowKind::display && !alpha;
    if (reducing && deep)
        deepReducer.emplace(width, height, image, false);
    else if (reducing && perTarget > (qint64(1) << 24))
        wideReducer.emplace(width, height, image, reduceRgba);
    else if (reducing)
        reducer.emplace(width, height, image, reduceRgba);
    const auto take = [&](int y, uchar* row) {
        if (!(reducing && reduceRgba))
            convertRow(row, width, kind, alpha);
        if (reducer)
            reducer->add(y, row);
        else if (wideReducer)
            wideReducer->add(y, row);
        else if (deepReducer)
            deepReducer->add(y, row);
        else if (row != image.scanLine(y))
            std::memcpy(image.scanLine(y), row, pixelBytes);
    };

    if (interlaced) {
        // Each pass writes its own pixels of a row in place.
        int error = 0;
        for (int count = 0; !error; ++count) {
            if (count % kRowsPerCancelCheck == 0 && CancelScope::requested())
                return stopped(0);
            spng_row_info info{};
            error = spng_get_row_info(ctx, &info);
            if (!error && info.row_num >= header.height)
                error = SPNG_EINTERNAL;
            if (!error)
                error = spng_decode_row(ctx, buffer + size_t(info.row_num) * rowBytes, rowBytes);
        }
        if (error != SPNG_EOI)
            return stopped(error);
        for (int y = 0; y < height; ++y)
            take(y, buffer + size_t(y) * rowBytes);
    } else {
        for (int y = 0; y < height; ++y) {
            if (y % kRowsPerCancelCheck == 0 && CancelScope::requested())
                return stopped(0);
            uchar* row = direct ? image.scanLine(y) : rowBuffer.data();
            const int error = spng_decode_row(ctx, row, rowBytes);
            if (error != 0 && !(error == SPNG_EOI && y == height - 1))
                return stopped(error);
            take(y, row);
        }
    }
    if (reducer)
        reducer->flush();
    if (wideReducer)
        wideReducer->flush();
    if (deepReducer)
        deepReducer->flush();
    // The last IDAT's checksum is only read with the chunks after it. As with libpng, a broken
    // checksum or a file cut short before IEND refuses the picture; a chunk libspng finds fault
    // with where libpng may only warn is left to Qt's reader.
    if (const int tail = spng_decode_chunks(ctx)) {
        if (tail == SPNG_IO_EOF || tail == SPNG_IO_ERROR || tail == SPNG_ECHUNK_CRC)
            return stopped(tail);
        return refused("chunks after the image", tail);
    }

    return finished(std::move(image));
}

} // namespace kivo
