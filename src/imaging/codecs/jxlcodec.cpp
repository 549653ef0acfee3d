// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/jxlcodec.h"

#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/jxlrunner.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QtEndian>
#include <algorithm>
#include <jxl/decode.h>
#include <lcms2.h>
#include <vector>

namespace kivo {

namespace {

struct DecoderDeleter {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

// One pass of libjxl over a file's bytes, all handed over at once. Pixels are decoded on the
// codec helpers' pool (runJxlOnPool).
class JxlStream {
public:
    JxlStream(QByteArrayView data, int events, bool withThreads, bool keepOrientation = false)
        : decoder_(JxlDecoderCreate(nullptr)) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
        if (!decoder_ || JxlDecoderSubscribeEvents(decoder_.get(), events) != JXL_DEC_SUCCESS ||
            JxlDecoderSetKeepOrientation(decoder_.get(), keepOrientation) != JXL_DEC_SUCCESS ||
            (withThreads && JxlDecoderSetParallelRunner(decoder_.get(), runJxlOnPool, nullptr) !=
                                JXL_DEC_SUCCESS) ||
            JxlDecoderSetInput(decoder_.get(), bytes, size_t(data.size())) != JXL_DEC_SUCCESS) {
            decoder_.reset();
            return;
        }
        JxlDecoderCloseInput(decoder_.get());
    }

    bool ok() const { return decoder_ != nullptr; }
    JxlDecoder* get() const { return decoder_.get(); }
    JxlDecoderStatus next() const {
        return decoder_ ? JxlDecoderProcessInput(decoder_.get()) : JXL_DEC_ERROR;
    }

    std::optional<JxlBasicInfo> basicInfo() const {
        JxlBasicInfo info;
        if (JxlDecoderGetBasicInfo(decoder_.get(), &info) != JXL_DEC_SUCCESS)
            return std::nullopt;
        return info;
    }

private:
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder_;
};

QSize storedSize(const JxlBasicInfo& info) {
    if (info.xsize == 0 || info.ysize == 0 || info.xsize > INT_MAX || info.ysize > INT_MAX)
        return {};
    return QSize(int(info.xsize), int(info.ysize));
}

bool isSrgb(const JxlColorEncoding& c) {
    return c.color_space != JXL_COLOR_SPACE_XYB && c.color_space != JXL_COLOR_SPACE_UNKNOWN &&
           c.white_point == JXL_WHITE_POINT_D65 &&
           (c.color_space == JXL_COLOR_SPACE_GRAY || c.primaries == JXL_PRIMARIES_SRGB) &&
           c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// The layout the pixels are asked for in, matching a QImage format row for row: grey stays one
// channel, everything else is four (alpha filled opaque by libjxl when the file has none), at
// 16 bits when the file holds more than 8.
struct OutputLayout {
    JxlPixelFormat pixel;
    QImage::Format format;
    bool grey;
};

OutputLayout outputLayout(const JxlBasicInfo& info) {
    const bool deep = info.bits_per_sample > 8 || info.exponent_bits_per_sample > 0;
    const bool alpha = info.alpha_bits > 0;
    const bool grey = info.num_color_channels == 1 && !alpha;
    OutputLayout out;
    out.grey = grey;
    out.pixel = {grey ? 1u : 4u, deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 4};
    if (grey)
        out.format = deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
    else if (!alpha)
        out.format = deep ? QImage::Format_RGBX64 : QImage::Format_RGBX8888;
    else if (info.alpha_premultiplied)
        out.format =
            deep ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA8888_Premultiplied;
    else
        out.format = deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888;
    return out;
}

// Settles the colour of the decoded pixels at the colour-encoding event. An XYB picture whose
// original space is an ICC profile would come out in linear sRGB, which 8 bits cannot hold
// without banding: it is asked for in sRGB instead. The profile of the pixels as they come out
// is returned for the display conversion; empty means sRGB.
QByteArray settleColour(JxlDecoder* dec, const JxlBasicInfo& info, bool greyOutput) {
    JxlColorEncoding original;
    if (!info.uses_original_profile &&
        JxlDecoderGetColorAsEncodedProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                           &original) != JXL_DEC_SUCCESS) {
        JxlColorEncoding srgb{};
        srgb.color_space =
            info.num_color_channels == 1 ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
        srgb.white_point = JXL_WHITE_POINT_D65;
        srgb.primaries = JXL_PRIMARIES_SRGB;
        srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
        srgb.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
        JxlDecoderSetPreferredColorProfile(dec, &srgb);
    }
    JxlColorEncoding data;
    if (JxlDecoderGetColorAsEncodedProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &data) ==
            JXL_DEC_SUCCESS &&
        isSrgb(data))
        return {};
    // A grey profile cannot describe the four channels a grey picture with alpha comes out in.
    if (info.num_color_channels == 1 && !greyOutput)
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > (64u << 20))
        return {};
    QByteArray icc(qsizetype(size), Qt::Uninitialized);
    if (JxlDecoderGetColorAsICCProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<uint8_t*>(icc.data()),
                                       size) != JXL_DEC_SUCCESS)
        return {};
    return icc;
}

