// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/jpegdecoder.h"

#include "imaging/bytes/bytereader.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QColorSpace>
#include <QSize>
#include <cstring>
#include <memory>
#include <turbojpeg.h>

namespace kivo {

namespace {

struct DecompressorDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// One decompressor per thread, reused: creating one allocates libjpeg's tables each time.
tjhandle threadDecompressor() {
    thread_local std::unique_ptr<void, DecompressorDeleter> handle(tjInitDecompress());
    return handle.get();
}

QSize scaledSize(int width, int height, int minLongSide) {
    QSize best(width, height);
    if (minLongSide <= 0)
        return best;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    for (int i = 0; factors && i < count; ++i) {
        const QSize candidate(TJSCALED(width, factors[i]), TJSCALED(height, factors[i]));
        const int longSide = std::max(candidate.width(), candidate.height());
        if (longSide >= minLongSide && longSide < std::max(best.width(), best.height()))
            best = candidate;
    }
    return best;
}

} // namespace

std::optional<JpegPixels> decodeJpeg(QByteArrayView data, const JpegDecodeOptions& options) {
    tjhandle tj = threadDecompressor();
    if (!tj || data.size() < 4)
        return std::nullopt;
    auto* buffer = reinterpret_cast<const uchar*>(data.data());
    const auto bufferSize = static_cast<unsigned long>(data.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj, buffer, bufferSize, &width, &height, &subsampling, &colourspace) !=
        0)
        return std::nullopt;
    // Even a flat grey picture costs a few bits per 8x8 block, so a file far smaller than its
    // declared size is a forged or truncated header: decoding it would spend seconds and
    // gigabytes painting grey.
    if (qint64(width) * height / 1024 > data.size())
        return std::nullopt;
    JpegHeader markers = readJpegHeader(data);
    const int components = markers.frame ? markers.frame->components : 3;
    // A progressive JPEG keeps every DCT coefficient of the full image in memory while it
    // decodes, at any output scale: refuse what would not fit rather than let libjpeg try.
    if (markers.frame && markers.frame->progressive &&
        !fitsDecodeBudget(QSize(width, height), 2 * components))
        return std::nullopt;

    const int orientation = exifOrientation(markers.exif);
    int minLongSide = options.minLongSide;
    if (options.fitBox.isValid())
        minLongSide = longSideToFill(QSize(width, height), orientation, options.fitBox);
    const QSize size = scaledSize(width, height, minLongSide);
    const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    const bool greyWithProfile = colourspace == TJCS_GRAY && !markers.icc.isEmpty();
    int pixelFormat = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    QImage::Format format = QImage::Format_RGB32;
    if (cmyk) {
        pixelFormat = TJPF_CMYK; // four bytes per pixel, held in an RGB32-sized scratch bitmap
    } else if (greyWithProfile) {
        pixelFormat = TJPF_GRAY;
        format = QImage::Format_Grayscale8;
    }
    QImage image = allocateImage(size, format);
    if (image.isNull())
        return std::nullopt;
    int flags = TJFLAG_LIMITSCANS;
    if (options.fastDct)
        flags |= TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE;
    // A warning (a truncated file, a bad Huffman code) still leaves a decoded picture, partly
    // grey, the way every viewer shows such files; only a real error refuses the file.
    if (tjDecompress2(tj, buffer, bufferSize, image.bits(), size.width(), int(image.bytesPerLine()),
                      size.height(), pixelFormat, flags) != 0 &&
        tjGetErrorCode(tj) != TJERR_WARNING)
        return std::nullopt;

    JpegPixels result;
    result.orientation = orientation;
    result.fullSize = QSize(width, height);
    if (cmyk) {
        result.image =
            cmykToSrgb(image.constBits(), image.bytesPerLine(), size, markers.icc, markers.adobe);
        if (result.image.isNull())
            return std::nullopt;
    } else {
        result.image = std::move(image);
        result.icc = std::move(markers.icc);
    }
    return result;
}

} // namespace kivo
