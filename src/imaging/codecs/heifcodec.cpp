// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/hevcdecoder.h"
#include "imaging/codecs/librarymessages.h"
#include "imaging/metadata/heiforientation.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QColorSpace>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <libheif/heif.h>
#include <memory>
#include <vector>

namespace kivo {

namespace {

// Above this many pixels a file is not decoded: an HEVC grid can declare a huge canvas in a few
// bytes, and the decoded image alone would exhaust memory.
constexpr qint64 kHeifPixelBudget = qint64(1) << 28;

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct NclxDeleter {
    void operator()(heif_color_profile_nclx* n) const { heif_nclx_color_profile_free(n); }
};
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;

// A file opened by libheif with its own reader: the file is read, not mapped, so another
// program truncating it cannot crash us mid-decode.
class HeifFile {
public:
    explicit HeifFile(const FilePath& path)
        : path_(path) {
        useThreadedHevcDecoder();
        context_.reset(heif_context_alloc());
        // A grid image (every phone's photo) is decoded tile by tile; libheif's own default of
        // four threads leaves the other cores idle while the user waits. A photo coded as one
        // image gets the cores through the HEVC decoder itself (hevcdecoder.h).
        if (context_)
            heif_context_set_max_decoding_threads(context_.get(),
                                                  std::max(1, QThread::idealThreadCount()));
        if (!context_ || heif_context_read_from_file(context_.get(), path.c_str(), nullptr).code !=
                             heif_error_Ok) {
            context_.reset();
            return;
        }
        heif_image_handle* handle = nullptr;
        if (heif_context_get_primary_image_handle(context_.get(), &handle).code == heif_error_Ok)
            primary_.reset(handle);
        if (primary_)
            heif_context_get_primary_image_ID(context_.get(), &primaryId_);
    }

    const heif_image_handle* primary() const { return primary_.get(); }

    // The primary image's largest thumbnail item, or null when it has none.
    HandlePtr largestThumbnail() const {
        const int count = primary_ ? heif_image_handle_get_number_of_thumbnails(primary_.get()) : 0;
        if (count <= 0)
            return {};
        std::vector<heif_item_id> ids(std::size_t(std::min(count, 16)));
        const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary_.get(), ids.data(),
                                                                       int(ids.size()));
        HandlePtr best;
        for (int i = 0; i < listed; ++i) {
            heif_image_handle* raw = nullptr;
            if (heif_image_handle_get_thumbnail(primary_.get(), ids[std::size_t(i)], &raw).code !=
                    heif_error_Ok ||
                !raw)
                continue;
            HandlePtr candidate(raw);
            if (!best || heif_image_handle_get_width(raw) > heif_image_handle_get_width(best.get()))
                best = std::move(candidate);
        }
        return best;
    }

    // The orientation libheif's transforms of the primary image amount to.
    int primaryOrientation() const {
        QFile file;
        if (!openForReading(file, path_))
            return 1;
        return heifItemOrientation(readHeifMetaBox(file), primaryId_);
    }

private:
    FilePath path_;
    std::unique_ptr<heif_context, ContextDeleter> context_;
    HandlePtr primary_;
    heif_item_id primaryId_ = 0;
};

QColorSpace::TransferFunction transferFunction(heif_transfer_characteristics transfer,
                                               float* gamma) {
    switch (transfer) {
    case heif_transfer_characteristic_linear:
        return QColorSpace::TransferFunction::Linear;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
        *gamma = 2.2f;
        return QColorSpace::TransferFunction::Gamma;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        *gamma = 2.8f;
        return QColorSpace::TransferFunction::Gamma;
    default:
        // sRGB, and the BT.709 family, whose curve is shown on displays as near-sRGB. PQ and
        // HLG have no tone mapping here; the sRGB curve keeps their pictures recognisable.
        return QColorSpace::TransferFunction::SRgb;
    }
}

// The colour space an nclx box describes, built from the primaries libheif decodes for it.
QColorSpace colorSpaceFromNclx(const heif_color_profile_nclx& nclx) {
    if (nclx.color_primaries == heif_color_primaries_unspecified)
        return {};
    float gamma = 0;
    const auto transfer = transferFunction(nclx.transfer_characteristics, &gamma);
    QColorSpace space(QPointF(nclx.color_primary_white_x, nclx.color_primary_white_y),
                      QPointF(nclx.color_primary_red_x, nclx.color_primary_red_y),
                      QPointF(nclx.color_primary_green_x, nclx.color_primary_green_y),
                      QPointF(nclx.color_primary_blue_x, nclx.color_primary_blue_y), transfer,
                      gamma);
    return space.isValid() ? space : QColorSpace();
}

// The image's colour: its ICC profile when it carries one, else its nclx description.
void attachColour(const heif_image_handle* h, DecodedPixels& out) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(h);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(h)), '\0');
        if (!icc.isEmpty() &&
            heif_image_handle_get_raw_color_profile(h, icc.data()).code == heif_error_Ok) {
            out.iccProfile = icc;
            return;
        }
    }
    heif_color_profile_nclx* raw = nullptr;
    if (heif_image_handle_get_nclx_color_profile(h, &raw).code == heif_error_Ok && raw) {
        const std::unique_ptr<heif_color_profile_nclx, NclxDeleter> nclx(raw);
        out.image.setColorSpace(colorSpaceFromNclx(*nclx));
    }
}