bool setOutputBuffer(JxlDecoder* dec, const OutputLayout& layout, QImage& image) {
    size_t needed = 0;
    return JxlDecoderImageOutBufferSize(dec, &layout.pixel, &needed) == JXL_DEC_SUCCESS &&
           needed <= size_t(image.sizeInBytes()) &&
           JxlDecoderSetImageOutBuffer(dec, &layout.pixel, image.bits(), needed) == JXL_DEC_SUCCESS;
}

Failure damaged(const QString& why) {
    return Failure{FailureReason::damaged, QStringLiteral("JPEG XL: ") + why};
}

Failure overBudget(QSize size) {
    return Failure{FailureReason::tooLarge,
                   QStringLiteral("%1x%2 pixels").arg(size.width()).arg(size.height())};
}

QString encodedSpaceName(const JxlColorEncoding& c) {
    if (c.color_space == JXL_COLOR_SPACE_GRAY)
        return c.transfer_function == JXL_TRANSFER_FUNCTION_LINEAR ? QStringLiteral("Linear Gray")
                                                                   : QStringLiteral("Gray");
    if (c.color_space != JXL_COLOR_SPACE_RGB || c.white_point != JXL_WHITE_POINT_D65)
        return {};
    const bool srgbCurve = c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
    const bool linear = c.transfer_function == JXL_TRANSFER_FUNCTION_LINEAR;
    switch (c.primaries) {
    case JXL_PRIMARIES_SRGB:
        return srgbCurve ? QStringLiteral("sRGB")
               : linear  ? QStringLiteral("Linear sRGB")
                         : QString();
    case JXL_PRIMARIES_P3:
        return srgbCurve ? QStringLiteral("Display P3") : QString();
    case JXL_PRIMARIES_2100:
        return c.transfer_function == JXL_TRANSFER_FUNCTION_PQ    ? QStringLiteral("Rec. 2100 PQ")
               : c.transfer_function == JXL_TRANSFER_FUNCTION_HLG ? QStringLiteral("Rec. 2100 HLG")
               : linear ? QStringLiteral("Linear Rec. 2020")
                        : QString();
    default:
        return {};
    }
}

QString iccDescription(const QByteArray& icc) {
    std::unique_ptr<void, decltype(&cmsCloseProfile)> profile(
        cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())), &cmsCloseProfile);
    if (!profile)
        return {};
    char text[256] = {};
    if (cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text, sizeof text) ==
        0)
        return {};
    return QString::fromLatin1(text).trimmed();
}

} // namespace

