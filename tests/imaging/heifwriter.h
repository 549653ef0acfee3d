// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Encodes HEIF and AVIF files with libheif's own encoders (x265, aom) for the tests, the
// benchmark and the fuzz seeds.

#include <QFile>
#include <QImage>
#include <QString>
#include <libheif/heif.h>
#include <optional>

namespace kivo::test {

struct HeifFixture {
    heif_compression_format format = heif_compression_HEVC;
    heif_orientation orientation = heif_orientation_normal;
    int bitDepth = 8;
    std::optional<heif_color_primaries> primaries;
    int thumbnailSize = 0;
    // A thumbnail item of its own picture, as an editor that crops the primary image leaves the
    // camera's behind.
    QImage staleThumbnail;
    const char* hevcPreset = nullptr; // x265's speed preset, e.g. "ultrafast" for large images
};

// `picture` (RGB or RGBA) as libheif's image, in the fixture's bit depth.
inline heif_image* heifImageOf(const QImage& picture, const HeifFixture& f) {
    const bool alpha = picture.hasAlphaChannel();
    const bool deep = f.bitDepth > 8;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* image = nullptr;
    heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, chroma, &image);
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(),
                         f.bitDepth);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const QImage source = picture.convertToFormat(QImage::Format_RGBA64);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* in = reinterpret_cast<const quint16*>(source.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            for (int c = 0; c < channels; ++c) {
                const quint16 v = in[x * 4 + c];
                if (deep)
                    reinterpret_cast<quint16*>(plane + y * stride)[x * channels + c] =
                        quint16(v >> (16 - f.bitDepth));
                else
                    plane[y * stride + x * channels + c] = uint8_t(v >> 8);
            }
        }
    }
    return image;
}

// Encodes `picture` (RGB or RGBA) with libheif, as a phone would write it.
inline bool writeHeif(const QImage& picture, const QString& path, const HeifFixture& f) {
    heif_image* image = heifImageOf(picture, f);
    if (f.primaries) {
        heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
        heif_nclx_color_profile_set_color_primaries(nclx, *f.primaries);
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx, heif_transfer_characteristic_IEC_61966_2_1);
        heif_nclx_color_profile_set_matrix_coefficients(nclx,
                                                        heif_matrix_coefficients_ITU_R_BT_601_6);
        nclx->full_range_flag = 1;
        heif_image_set_nclx_color_profile(image, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    bool ok = heif_context_get_encoder_for_format(context, f.format, &encoder).code == 0;
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = f.orientation;
    options->macOS_compatibility_workaround_no_nclx_profile = 0; // else the nclx box is dropped
    heif_image_handle* handle = nullptr;
    if (ok) {
        heif_encoder_set_lossy_quality(encoder, 92);
        if (f.hevcPreset && f.format == heif_compression_HEVC)
            heif_encoder_set_parameter(encoder, "preset", f.hevcPreset);
        ok = heif_context_encode_image(context, image, encoder, options, &handle).code == 0;
    }
    if (ok && f.thumbnailSize > 0)
        ok = heif_context_encode_thumbnail(context, image, handle, encoder, options,
                                           f.thumbnailSize, nullptr)
                 .code == 0;
    if (ok && !f.staleThumbnail.isNull()) {
        heif_image* stale = heifImageOf(f.staleThumbnail, f);
        heif_image_handle* thumbnail = nullptr;
        ok = heif_context_encode_image(context, stale, encoder, options, &thumbnail).code == 0 &&
             heif_context_assign_thumbnail(context, handle, thumbnail).code == 0;
        heif_image_handle_release(thumbnail);
        heif_image_release(stale);
    }
    if (ok)
        ok = heif_context_write_to_file(context, QFile::encodeName(path).constData()).code == 0;
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(image);
    return ok;
}

} // namespace kivo::test
