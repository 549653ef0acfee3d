// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decode.h"

#include "imaging/bytes/contenttype.h"
#include "imaging/codecs/animation.h"
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/jpegdecoder.h"
#include "imaging/codecs/jxlcodec.h"
#include "imaging/codecs/librarymessages.h"
#include "imaging/codecs/pngdecoder.h"
#include "imaging/codecs/qtdecoder.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/codecs/svgcodec.h"
#include "imaging/codecs/webpdecoder.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

Q_LOGGING_CATEGORY(lcImaging, "kivo.imaging", QtWarningMsg)

namespace {

// Compressed files larger than this are not images anyone can view here.
constexpr qint64 kMaxFileBytes = qint64(2) * 1024 * 1024 * 1024;
// An animated file is held in memory while it plays.
constexpr qint64 kMaxAnimationBytes = qint64(256) * 1024 * 1024;

Failure damaged(const FormatInfo& format) {
    return Failure{FailureReason::damaged,
                   QStringLiteral("the %1 decoder could not read it").arg(format.name)};
}

Result<DecodedPixels> decodeJpegFile(const FilePath& path, const DecodeRequest& request) {
    auto bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes)
        return bytes.failure();
    JpegDecodeOptions options;
    options.minLongSide = request.maxPixelSize;
    options.fitBox = request.fitBox;
    options.fastDct = request.maxPixelSize > 0;
    auto jpeg = decodeJpeg(*bytes, options);
    if (!jpeg) {
        QBuffer buffer(&*bytes);
        const QSize declared =
            QImageReader(&buffer, qtFormatName(formatInfo(ImageFormat::jpeg))).size();
        if (declared.isValid() && !fitsDecodeBudget(declared, 4))
            return Failure{
                FailureReason::tooLarge,
                QStringLiteral("%1x%2 pixels").arg(declared.width()).arg(declared.height())};
        return damaged(formatInfo(ImageFormat::jpeg));
    }
    const int orientation = request.upright ? jpeg->orientation : 1;
    if (request.upright)
        jpeg->image = applyOrientation(jpeg->image, jpeg->orientation);
    const QSize fullSize = orientedSize(jpeg->fullSize, orientation);
    return DecodedPixels{std::move(jpeg->image), std::move(jpeg->icc),
                         fullSize != jpeg->image.size() ? fullSize : QSize()};
}

Result<DecodedPixels> decodeJxlFile(const FilePath& path, const DecodeRequest& request) {
    const auto bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes)
        return bytes.failure();
    return decodeJxl(*bytes, request.upright);
}

// A still WebP decoded straight to the size a level or a thumbnail needs.
std::optional<DecodedPixels> decodeWebpReduced(const FilePath& path, const DecodeRequest& request) {
    const auto bytes = readWholeFile(path, kMaxFileBytes);
    const auto declared = bytes ? webpStillSize(*bytes) : std::nullopt;
    if (!declared)
        return std::nullopt;
    const int orientation = request.upright ? chunkExifOrientation(path) : 1;
    const int longSide = request.fitBox.isValid()
                             ? longSideToFill(*declared, orientation, request.fitBox)
                             : request.maxPixelSize;
    auto pixels = decodeWebpScaled(*bytes, longSide);
    if (!pixels)
        return std::nullopt;
    pixels->image = applyOrientation(pixels->image, orientation);
    const QSize fullSize = orientedSize(*declared, orientation);
    if (fullSize != pixels->image.size())
        pixels->fullSize = fullSize;
    return pixels;
}

// A PNG for display. The stored pixels a rewrite works on still come from Qt's reader, in the
// file's own pixel format, and so does a file libspng refuses before its first row.
Result<DecodedPixels> decodePngFile(const FilePath& path, const DecodeRequest& request) {
    PngDecodeOptions options;
    options.orientation = request.upright ? chunkExifOrientation(path) : 1;
    options.maxLongSide = request.maxPixelSize;
    if (request.shrink)
        options.fitBox = request.fitBox;
    auto pixels = decodePng(path, options);
    if (pixels && options.orientation != 1)
        pixels->image = applyOrientation(pixels->image, options.orientation);
    return pixels;
}