Result<DecodedPixels> decodeJxl(QByteArrayView data, bool upright) {
    const JxlStream stream(data, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE,
                           true, !upright);
    if (!stream.ok())
        return damaged(QStringLiteral("no decoder"));
    JxlDecoder* dec = stream.get();
    JxlBasicInfo info{};
    OutputLayout layout{};
    DecodedPixels out;
    for (;;) {
        switch (stream.next()) {
        case JXL_DEC_BASIC_INFO: {
            info = stream.basicInfo().value_or(JxlBasicInfo{});
            if (storedSize(info).isEmpty())
                return damaged(QStringLiteral("no size"));
            layout = outputLayout(info);
            // Checked before libjxl allocates a single frame buffer of its own.
            const int bytesPerPixel = int(layout.pixel.num_channels) *
                                      (layout.pixel.data_type == JXL_TYPE_UINT16 ? 2 : 1);
            if (!fitsDecodeBudget(storedSize(info), std::max(4, bytesPerPixel)))
                return overBudget(storedSize(info));
            break;
        }
        case JXL_DEC_COLOR_ENCODING:
            out.iccProfile = settleColour(dec, info, layout.grey);
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            // Unless asked to keep the orientation, libjxl states the size it turns the
            // pixels to.
            out.image = allocateImage(storedSize(info), layout.format);
            if (out.image.isNull())
                return overBudget(storedSize(info));
            if (!setOutputBuffer(dec, layout, out.image))
                return damaged(QStringLiteral("output buffer refused"));
            break;
        case JXL_DEC_FULL_IMAGE:
            // The first frame of an animation is its still picture.
            if (out.image.isNull())
                return damaged(QStringLiteral("no pixels"));
            return out;
        case JXL_DEC_SUCCESS:
            return damaged(QStringLiteral("no frame"));
        case JXL_DEC_NEED_MORE_INPUT:
            return damaged(QStringLiteral("cut short"));
        default:
            return damaged(QStringLiteral("invalid codestream"));
        }
    }
}

std::optional<PixelInfo> probeJxl(QByteArrayView head) {
    const JxlStream stream(head, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING, false, true);
    PixelInfo pixel;
    for (;;) {
        switch (stream.next()) {
        case JXL_DEC_BASIC_INFO: {
            const auto info = stream.basicInfo();
            pixel.size = info ? storedSize(*info) : QSize();
            if (pixel.size.isEmpty())
                return std::nullopt;
            pixel.depth = int(info->bits_per_sample);
            pixel.hasAlpha = info->alpha_bits > 0;
            pixel.colorModel =
                info->num_color_channels == 1 ? QStringLiteral("Gray") : QStringLiteral("RGB");
            pixel.orientation = std::clamp(int(info->orientation), 1, 8);
            break;
        }
        case JXL_DEC_COLOR_ENCODING: {
            JxlColorEncoding encoded;
            if (JxlDecoderGetColorAsEncodedProfile(stream.get(), nullptr,
                                                   JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                                   &encoded) == JXL_DEC_SUCCESS) {
                pixel.profileName = encodedSpaceName(encoded);
            } else {
                size_t size = 0;
                if (JxlDecoderGetICCProfileSize(stream.get(), nullptr,
                                                JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                                &size) == JXL_DEC_SUCCESS &&
                    size > 0 && size < (64u << 20)) {
                    QByteArray icc(qsizetype(size), Qt::Uninitialized);
                    if (JxlDecoderGetColorAsICCProfile(
                            stream.get(), nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                            reinterpret_cast<uint8_t*>(icc.data()), size) == JXL_DEC_SUCCESS)
                        pixel.profileName = iccDescription(icc);
                }
            }
            return pixel;
        }
        default:
            // The head ended inside a long ICC profile, or the file right after its header:
            // what the basic info said stands.
            return pixel.size.isEmpty() ? std::nullopt : std::optional(pixel);
        }
    }
}

QByteArray jxlExifBox(QByteArrayView data) {
    constexpr qsizetype kMaxExif = 16 << 20;
    const JxlStream stream(data, JXL_DEC_BOX, false);
    if (!stream.ok() || JxlDecoderSetDecompressBoxes(stream.get(), JXL_TRUE) != JXL_DEC_SUCCESS)
        return {};
    QByteArray exif;
    qsizetype filled = 0;
    bool reading = false;
    const auto giveBuffer = [&] {
        exif.resize(std::max<qsizetype>(exif.size() * 2, 4096));
        return exif.size() <= kMaxExif &&
               JxlDecoderSetBoxBuffer(stream.get(),
                                      reinterpret_cast<uint8_t*>(exif.data()) + filled,
                                      size_t(exif.size() - filled)) == JXL_DEC_SUCCESS;
    };
    const auto finish = [&] {
        exif.truncate(exif.size() - qsizetype(JxlDecoderReleaseBoxBuffer(stream.get())));
        // The box starts with the offset of the TIFF header after these four bytes.
        const quint32 offset = exif.size() >= 4 ? qFromBigEndian<quint32>(exif.constData()) : ~0u;
        return offset <= quint32(exif.size() - 4) ? exif.mid(4 + offset) : QByteArray();
    };
    for (;;) {
        switch (stream.next()) {
        case JXL_DEC_BOX: {
            if (reading)
                return finish();
            JxlBoxType type;
            if (JxlDecoderGetBoxType(stream.get(), type, JXL_TRUE) == JXL_DEC_SUCCESS &&
                QByteArrayView(type, 4) == "Exif") {
                reading = true;
                if (!giveBuffer())
                    return {};
            }
            break;
        }
        case JXL_DEC_BOX_NEED_MORE_OUTPUT:
            filled = exif.size() - qsizetype(JxlDecoderReleaseBoxBuffer(stream.get()));
            if (!giveBuffer())
                return {};
            break;
        case JXL_DEC_SUCCESS:
            return reading ? finish() : QByteArray();
        default:
            return {};
        }
    }
}

