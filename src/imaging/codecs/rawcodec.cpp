// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/librarymessages.h"
#include "imaging/formats.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QBuffer>
#include <QImageReader>
#include <libraw/libraw.h>
#include <memory>
#include <new>

namespace kivo {

namespace {

// LibRaw allocates the demosaic buffers itself: cap them so a hostile header cannot ask for
// gigabytes. A 100-megapixel sensor still fits.
constexpr unsigned kRawMemoryLimitMb = 1536;

struct ProcessedDeleter {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};
using ProcessedImage = std::unique_ptr<libraw_processed_image_t, ProcessedDeleter>;

// LibRaw's flip code (0, 3, 5, 6) as the EXIF orientation that turns the sensor upright.
int orientationFromFlip(int flip) {
    switch (flip) {
    case 3:
        return 3;
    case 5:
        return 8;
    case 6:
        return 6;
    default:
        return 1;
    }
}

// One LibRaw instance per call: the library is thread-safe across instances, not within one.
std::unique_ptr<LibRaw> openRaw(const FilePath& path) {
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    routeLibRawMessages(*raw);
    raw->imgdata.params.max_raw_memory_mb = kRawMemoryLimitMb;
    if (raw->open_file(path.c_str()) != LIBRAW_SUCCESS)
        return nullptr;
    if (raw->imgdata.sizes.width == 0 || raw->imgdata.sizes.height == 0)
        return nullptr;
    return raw;
}

// The embedded preview, upright: by its own orientation tag if it has one, else by the
// raw's flip, which is what cameras rely on for previews stored without a tag.
QImage decodePreview(LibRaw& raw, int maxPixelSize) {
    if (raw.unpack_thumb() != LIBRAW_SUCCESS)
        return {};
    int error = 0;
    const ProcessedImage thumb(raw.dcraw_make_mem_thumb(&error));
    if (!thumb)
        return {};
    const int flipOrientation = orientationFromFlip(raw.imgdata.sizes.flip);
    if (thumb->type == LIBRAW_IMAGE_BITMAP) {
        // Some converters store an uncompressed RGB preview.
        if (thumb->colors != 3 || thumb->bits != 8 ||
            thumb->data_size < std::size_t(thumb->width) * thumb->height * 3)
            return {};
        const QImage view(thumb->data, thumb->width, thumb->height, thumb->width * 3,
                          QImage::Format_RGB888);
        return applyOrientation(view.copy(), flipOrientation);
    }
    if (thumb->type != LIBRAW_IMAGE_JPEG)
        return {};
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(thumb->data),
                                               qsizetype(thumb->data_size));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, qtFormatName(formatInfo(ImageFormat::jpeg)));
    reader.setAutoTransform(false);
    const bool tagged = reader.transformation() != QImageIOHandler::TransformationNone;
    reader.setAutoTransform(tagged);
    // A thumbnail-sized request lets libjpeg skip most of the work (DCT scaling).
    const QSize stored = reader.size();
    if (maxPixelSize > 0 && std::max(stored.width(), stored.height()) > 2 * maxPixelSize)
        reader.setScaledSize(stored.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull() || tagged)
        return image;
    return applyOrientation(image, flipOrientation);
}

// Demosaics to 16-bit sRGB, upright (LibRaw applies the flip while copying out).
QImage demosaic(LibRaw& raw, bool halfSize) {
    auto& params = raw.imgdata.params;
    params.half_size = halfSize ? 1 : 0;
    params.use_camera_wb = 1;
    params.output_color = 1; // sRGB primaries
    params.output_bps = 16;
    params.gamm[0] = 1 / 2.4; // the sRGB curve
    params.gamm[1] = 12.92;
    if (raw.unpack() != LIBRAW_SUCCESS || raw.dcraw_process() != LIBRAW_SUCCESS)
        return {};
    int error = 0;
    const ProcessedImage out(raw.dcraw_make_mem_image(&error));
    // The working buffer is as large again as the copy: hand it back before the next one.
    raw.recycle();
    if (!out || out->type != LIBRAW_IMAGE_BITMAP || out->bits != 16 || out->colors != 3 ||
        out->data_size < std::size_t(out->width) * out->height * 6)
        return {};
    QImage image(out->width, out->height, QImage::Format_RGBX64);
    if (image.isNull())
        return {};
    const auto* in = reinterpret_cast<const quint16*>(out->data);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint16*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const quint16* px = in + (std::size_t(y) * out->width + x) * 3;
            line[x * 4] = px[0];
            line[x * 4 + 1] = px[1];
            line[x * 4 + 2] = px[2];
            line[x * 4 + 3] = 0xffff;
        }
    }
    return image;
}

// The sensor's picture size once turned upright.
QSize uprightSensorSize(const LibRaw& raw) {
    const QSize sensor(raw.imgdata.sizes.width, raw.imgdata.sizes.height);
    return orientationFromFlip(raw.imgdata.sizes.flip) >= 5 ? sensor.transposed() : sensor;
}

std::optional<DecodedPixels> decodeRawUnguarded(const FilePath& path, int maxPixelSize,
                                                QSize fitBox) {
    const auto raw = openRaw(path);
    if (!raw)
        return std::nullopt;
    const QSize upright = uprightSensorSize(*raw);
    const int sensorSide = std::max(upright.width(), upright.height());
    DecodedPixels out;
    if (maxPixelSize <= 0 && !fitBox.isValid()) {
        // The full demosaic: LibRaw's working buffer and the 16-bit copy out of it.
        if (!fitsDecodeBudget(upright, 16))
            return std::nullopt;
        out.image = demosaic(*raw, false);
        return out.image.isNull() ? std::nullopt : std::optional(std::move(out));
    }
    const int wanted =
        fitBox.isValid() ? longSideToFill(upright, 1, fitBox) : std::min(maxPixelSize, sensorSide);
    const int thumbSide =
        std::max<int>(raw->imgdata.thumbnail.twidth, raw->imgdata.thumbnail.theight);
    if (thumbSide >= wanted || thumbSide == 0) {
        QImage preview = decodePreview(*raw, fitBox.isValid() ? wanted : maxPixelSize);
        if (!preview.isNull() && std::max(preview.width(), preview.height()) >= wanted)
            out.image = std::move(preview);
    }
    if (out.image.isNull()) {
        // A half-size demosaic halves each side; enough unless a larger size was asked for.
        const bool half = wanted <= sensorSide / 2;
        if (!fitsDecodeBudget(half ? upright / 2 : upright, 16))
            return std::nullopt;
        out.image = demosaic(*raw, half);
    }
    if (out.image.isNull())
        return std::nullopt;
    if (fitBox.isValid() && out.image.size() != upright)
        out.fullSize = upright;
    return out;
}

} // namespace

std::optional<DecodedPixels> decodeRaw(const FilePath& path, int maxPixelSize, QSize fitBox) {
    try {
        return decodeRawUnguarded(path, maxPixelSize, fitBox);
    } catch (...) { // LibRaw reports allocation failures and broken data by throwing
        return std::nullopt;
    }
}

std::optional<PixelInfo> probeRaw(const FilePath& path) {
    try {
        const auto raw = openRaw(path);
        if (!raw)
            return std::nullopt;
        PixelInfo info;
        info.size = QSize(raw->imgdata.sizes.width, raw->imgdata.sizes.height);
        info.depth = 16;
        info.colorModel = QStringLiteral("RGB");
        info.orientation = orientationFromFlip(raw->imgdata.sizes.flip);
        return info;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace kivo