// The codecs say only that they failed; a picture over the memory budget is told apart by its
// declared size, read again only on this failure path.
Result<DecodedPixels> fromCodec(std::optional<DecodedPixels> pixels, const FormatInfo& format,
                                const FilePath& path) {
    if (pixels)
        return std::move(*pixels);
    std::optional<PixelInfo> declared;
    switch (format.decoder) {
    case DecoderKind::libheif:
        declared = probeHeif(path);
        break;
    case DecoderKind::libraw:
        declared = probeRaw(path);
        break;
    case DecoderKind::psdReader:
        declared = probePsd(path);
        break;
    default:
        break;
    }
    if (declared && declared->size.isValid() && !fitsDecodeBudget(declared->size, 4))
        return Failure{FailureReason::tooLarge, QStringLiteral("%1x%2 pixels")
                                                    .arg(declared->size.width())
                                                    .arg(declared->size.height())};
    return damaged(format);
}

Result<DecodedPixels> decodePixels(const FilePath& path, const FormatInfo& format,
                                   const DecodeRequest& request) {
    // The HEIF, raw and PSD decoders always hand over upright pixels.
    switch (format.decoder) {
    case DecoderKind::libjpeg:
        return decodeJpegFile(path, request);
    case DecoderKind::libjxl:
        return decodeJxlFile(path, request);
    case DecoderKind::libheif:
        return fromCodec(decodeHeif(path, request.maxPixelSize), format, path);
    case DecoderKind::libraw:
        return fromCodec(decodeRaw(path, request.maxPixelSize, request.fitBox), format, path);
    case DecoderKind::psdReader:
        return fromCodec(decodePsd(path), format, path);
    case DecoderKind::qtSvg:
        return decodeSvg(path, request);
    case DecoderKind::libspng:
        if (request.toSrgb) {
            auto png = decodePngFile(path, request);
            if (png || png.reason() != FailureReason::unsupported)
                return png;
        }
        break;
    case DecoderKind::qtPlugin:
        break;
    }
    const bool reduced = request.maxPixelSize > 0 || request.fitBox.isValid();
    if (format.thumbnail == ThumbnailPath::scaledDecode && reduced) {
        if (auto pixels = decodeWebpReduced(path, request))
            return std::move(*pixels);
    }
    if (format.format == ImageFormat::tiff && reduced) {
        if (auto pixels = decodeReducedTiffPage(path, request))
            return std::move(*pixels);
    }
    return decodeWithQt(path, format, request.upright);
}

// The decoded picture with its colours settled (converted to sRGB or tagged), its profile
// spent, and scaled to the size asked for.
Result<DecodedPixels> decodeOrRefuse(const FilePath& path, const FormatInfo& format,
                                     const DecodeRequest& request) {
    // No codec exception may cross this boundary; LibRaw and exiv2 are caught further in, and
    // this catches what is left (an allocation that failed, a throwing Qt plugin).
    try {
        auto pixels = decodePixels(path, format, request);
        if (!pixels)
            return pixels.failure();
        if (pixels->image.isNull())
            return damaged(format);
        QImage image = std::move(pixels->image);
        QSize fullSize = pixels->fullSize;
        // A level shrunk to its box is converted at that size, not in full and then scaled:
        // a profiled 12 MP photo's conversion costs more than its scaling.
        if (request.shrink && request.fitBox.isValid() && !isVector(format)) {
            const QSize fitted =
                image.size().scaled(request.fitBox, Qt::KeepAspectRatio).expandedTo({1, 1});
            if (fitted.width() < image.width()) {
                if (fullSize.isEmpty())
                    fullSize = image.size();
                image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            }
        }
        if (request.toSrgb) {
            image = toDisplay(std::move(image), pixels->iccProfile, request.target);
            if (image.isNull())
                return Failure{FailureReason::tooLarge,
                               QStringLiteral("no memory for the display copy")};
        } else if (!pixels->iccProfile.isEmpty()) {
            const QColorSpace space = QColorSpace::fromIccProfile(pixels->iccProfile);
            if (space.isValid())
                image.setColorSpace(space);
        }
        return DecodedPixels{scaledToFit(image, request.maxPixelSize), {}, fullSize};
    } catch (const std::bad_alloc&) {
        return Failure{FailureReason::tooLarge, QStringLiteral("out of memory while decoding")};
    } catch (...) {
        return damaged(format);
    }
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("not a regular file");
}

} // namespace

