#include "decode.h"

#include "animation.h"
#include "codecs.h"
#include "colour.h"
#include "contenttype.h"
#include "decodecore.h"
#include "jpegdecoder.h"
#include "orientation.h"
#include "qtdecoder.h"
#include "webpdecoder.h"

#include <QColorSpace>
#include <fcntl.h>
#include <unistd.h>

namespace kivo {

namespace {

// Compressed files larger than this are not images anyone can view here.
constexpr qint64 kMaxFileBytes = qint64(2) * 1024 * 1024 * 1024;
// An animated file is held in memory while it plays.
constexpr qint64 kMaxAnimationBytes = qint64(256) * 1024 * 1024;

std::optional<DecodedPixels> decodeJpegFile(const FilePath& path, const DecodeRequest& request) {
    const auto bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes)
        return std::nullopt;
    JpegDecodeOptions options;
    options.minLongSide = request.maxPixelSize;
    options.fastDct = request.maxPixelSize > 0;
    auto jpeg = decodeJpeg(*bytes, options);
    if (!jpeg)
        return std::nullopt;
    if (request.upright)
        jpeg->image = applyOrientation(jpeg->image, jpeg->orientation);
    return DecodedPixels{std::move(jpeg->image), std::move(jpeg->icc)};
}

std::optional<DecodedPixels> decodePixels(const FilePath& path, const QString& type,
                                          const DecodeRequest& request) {
    if (type == ctype::Jpeg)
        return decodeJpegFile(path, request);
    // The HEIF, raw and PSD decoders always hand over upright pixels.
    if (type == ctype::Heic || type == ctype::Heif || type == ctype::Avif)
        return decodeHeif(path, request.maxPixelSize);
    if (conformsTo(type, ctype::CameraRaw))
        return decodeRaw(path, request.maxPixelSize);
    if (type == ctype::Psd)
        return decodePsd(path);
    if (type == ctype::WebP && request.maxPixelSize > 0) {
        if (const auto bytes = readWholeFile(path, kMaxFileBytes)) {
            if (auto pixels = decodeWebpScaled(*bytes, request.maxPixelSize))
                return pixels;
        }
    }
    return decodeWithQt(path, type, request.upright);
}

QImage scaledToFit(const QImage& image, int maxPixelSize) {
    if (maxPixelSize <= 0 || std::max(image.width(), image.height()) <= maxPixelSize)
        return image;
    return image.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

bool openForReading(QFile& file, const FilePath& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

std::optional<QByteArray> readWholeFile(const FilePath& path, qint64 maxBytes) {
    QFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    const qint64 size = file.size();
    if (size <= 0 || size > maxBytes)
        return std::nullopt;
    QByteArray bytes(size, Qt::Uninitialized);
    if (file.read(bytes.data(), size) != size)
        return std::nullopt;
    return bytes;
}

QImage decodeStill(const FilePath& path, const QString& contentType, const DecodeRequest& request) {
    auto pixels = decodePixels(path, contentType, request);
    if (!pixels || pixels->image.isNull())
        return {};
    QImage image = std::move(pixels->image);
    if (request.toSrgb)
        return scaledToFit(toDisplaySrgb(std::move(image), pixels->iccProfile),
                           request.maxPixelSize);
    if (!pixels->iccProfile.isEmpty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(pixels->iccProfile);
        if (space.isValid())
            image.setColorSpace(space);
    }
    return scaledToFit(image, request.maxPixelSize);
}

ImagePtr decodeImage(const FilePath& path) {
    const auto type = sniffContentType(path);
    if (!type)
        return nullptr;
    if (*type == ctype::Gif || *type == ctype::WebP) {
        QFile file;
        const bool animated = openForReading(file, path) &&
                              (*type == ctype::Gif || webpHeaderIsAnimated(file.peek(32)));
        file.close();
        if (animated) {
            if (auto bytes = readWholeFile(path, kMaxAnimationBytes)) {
                if (auto animation = openAnimation(std::move(*bytes), *type))
                    return Image::createAnimated(std::move(animation->firstFrame),
                                                 std::move(animation->frames));
            }
        }
    }
    return Image::create(decodeStill(path, *type, DecodeRequest{}));
}

} // namespace kivo
