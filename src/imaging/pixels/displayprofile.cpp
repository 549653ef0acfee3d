// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/displayprofile.h"

#include "imaging/codecs/decodecore.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QCryptographicHash>
#include <array>
#include <lcms2.h>
#include <map>
#include <mutex>

namespace kivo {

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr cmsUInt32Number kLcmsArgb32 = TYPE_BGRA_8; // QImage's 0xAARRGGBB words in memory
#else
constexpr cmsUInt32Number kLcmsArgb32 = TYPE_ARGB_8;
#endif

// Display profiles are a few kilobytes; calibration tools with large tables stay below this.
constexpr qsizetype kMaxDisplayProfileBytes = 4 * 1024 * 1024;
// The header alone is 128 bytes, the tag count 4 more.
constexpr qsizetype kMinProfileBytes = 132;
// Cached transforms, each a few hundred kilobytes at most; a session sees a handful of pairs.
constexpr std::size_t kMaxCachedTransforms = 24;

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Transform = std::shared_ptr<void>;

Profile openProfile(const QByteArray& icc) {
    if (icc.isEmpty())
        return Profile(cmsCreate_sRGBProfile());
    return Profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
}

Transform makeTransform(void* from, cmsUInt32Number inFormat, void* to, cmsUInt32Number outFormat,
                        cmsUInt32Number intent, cmsUInt32Number flags) {
    // Without its one-pixel cache a transform may run on several threads at once.
    void* transform =
        cmsCreateTransform(from, inFormat, to, outFormat, intent, flags | cmsFLAGS_NOCACHE);
    return transform ? Transform(transform, TransformDeleter()) : nullptr;
}

// What a sane screen does with a few sRGB colours: black stays dark, white light, a grey ramp
// never gets darker, and each primary stays the strongest channel of its own colour. Catches
// profiles whose curves are inverted, flat or garbage, which lcms2 accepts.
std::optional<QString> absurdity(void* profile) {
    Profile srgb(cmsCreate_sRGBProfile());
    const Transform probe =
        makeTransform(srgb.get(), TYPE_RGB_8, profile, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    if (!probe)
        return QStringLiteral("lcms2 cannot build a transform to it");
    constexpr int kRamp = 18;
    std::array<uchar, 3 * (kRamp + 3)> in{}, out{};
    for (int i = 0; i < kRamp; ++i)
        in[3 * i] = in[3 * i + 1] = in[3 * i + 2] = uchar(i * 15);
    for (int p = 0; p < 3; ++p)
        in[3 * (kRamp + p) + p] = 255;
    cmsDoTransform(probe.get(), in.data(), out.data(), kRamp + 3);
    const auto sum = [&](int i) { return out[3 * i] + out[3 * i + 1] + out[3 * i + 2]; };
    for (int i = 1; i < kRamp; ++i)
        if (sum(i) + 6 < sum(i - 1))
            return QStringLiteral("its grey ramp gets darker");
    if (sum(0) > 3 * 96 || sum(kRamp - 1) < 3 * 160)
        return QStringLiteral("black or white comes out wrong");
    for (int p = 0; p < 3; ++p) {
        const uchar* c = &out[3 * (kRamp + p)];
        if (c[p] <= c[(p + 1) % 3] || c[p] <= c[(p + 2) % 3])
            return QStringLiteral("its primaries are mixed up");
    }
    return std::nullopt;
}

// One transform per source profile, display profile and pixel layout, shared by every decode.
class TransformCache {
public:
    Transform get(const QByteArray& sourceIcc, const DisplayProfile& target,
                  cmsUInt32Number inFormat, cmsUInt32Number outFormat, cmsUInt32Number flags) {
        QByteArray key = sourceIcc.isEmpty()
                             ? QByteArray("srgb")
                             : QCryptographicHash::hash(sourceIcc, QCryptographicHash::Md5);
        key += target.key();
        key += QByteArray::number(inFormat) + '/' + QByteArray::number(outFormat) + '/' +
               QByteArray::number(flags);
        const std::lock_guard lock(mutex_);
        if (auto found = transforms_.find(key); found != transforms_.end())
            return found->second;
        const Profile from = openProfile(sourceIcc);
        const Profile to = openProfile(target.icc());
        if (!from || !to)
            return nullptr;
        const cmsUInt32Number intent =
            target.isLutBased() ? INTENT_PERCEPTUAL : INTENT_RELATIVE_COLORIMETRIC;
        Transform transform = makeTransform(from.get(), inFormat, to.get(), outFormat, intent,
                                            flags | cmsFLAGS_BLACKPOINTCOMPENSATION);
        if (transforms_.size() >= kMaxCachedTransforms)
            transforms_.clear();
        if (transform)
            transforms_.emplace(std::move(key), transform);
        return transform;
    }

private:
    std::mutex mutex_;
    std::map<QByteArray, Transform> transforms_;
};

TransformCache& transformCache() {
    static TransformCache cache;
    return cache;
}

cmsColorSpaceSignature colourSpaceOf(const QByteArray& icc) {
    const Profile profile = icc.isEmpty() ? nullptr : openProfile(icc);
    return profile ? cmsGetColorSpace(profile.get()) : cmsColorSpaceSignature(0);
}

bool isDeep(const QImage& image) {
    return image.depth() >= 48 || image.format() == QImage::Format_Grayscale16;
}

// The profile the picture's values are in, empty for sRGB: the embedded one when lcms2 can use
// it for these pixels, else what the image is tagged with. A profile of no use leaves the values
// as they are, as toDisplaySrgb does.
QByteArray sourceProfile(const QImage& image, const QByteArray& icc, bool* grey) {
    *grey = false;
    if (!icc.isEmpty()) {
        const cmsColorSpaceSignature space = colourSpaceOf(icc);
        const bool greyPixels = image.format() == QImage::Format_Grayscale8 ||
                                image.format() == QImage::Format_Grayscale16;
        if (space == cmsSigRgbData)
            return icc;
        if (space == cmsSigGrayData && greyPixels) {
            *grey = true;
            return icc;
        }
        return {};
    }
    const QColorSpace tagged = image.colorSpace();
    if (!tagged.isValid() || tagged == QColorSpace::SRgb)
        return {};
    return tagged.iccProfile();
}

} // namespace

struct DisplayProfile::Data {
    QByteArray icc;
    QByteArray key;
    bool lutBased = false;
    QColorSpace colorSpace;
};

std::optional<DisplayProfile> DisplayProfile::fromIcc(const QByteArray& icc, const QString& name) {
    const auto refuse = [&](const QString& why) -> std::optional<DisplayProfile> {
        qCInfo(lcImaging) << "ignoring the display profile" << name << ":" << why;
        return std::nullopt;
    };
    if (icc.size() < kMinProfileBytes || icc.size() > kMaxDisplayProfileBytes)
        return refuse(QStringLiteral("%1 bytes").arg(icc.size()));
    const Profile profile = openProfile(icc);
    if (!profile)
        return refuse(QStringLiteral("not an ICC profile"));
    if (cmsGetDeviceClass(profile.get()) != cmsSigDisplayClass)
        return refuse(QStringLiteral("not a display profile"));
    if (cmsGetColorSpace(profile.get()) != cmsSigRgbData)
        return refuse(QStringLiteral("not an RGB profile"));
    if (const auto why = absurdity(profile.get()))
        return refuse(*why);
    auto data = std::make_shared<Data>();
    data->icc = icc;
    data->key = QCryptographicHash::hash(icc, QCryptographicHash::Md5);
    data->lutBased = cmsIsCLUT(profile.get(), INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT) ||
                     !cmsIsMatrixShaper(profile.get());
    data->colorSpace = QColorSpace::fromIccProfile(icc);
    DisplayProfile result;
    result.data_ = std::move(data);
    return result;
}

QByteArray DisplayProfile::icc() const {
    return data_ ? data_->icc : QByteArray();
}

QByteArray DisplayProfile::key() const {
    return data_ ? data_->key : QByteArray();
}

bool DisplayProfile::isLutBased() const {
    return data_ && data_->lutBased;
}

QColorSpace DisplayProfile::colorSpace() const {
    return data_ ? data_->colorSpace : QColorSpace(QColorSpace::SRgb);
}

QImage toDisplay(QImage image, const QByteArray& icc, const DisplayProfile& target) {
    if (target.isSrgb() || image.isNull())
        return toDisplaySrgb(std::move(image), icc);
    bool grey = false;
    const QByteArray source = sourceProfile(image, icc, &grey);
    const bool alpha = image.hasAlphaChannel();
    const bool deep = isDeep(image);
    // Between two profiles Qt can describe (primaries and curves, what almost every display
    // profile is) Qt converts at the cost an sRGB conversion always had, half that of lcms2's
    // 8-bit path; for those black-point compensation changes nothing, their black being zero.
    const QColorSpace to = target.colorSpace();
    const QColorSpace from =
        source.isEmpty() ? QColorSpace(QColorSpace::SRgb) : QColorSpace::fromIccProfile(source);
    if (!grey && !target.isLutBased() && to.isValid() && from.isValid()) {
        if (deep)
            image.convertTo(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        else
            image.convertTo(displayFormat(alpha));
        image.setColorSpace(from);
        image.convertToColorSpace(to);
        image.convertTo(displayFormat(alpha));
        image.setColorSpace(to);
        return image;
    }
    cmsUInt32Number inFormat = kLcmsArgb32;
    cmsUInt32Number flags = alpha ? cmsFLAGS_COPY_ALPHA : 0;
    if (grey) {
        image.convertTo(deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
        inFormat = deep ? TYPE_GRAY_16 : TYPE_GRAY_8;
    } else if (deep) {
        image.convertTo(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        inFormat = TYPE_RGBA_16;
    } else {
        // 8-bit RGB converts in place, straight alpha carried across unchanged.
        image.convertTo(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    }
    const Transform transform = transformCache().get(source, target, inFormat, kLcmsArgb32, flags);
    if (!transform || image.isNull()) {
        qCDebug(lcImaging) << "no transform to the display profile; showing the picture as sRGB";
        return toDisplaySrgb(std::move(image), icc);
    }
    QImage out =
        inFormat == kLcmsArgb32
            ? std::move(image)
            : allocateImage(image.size(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull())
        return out;
    if (inFormat != kLcmsArgb32 && !alpha)
        out.fill(0xffffffffu); // lcms leaves the fourth byte alone; RGB32 needs it opaque
    uchar* bits = out.bits();
    const uchar* in = inFormat == kLcmsArgb32 ? bits : image.constBits();
    const qsizetype inStride = inFormat == kLcmsArgb32 ? out.bytesPerLine() : image.bytesPerLine();
    cmsDoTransformLineStride(transform.get(), in, bits, cmsUInt32Number(out.width()),
                             cmsUInt32Number(out.height()), cmsUInt32Number(inStride),
                             cmsUInt32Number(out.bytesPerLine()), 0, 0);
    if (alpha)
        out.convertTo(displayFormat(true));
    out.setColorSpace(target.colorSpace());
    return out;
}

} // namespace kivo
