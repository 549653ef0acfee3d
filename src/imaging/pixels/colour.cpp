// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/colour.h"

#include "imaging/pixels/pixelbuffer.h"

#include <QColorSpace>
#include <lcms2.h>
#include <memory>
#include <optional>

namespace kivo {

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
// QImage's 32-bit formats are native-endian words 0xAARRGGBB, so B, G, R, A in memory.
constexpr cmsUInt32Number kLcmsArgb32 = TYPE_BGRA_8;
#else
constexpr cmsUInt32Number kLcmsArgb32 = TYPE_ARGB_8;
#endif

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

// One band: the conversion runs on the thread that asked for it. Decodes already run on the
// application's pools, and a thread started from inside a pool worker would escape their limits.
template <typename Work> void inBands(QSize size, Work work) {
    work(0, size.height());
}

// Converts in place, band by band: each band is a QImage over the same rows, so Qt writes
// straight into the buffer without a copy.
void convertInPlace(QImage& image, const QColorSpace& from) {
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    inBands(image.size(), [&](int y0, int y1) {
        QImage band(bits + y0 * stride, image.width(), y1 - y0, stride, image.format());
        band.setColorSpace(from);
        band.convertToColorSpace(QColorSpace::SRgb);
    });
}

// cmsDoTransform is safe from several threads at once only without its one-pixel cache, which
// the transforms here turn off.
void transformInBands(void* transform, const uchar* in, qsizetype inStride, uchar* out,
                      qsizetype outStride, QSize size) {
    inBands(size, [&](int y0, int y1) {
        cmsDoTransformLineStride(transform, in + y0 * inStride, out + y0 * outStride,
                                 cmsUInt32Number(size.width()), cmsUInt32Number(y1 - y0),
                                 cmsUInt32Number(inStride), cmsUInt32Number(outStride), 0, 0);
    });
}

bool isDeep(const QImage& image) {
    return image.depth() >= 48 || image.format() == QImage::Format_Grayscale16;
}

// RGB and grey pictures convert colorimetrically, so in-gamut colours stay exactly what the
// file says; a v4 perceptual table would also lift the shadows. CMYK separations carry
// perceptual tables made for showing them on screen, so those use them.
Transform makeTransform(const QByteArray& icc, cmsUInt32Number inFormat, cmsUInt32Number outFormat,
                        cmsUInt32Number flags = 0,
                        cmsUInt32Number intent = INTENT_RELATIVE_COLORIMETRIC) {
    Profile in(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
    Profile srgb(cmsCreate_sRGBProfile());
    if (!in || !srgb)
        return nullptr;
    return Transform(cmsCreateTransform(in.get(), inFormat, srgb.get(), outFormat, intent, flags));
}

cmsColorSpaceSignature profileColourSpace(const QByteArray& icc) {
    Profile profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
    return profile ? cmsGetColorSpace(profile.get()) : cmsColorSpaceSignature(0);
}

// The profiles QColorSpace cannot read: LUT-based RGB and grey.
std::optional<QImage> convertWithLcms(const QImage& image, const QByteArray& icc) {
    const bool alpha = image.hasAlphaChannel();
    const bool deep = isDeep(image);
    QImage source;
    cmsUInt32Number inFormat = 0;
    cmsUInt32Number flags = 0;
    switch (profileColourSpace(icc)) {
    case cmsSigRgbData:
        source = deep ? image.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                      : image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        inFormat = deep ? TYPE_RGBA_16 : kLcmsArgb32;
        flags = cmsFLAGS_COPY_ALPHA;
        break;
    case cmsSigGrayData:
        if (alpha)
            return std::nullopt;
        source =
            image.convertToFormat(deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
        inFormat = deep ? TYPE_GRAY_16 : TYPE_GRAY_8;
        break;
    default:
        return std::nullopt;
    }
    const Transform transform = makeTransform(icc, inFormat, kLcmsArgb32, flags);
    QImage out = allocateImage(image.size(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (!transform || out.isNull() || source.isNull())
        return std::nullopt;
    if (!(flags & cmsFLAGS_COPY_ALPHA))
        out.fill(0xffffffffu); // lcms leaves the fourth byte alone; RGB32 needs it opaque
    transformInBands(transform.get(), source.constBits(), source.bytesPerLine(), out.bits(),
                     out.bytesPerLine(), image.size());
    if (alpha)
        out.convertTo(QImage::Format_ARGB32_Premultiplied);
    out.setColorSpace(QColorSpace::SRgb);
    return out;
}

// The naive conversion for CMYK without a usable profile, the one most viewers fall back to.
void cmykToRgbNaive(const uchar* pixels, qsizetype bytesPerLine, QImage& out, bool inverted) {
    for (int y = 0; y < out.height(); ++y) {
        const uchar* in = pixels + y * bytesPerLine;
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x, in += 4) {
            // Paper white minus ink, ink stored either way round.
            const int c = inverted ? in[0] : 255 - in[0];
            const int m = inverted ? in[1] : 255 - in[1];
            const int yl = inverted ? in[2] : 255 - in[2];
            const int k = inverted ? in[3] : 255 - in[3];
            dst[x] = qRgb((c * k + 127) / 255, (m * k + 127) / 255, (yl * k + 127) / 255);
        }
    }
}

} // namespace

QImage toDisplaySrgb(QImage image, const QByteArray& icc) {
    if (image.isNull())
        return image;
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format display = displayFormat(alpha);
    QColorSpace space = icc.isEmpty() ? image.colorSpace() : QColorSpace::fromIccProfile(icc);
    if (!icc.isEmpty() && !space.isValid()) {
        if (auto converted = convertWithLcms(image, icc))
            return *converted;
    }
    if (!space.isValid() || space == QColorSpace::SRgb) {
        image.convertTo(display);
        image.setColorSpace(QColorSpace::SRgb);
        return image;
    }
    if (isDeep(image))
        image.convertTo(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    else
        image.convertTo(display);
    convertInPlace(image, space);
    image.convertTo(display);
    image.setColorSpace(QColorSpace::SRgb);
    return image;
}

QImage cmykToSrgb(const uchar* pixels, qsizetype bytesPerLine, QSize size, const QByteArray& icc,
                  bool inverted) {
    QImage out = allocateImage(size, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    Transform transform;
    if (!icc.isEmpty() && profileColourSpace(icc) == cmsSigCmykData)
        transform = makeTransform(icc, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, kLcmsArgb32, 0,
                                  INTENT_PERCEPTUAL);
    if (transform) {
        out.fill(0xffffffffu);
        transformInBands(transform.get(), pixels, bytesPerLine, out.bits(), out.bytesPerLine(),
                         size);
    } else {
        cmykToRgbNaive(pixels, bytesPerLine, out, inverted);
    }
    out.setColorSpace(QColorSpace::SRgb);
    return out;
}

} // namespace kivo
