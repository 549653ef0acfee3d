// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/webpdecoder.h"

#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"

#include <webp/decode.h>
#include <webp/demux.h>

namespace kivo {

namespace {

QByteArray iccChunk(const WebPData& webp) {
    WebPDemuxer* demux = WebPDemux(&webp);
    if (!demux)
        return {};
    QByteArray icc;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        icc = QByteArray(reinterpret_cast<const char*>(chunk.chunk.bytes),
                         qsizetype(chunk.chunk.size));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return icc;
}

} // namespace

std::optional<DecodedPixels> decodeWebpScaled(QByteArrayView data, int maxPixelSize) {
    WebPDecoderConfig config;
    if (maxPixelSize <= 0 || !WebPInitDecoderConfig(&config))
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    if (WebPGetFeatures(bytes, size_t(data.size()), &config.input) != VP8_STATUS_OK ||
        config.input.has_animation)
        return std::nullopt;
    const int width = config.input.width, height = config.input.height;
    QSize size(width, height);
    if (std::max(width, height) > maxPixelSize)
        size = size.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio).expandedTo({1, 1});
    QImage image = allocateImage(size, displayFormat(config.input.has_alpha));
    if (image.isNull())
        return std::nullopt;
    config.options.use_scaling = size != QSize(width, height);
    config.options.scaled_width = size.width();
    config.options.scaled_height = size.height();
    // Premultiplied BGRA is QImage's ARGB32_Premultiplied on little-endian machines; without
    // alpha the fourth byte is 0xff, which RGB32 wants.
    config.output.colorspace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_bgrA : MODE_Argb;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(bytes, size_t(data.size()), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return std::nullopt;
    const WebPData webp{bytes, size_t(data.size())};
    return DecodedPixels{std::move(image), iccChunk(webp)};
}

std::optional<QSize> webpStillSize(QByteArrayView data) {
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(data.data()), size_t(data.size()),
                        &features) != VP8_STATUS_OK ||
        features.has_animation || features.width <= 0 || features.height <= 0)
        return std::nullopt;
    return QSize(features.width, features.height);
}

} // namespace kivo