QImage scaledToFit(const QImage& image, int maxPixelSize) {
    const int longSide = std::max(image.width(), image.height());
    if (maxPixelSize <= 0 || longSide <= maxPixelSize)
        return image;
    // QImage::scaled rounds a very thin picture's short side to nothing.
    const auto shortSide = [&](int side) {
        return std::max(1, int(qint64(side) * maxPixelSize / longSide));
    };
    const QSize size = image.width() >= image.height()
                           ? QSize(maxPixelSize, shortSide(image.height()))
                           : QSize(shortSide(image.width()), maxPixelSize);
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool openForReading(QFile& file, const FilePath& path, Failure* why) {
    // Every file the imaging layer reads comes through here before any library sees it.
    routeLibraryMessages();
    const auto refuse = [&](FailureReason reason, const QString& message) {
        if (why)
            *why = Failure{reason, message};
        qCDebug(lcImaging) << "refused" << displayPath(path) << ":" << message;
        return false;
    };
    const auto systemError = [&](int error) {
        return refuse(FailureReason::unreadable, QString::fromLocal8Bit(strerror(error)));
    };
    // stat first, so that a FIFO or device is never opened at all; fstat then checks that what
    // was opened is still the regular file (the name may have been replaced meanwhile).
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return systemError(errno);
    if (!S_ISREG(info.st_mode))
        return refuse(FailureReason::notAFile, kindOf(info.st_mode));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return systemError(errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse(FailureReason::notAFile, kindOf(info.st_mode));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(FailureReason::unreadable, file.errorString());
    }
    return true;
}

Result<QByteArray> readWholeFile(const FilePath& path, qint64 maxBytes) {
    QFile file;
    Failure why;
    if (!openForReading(file, path, &why))
        return why;
    const qint64 size = file.size();
    if (size <= 0)
        return Failure{FailureReason::damaged, QStringLiteral("empty file")};
    if (size > maxBytes)
        return Failure{FailureReason::tooLarge, QStringLiteral("%1 bytes").arg(size)};
    QByteArray bytes(size, Qt::Uninitialized);
    if (file.read(bytes.data(), size) != size)
        return Failure{FailureReason::unreadable, file.errorString()};
    return bytes;
}

namespace {

Result<DecodedPixels> decodeLogged(const FilePath& path, const FormatInfo& format,
                                   const DecodeRequest& request) {
    auto pixels = decodeOrRefuse(path, format, request);
    if (!pixels)
        qCDebug(lcImaging) << "cannot decode" << displayPath(path) << ":"
                           << reasonName(pixels.reason()) << pixels.failure().message;
    return pixels;
}

Result<const FormatInfo*> sniffLogged(const FilePath& path) {
    auto format = sniffFormat(path);
    if (!format)
        qCDebug(lcImaging) << "refused" << displayPath(path) << ":" << reasonName(format.reason());
    return format;
}

// A GIF, WebP or JPEG XL with more than one frame, or none for stills (and for animations that
// cannot be opened, which then decode as stills).
ImagePtr decodeAnimation(const FilePath& path, const FormatInfo& info) {
    if (!info.mayAnimate)
        return nullptr;
    QFile file;
    const bool animated = openForReading(file, path) &&
                          (info.format == ImageFormat::gif ||
                           (info.format == ImageFormat::jxl ? jxlIsAnimated(file.peek(64 * 1024))
                                                            : webpHeaderIsAnimated(file.peek(32))));
    file.close();
    if (!animated)
        return nullptr;
    auto bytes = readWholeFile(path, kMaxAnimationBytes);
    if (!bytes)
        return nullptr;
    auto animation = openAnimation(std::move(*bytes), info);
    if (!animation)
        return nullptr;
    return Image::createAnimated(std::move(animation->firstFrame), std::move(animation->frames));
}

// The level of a tiled picture asked for in full, which zooming out from 100 % then draws.
constexpr QSize kTiledLevelBox(2048, 2048);

// A picture too large to decode whole, as the coarsest level that still fills `box` when fitted
// in it (scaled down to the box when `shrink`), with the reader for the sharper tiles. Each
// reader makes that level its cheapest way: a JPEG's DCT scaling, a TIFF's reduced page, the
// levels a PNG's first pass kept.
Result<ImagePtr> tiledLevel(const RegionReaderPtr& regions, QSize box, bool shrink) {
    const QSize full = regions->size();
    const QSize fitted = full.scaled(box, Qt::KeepAspectRatio).expandedTo({1, 1});
    int level = 30;
    while (level > 0 && (levelSize(full, level).width() < fitted.width() ||
                         levelSize(full, level).height() < fitted.height()))
        --level;
    auto pixels = regions->read({QRect(QPoint(0, 0), full)}, level);
    if (!pixels.front())
        return pixels.front().failure();
    QImage bitmap = std::move(*pixels.front());
    if (shrink && fitted.width() < bitmap.width())
        bitmap = bitmap.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    qCDebug(lcImaging) << "tiled picture of" << full << "level" << level << bitmap.size();
    if (ImagePtr image = Image::createTiled(std::move(bitmap), regions))
        return image;
    return Failure{FailureReason::damaged, QStringLiteral("no level")};
}

// The picture decoded as one bitmap: a level that fills `box` where the format has a cheap
// one, else in full (scaled down to the box when `shrink`).
Result<ImagePtr> decodeWhole(const FilePath& path, const FormatInfo& info, QSize box, bool shrink,
                             const DisplayProfile& target) {
    DecodeRequest request;
    request.fitBox = box;
    request.enlarge = !shrink && box.isValid();
    request.target = target;
    request.shrink = shrink;
    auto still = decodeLogged(path, info, request);
    if (!still)
        return still.failure();
    if (isVector(info)) {
        if (ImagePtr image = Image::createScalable(std::move(still->image), still->fullSize))
            return image;
        return damaged(info);
    }
    QImage bitmap = std::move(still->image);
    QSize fullSize = still->fullSize;
    if (shrink && box.isValid() && !bitmap.isNull()) {
        // A full decode of a format with no cheap reduced one, kept at the size it is shown.
        const QSize fitted = bitmap.size().scaled(box, Qt::KeepAspectRatio).expandedTo({1, 1});
        if (fitted.width() < bitmap.width()) {
            if (fullSize.isEmpty())
                fullSize = bitmap.size();
            bitmap = bitmap.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    if (ImagePtr image = Image::createLevel(std::move(bitmap), fullSize))
        return image;
    return damaged(info);
}

} // namespace

Result<QImage> decodeStill(const FilePath& path, const FormatInfo& format,
                           const DecodeRequest& request) {
    auto pixels = decodeLogged(path, format, request);
    if (!pixels)
        return pixels.failure();
    return std::move(pixels->image);
}

Result<ImagePtr> decodeImage(const FilePath& path, const DisplayProfile& target) {
    const auto format = sniffLogged(path);
    if (!format)
        return format.failure();
    if (ImagePtr animation = decodeAnimation(path, **format))
        return animation;
    return decodeWhole(path, **format, QSize(), false, target);
}

Result<ImagePtr> decodeLevel(const FilePath& path, QSize box, bool shrink,
                             const DisplayProfile& target) {
    const auto format = sniffLogged(path);
    if (!format)
        return format.failure();
    const FormatInfo& info = **format;
    if (ImagePtr animation = decodeAnimation(path, info))
        return animation;
    // The decode budget bounds a level or a tile here, not the whole picture: one too large to
    // decode whole is read by region when its format allows (a full decode still refuses it).
    // Asked for in full (a window opening at Actual Size), it is the same tiled picture, its
    // level sized for a large screen.
    auto regions = openRegionReaderFor(path, info, target, false);
    if (!regions) {
        qCDebug(lcImaging) << "cannot read" << displayPath(path)
                           << "by region:" << reasonName(regions.reason())
                           << regions.failure().message;
        return regions.failure();
    }
    if (*regions)
        return tiledLevel(*regions, box.isValid() ? box : kTiledLevelBox, shrink);
    return decodeWhole(path, info, box, shrink, target);
}

ImagePtr decodeEmbeddedPreview(const FilePath& path, QSize box, const DisplayProfile& target) {
    if (!box.isValid())
        return nullptr;
    const auto format = sniffFormat(path);
    if (!format || (*format)->decoder != DecoderKind::libheif)
        return nullptr;
    try {
        auto pixels = decodeHeifThumbnail(path);
        if (!pixels)
            return nullptr;
        // Converted at its own small size; the canvas stretches it over the picture's.
        QImage image = toDisplay(std::move(pixels->image), pixels->iccProfile, target);
        return image.isNull() ? nullptr : Image::createLevel(std::move(image), pixels->fullSize);
    } catch (...) {
        return nullptr; // the decode that follows reports what is wrong with the file
    }
}

bool hasCheapLevel(const FormatInfo& format) {
    return format.thumbnail != ThumbnailPath::fullAndScale;
}

} // namespace kivo
