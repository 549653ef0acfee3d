#include "jpegdecoder.h"

#include "colour.h"
#include "orientation.h"
#include "pixelbuffer.h"

#include <QColorSpace>
#include <QSize>
#include <cstring>
#include <map>
#include <memory>
#include <turbojpeg.h>

namespace kivo {

namespace {

// What the markers before the first scan tell beyond what TurboJPEG's header reader reports.
struct JpegMarkers {
    int orientation = 1;
    QByteArray icc;
    bool adobe = false; // an Adobe APP14 marker: CMYK is stored inverted
    bool progressive = false;
    int components = 3;
};

int read16(const uchar* p) {
    return (p[0] << 8) | p[1];
}

JpegMarkers scanMarkers(QByteArrayView data) {
    JpegMarkers markers;
    const auto* bytes = reinterpret_cast<const uchar*>(data.data());
    const qsizetype size = data.size();
    std::map<int, QByteArrayView> iccChunks;
    int iccChunkCount = 0;
    bool sawExif = false;
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (bytes[pos] != 0xFF)
            break;
        const int marker = bytes[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const int length = read16(bytes + pos + 2);
        if (length < 2 || pos + 2 + length > size)
            break;
        const uchar* payload = bytes + pos + 4;
        const int payloadSize = length - 2;
        if (marker == 0xE1 && !sawExif && payloadSize > 6 &&
            std::memcmp(payload, "Exif\0\0", 6) == 0) {
            sawExif = true;
            markers.orientation = exifOrientation(
                QByteArrayView(reinterpret_cast<const char*>(payload + 6), payloadSize - 6));
        } else if (marker == 0xE2 && payloadSize > 14 &&
                   std::memcmp(payload, "ICC_PROFILE\0", 12) == 0) {
            iccChunkCount = payload[13];
            iccChunks[payload[12]] =
                QByteArrayView(reinterpret_cast<const char*>(payload + 14), payloadSize - 14);
        } else if (marker == 0xEE && payloadSize >= 5 && std::memcmp(payload, "Adobe", 5) == 0) {
            markers.adobe = true;
        } else if ((marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC && payloadSize >= 6) {
            markers.progressive =
                marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            markers.components = payload[5];
        }
        pos += 2 + length;
    }
    // A profile split over APP2 markers is only usable when every chunk 1..n is there.
    if (iccChunkCount > 0 && int(iccChunks.size()) == iccChunkCount &&
        iccChunks.begin()->first == 1 && iccChunks.rbegin()->first == iccChunkCount) {
        for (const auto& [index, chunk] : iccChunks)
            markers.icc.append(chunk);
    }
    return markers;
}

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
    JpegMarkers markers = scanMarkers(data);
    // A progressive JPEG keeps every DCT coefficient of the full image in memory while it
    // decodes, at any output scale: refuse what would not fit rather than let libjpeg try.
    if (markers.progressive && !fitsDecodeBudget(QSize(width, height), 2 * markers.components))
        return std::nullopt;

    const QSize size = scaledSize(width, height, options.minLongSide);
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
    result.orientation = markers.orientation;
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