bool jxlIsAnimated(QByteArrayView head) {
    const JxlStream stream(head, JXL_DEC_BASIC_INFO, false);
    if (stream.next() != JXL_DEC_BASIC_INFO)
        return false;
    const auto info = stream.basicInfo();
    return info && info->have_animation;
}

namespace {

// libjxl composes every frame onto the canvas (coalescing); frames are decoded in order, and an
// earlier one than the last restarts the decoder and skips to it without decoding the others.
class JxlFrames final : public FrameSource {
public:
    explicit JxlFrames(QByteArray data)
        : data_(std::move(data)) {
        // Durations first, from the frame headers alone: no pixels are decoded for this.
        const JxlStream scan(data_, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME, false);
        for (;;) {
            const JxlDecoderStatus status = scan.next();
            if (status == JXL_DEC_BASIC_INFO) {
                info_ = scan.basicInfo().value_or(JxlBasicInfo{});
                size_ = storedSize(info_); // as libjxl turns the frames: upright
                if (size_.isEmpty() || !fitsDecodeBudget(size_, 8) || !info_.have_animation ||
                    info_.animation.tps_numerator == 0)
                    return;
            } else if (status == JXL_DEC_FRAME) {
                JxlFrameHeader header;
                if (JxlDecoderGetFrameHeader(scan.get(), &header) != JXL_DEC_SUCCESS)
                    break;
                const double ms = 1000.0 * header.duration * info_.animation.tps_denominator /
                                  info_.animation.tps_numerator;
                delays_.push_back(normalisedDelay(int(std::min(ms, 60000.0))));
                if (delays_.size() > 100000)
                    break;
            } else {
                break; // the end, or a frame cut short: the frames before it play
            }
        }
    }

    int frameCount() const override { return int(delays_.size()); }
    int frameDelayMs(int index) const override {
        return index >= 0 && index < frameCount() ? delays_[size_t(index)] : 0;
    }

    QImage decodeFrame(int index) override {
        if (index < 0 || index >= frameCount())
            return {};
        if (!stream_ || index < next_) {
            stream_ = std::make_unique<JxlStream>(
                data_, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE, true);
            next_ = 0;
        }
        if (index > next_)
            JxlDecoderSkipFrames(stream_->get(), size_t(index - next_));
        next_ = index;
        const OutputLayout layout = outputLayout(info_);
        QImage frame;
        for (;;) {
            switch (stream_->next()) {
            case JXL_DEC_BASIC_INFO:
                break;
            case JXL_DEC_COLOR_ENCODING:
                icc_ = settleColour(stream_->get(), info_, layout.grey);
                break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                frame = allocateImage(size_, layout.format);
                if (frame.isNull() || !setOutputBuffer(stream_->get(), layout, frame))
                    return fail();
                break;
            case JXL_DEC_FULL_IMAGE:
                ++next_;
                return frame.isNull() ? fail() : toDisplaySrgb(std::move(frame), icc_);
            default:
                return fail();
            }
        }
    }

private:
    QImage fail() {
        stream_.reset();
        return {};
    }

    QByteArray data_; // libjxl reads from it for the decoder's whole life
    JxlBasicInfo info_{};
    QSize size_;
    std::vector<int> delays_;
    std::unique_ptr<JxlStream> stream_;
    QByteArray icc_;
    int next_ = 0;
};

} // namespace

std::unique_ptr<FrameSource> openJxlFrames(QByteArray data) {
    auto frames = std::make_unique<JxlFrames>(std::move(data));
    return frames->frameCount() > 1 ? std::move(frames) : nullptr;
}

} // namespace kivo
