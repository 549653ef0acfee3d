// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/hevcdecoder.h"

#include <QThread>
#include <algorithm>
#include <cstring>
#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>
#include <mutex>
#include <new>

namespace kivo {

namespace {

// Ahead of libheif's own libde265 plugin, whose priority is 100.
constexpr int kPriority = 120;
// Coded images smaller than this (a grid's 512 x 512 tiles, thumbnails) decode on one thread:
// libheif runs the tiles of a grid in parallel already.
constexpr size_t kThreadedFromBytes = size_t(1) << 20;
// A decoded picture larger than this is refused, as the whole-file checks refuse one.
constexpr qint64 kLargestPicture = qint64(1) << 28;

struct Decoder {
    de265_decoder_context* context = nullptr;
    size_t pushed = 0;
};

heif_error success() {
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

heif_error failure(heif_suberror_code code, const char* message) {
    return {heif_error_Decoder_plugin_error, code, message};
}

const char* pluginName() {
    return "libde265 HEVC decoder, threaded (Kivo)";
}

void initPlugin() {
    de265_init();
}

void deinitPlugin() {
    de265_free();
}

int supportsFormat(heif_compression_format format) {
    return format == heif_compression_HEVC ? kPriority : 0;
}

heif_error newDecoder(void** decoder) {
    auto* made = new (std::nothrow) Decoder;
    if (!made || !(made->context = de265_new_decoder())) {
        delete made;
        return failure(heif_suberror_Unspecified, "no memory for libde265");
    }
    *decoder = made;
    return success();
}

void freeDecoder(void* decoder) {
    auto* d = static_cast<Decoder*>(decoder);
    de265_free_decoder(d->context);
    delete d;
}

void setStrictDecoding(void*, int) {}

// libheif hands the NAL units over each behind a four-byte big-endian length.
heif_error pushData(void* decoder, const void* data, size_t size) {
    auto* d = static_cast<Decoder*>(decoder);
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t at = 0; at < size;) {
        if (size - at < 4)
            return failure(heif_suberror_End_of_data, "NAL unit length cut short");
        const uint32_t length = (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) |
                                (uint32_t(bytes[at + 2]) << 8) | uint32_t(bytes[at + 3]);
        at += 4;
        if (length > size - at || length > uint32_t(INT32_MAX))
            return failure(heif_suberror_End_of_data, "NAL unit past the end of the data");
        de265_push_NAL(d->context, bytes + at, int(length), 0, nullptr);
        at += length;
    }
    d->pushed += size;
    return success();
}

// libde265's planes as libheif's image, with the colour description the bitstream gives, which
// libheif falls back to when the file has none of its own.
heif_error toHeifImage(const de265_image* decoded, heif_image** out) {
    const de265_chroma chroma = de265_get_chroma_format(decoded);
    const bool mono = chroma == de265_chroma_mono;
    const int width = de265_get_image_width(decoded, 0),
              height = de265_get_image_height(decoded, 0);
    if (width <= 0 || height <= 0 || qint64(width) * height > kLargestPicture)
        return failure(heif_suberror_Invalid_image_size, "picture size out of range");
    heif_image* image = nullptr;
    heif_error error =
        heif_image_create(width, height, mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                          heif_chroma(chroma), &image);
    if (error.code != heif_error_Ok)
        return error;
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    const int bits = de265_get_bits_per_pixel(decoded, 0);
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        const int w = de265_get_image_width(decoded, c), h = de265_get_image_height(decoded, c);
        if (de265_get_bits_per_pixel(decoded, c) != bits || w <= 0 || h <= 0 ||
            heif_image_add_plane(image, channels[c], w, h, bits).code != heif_error_Ok) {
            heif_image_release(image);
            return failure(heif_suberror_Unsupported_color_conversion, "unusable plane");
        }
        int sourceStride = 0, targetStride = 0;
        const uint8_t* source = de265_get_image_plane(decoded, c, &sourceStride);
        uint8_t* target = heif_image_get_plane(image, channels[c], &targetStride);
        const size_t rowBytes = size_t(w) * size_t((bits + 7) / 8);
        for (int y = 0; y < h; ++y)
            std::memcpy(target + size_t(y) * size_t(targetStride),
                        source + size_t(y) * size_t(sourceStride), rowBytes);
    }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (nclx) {
        // Values the bitstream gives that libheif does not know keep its defaults.
        heif_nclx_color_profile_set_color_primaries(
            nclx, uint16_t(de265_get_image_colour_primaries(decoded)));
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx, uint16_t(de265_get_image_transfer_characteristics(decoded)));
        heif_nclx_color_profile_set_matrix_coefficients(
            nclx, uint16_t(de265_get_image_matrix_coefficients(decoded)));
        nclx->full_range_flag = uint8_t(de265_get_image_full_range_flag(decoded) != 0);
        heif_image_set_nclx_color_profile(image, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    *out = image;
    return success();
}

heif_error decodeImage(void* decoder, heif_image** out) {
    auto* d = static_cast<Decoder*>(decoder);
    const int threads =
        d->pushed >= kThreadedFromBytes ? std::max(1, QThread::idealThreadCount()) : 1;
    if (de265_start_worker_threads(d->context, threads) != DE265_OK)
        return failure(heif_suberror_Unspecified, "libde265 cannot start its threads");
    de265_flush_data(d->context);
    *out = nullptr;
    int more = 0;
    do {
        more = 0;
        if (de265_decode(d->context, &more) != DE265_OK)
            break;
        if (const de265_image* decoded = de265_get_next_picture(d->context)) {
            const heif_error converted = toHeifImage(decoded, out);
            de265_release_next_picture(d->context);
            return converted;
        }
    } while (more);
    return failure(heif_suberror_Unspecified, "libde265 gave no picture");
}

const heif_decoder_plugin kPlugin{
    3,           pluginName, initPlugin,  deinitPlugin,      supportsFormat,         newDecoder,
    freeDecoder, pushData,   decodeImage, setStrictDecoding, kThreadedHevcDecoderId,
};

} // namespace

void useThreadedHevcDecoder() {
    static std::once_flag registered;
    std::call_once(registered, [] { heif_register_decoder_plugin(&kPlugin); });
}

} // namespace kivo