// Decodes with libheif's transforms applied (rotation, mirroring, crop) into the interleaved
// layout Qt holds directly, keeping more than 8 bits where the file has them.
QImage decodeHandle(const heif_image_handle* handle) {
    const qint64 pixels = qint64(heif_image_handle_get_ispe_width(handle)) *
                          heif_image_handle_get_ispe_height(handle);
    if (pixels <= 0 || pixels > kHeifPixelBudget ||
        !fitsDecodeBudget(QSize(heif_image_handle_get_ispe_width(handle),
                                heif_image_handle_get_ispe_height(handle)),
                          4))
        return {};
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(handle);
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
    const bool deep = bits > 8;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* raw = nullptr;
    if (heif_decode_image(handle, &raw, heif_colorspace_RGB, chroma, nullptr).code !=
            heif_error_Ok ||
        !raw)
        return {};
    std::unique_ptr<heif_image, ImageDeleter> decoded(raw);
    logHeifDecodingWarnings(raw);
    const int width = heif_image_get_width(raw, heif_channel_interleaved);
    const int height = heif_image_get_height(raw, heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(raw, heif_channel_interleaved, &stride);
    if (!plane || width <= 0 || height <= 0)
        return {};
    if (!deep) {
        // The QImage takes over libheif's buffer rather than copying 36 MB for a 12 MP photo.
        QImage adopted(
            plane, width, height, stride,
            !alpha
                ? QImage::Format_RGB888
                : (premultiplied ? QImage::Format_RGBA8888_Premultiplied : QImage::Format_RGBA8888),
            [](void* image) { heif_image_release(static_cast<heif_image*>(image)); }, raw);
        decoded.release();
        return adopted;
    }
    // 16-bit containers holding `bits` significant bits: stretch them to the full range so
    // Qt reads them as the same colour.
    const int storedBits = heif_image_get_bits_per_pixel_range(raw, heif_channel_interleaved);
    const int significant = storedBits > 8 && storedBits <= 16 ? storedBits : 16;
    const int channels = alpha ? 4 : 3;
    QImage image(
        width, height,
        !alpha ? QImage::Format_RGBX64
               : (premultiplied ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA64));
    if (image.isNull())
        return {};
    const quint32 maxIn = (1u << significant) - 1;
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const quint16*>(plane + qsizetype(y) * stride);
        auto* out = reinterpret_cast<quint16*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                const quint32 v =
                    c < channels ? std::min<quint32>(in[x * channels + c], maxIn) : maxIn;
                out[x * 4 + c] = quint16((v * 0xffff + maxIn / 2) / maxIn);
            }
        }
    }
    return image;
}

} // namespace

// Reduced decodes come from the primary image too: an embedded thumbnail item is written once by
// the camera and goes stale when an editor changes the primary image (a crop, a rotation), so a
// thumbnail strip would show a picture that is not in the file any more.
std::optional<DecodedPixels> decodeHeif(const FilePath& path, int /*maxPixelSize*/) {
    const HeifFile file(path);
    const heif_image_handle* primary = file.primary();
    if (!primary)
        return std::nullopt;
    DecodedPixels out;
    out.image = decodeHandle(primary);
    if (out.image.isNull())
        return std::nullopt;
    attachColour(primary, out);
    return out;
}

std::optional<DecodedPixels> decodeHeifThumbnail(const FilePath& path) {
    const HeifFile file(path);
    const heif_image_handle* primary = file.primary();
    const HandlePtr thumbnail = file.largestThumbnail();
    if (!primary || !thumbnail)
        return std::nullopt;
    // Sizes as shown, after each item's own rotation and crop.
    const qint64 width = heif_image_handle_get_width(primary);
    const qint64 height = heif_image_handle_get_height(primary);
    const qint64 thumbWidth = heif_image_handle_get_width(thumbnail.get());
    const qint64 thumbHeight = heif_image_handle_get_height(thumbnail.get());
    if (width <= 0 || height <= 0 || thumbWidth <= 0 || thumbHeight <= 0 || thumbWidth > width ||
        thumbHeight > height)
        return std::nullopt;
    // The same aspect within the thumbnail's rounding to whole pixels: one side predicted from
    // the other may be one pixel off. An editor that crops or turns the picture and leaves the
    // camera's thumbnail behind fails this.
    if (std::abs(thumbWidth * height - thumbHeight * width) > std::max(width, height))
        return std::nullopt;
    DecodedPixels out;
    out.image = decodeHandle(thumbnail.get());
    if (out.image.isNull())
        return std::nullopt;
    // A thumbnail without a colour description of its own is in the primary image's.
    const bool ownColour = heif_image_handle_get_color_profile_type(thumbnail.get()) !=
                           heif_color_profile_type_not_present;
    attachColour(ownColour ? thumbnail.get() : primary, out);
    out.fullSize = QSize(int(width), int(height));
    return out;
}

std::optional<PixelInfo> probeHeif(const FilePath& path) {
    const HeifFile file(path);
    const heif_image_handle* primary = file.primary();
    if (!primary)
        return std::nullopt;
    PixelInfo info;
    info.size = QSize(heif_image_handle_get_ispe_width(primary),
                      heif_image_handle_get_ispe_height(primary));
    if (info.size.isEmpty())
        return std::nullopt;
    info.depth = std::max(8, heif_image_handle_get_luma_bits_per_pixel(primary));
    info.hasAlpha = heif_image_handle_has_alpha_channel(primary);
    info.colorModel = QStringLiteral("RGB"); // what every HEIF decodes to here
    info.orientation = file.primaryOrientation();
    return info;
}

} // namespace kivo
