// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/qtdecoder.h"

#include "imaging/codecs/decodecore.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/iccprofile.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/source.h"
#include "imaging/tasks/cancellation.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <cstdlib>

namespace kivo {

namespace {

// A file that gives no more bytes once the decode reading it is cancelled: Qt's readers cannot be
// interrupted otherwise, and a large PNG takes a second to read.
class CancellableFile : public QFile {
protected:
    qint64 readData(char* data, qint64 maxSize) override {
        return CancelScope::requested() ? -1 : QFile::readData(data, maxSize);
    }
};

// An icon file holds several sizes; the viewer shows the largest.
void jumpToLargestIcon(QImageReader& reader) {
    int best = 0;
    qint64 bestArea = -1;
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
        const QSize size = reader.size();
        if (qint64(size.width()) * size.height() > bestArea) {
            bestArea = qint64(size.width()) * size.height();
            best = i;
        }
    }
    reader.jumpToImage(best);
}

// Pages beyond this are not looked at for a reduced one: a pyramid has a handful of levels, and
// a long document's pages are no pyramid.
constexpr int kMostPagesLookedAt = 32;

// Whether `page` is `full` reduced by some factor, to within the rounding of each side.
bool sameShape(QSize page, QSize full) {
    const qint64 skew = qint64(page.width()) * full.height() - qint64(page.height()) * full.width();
    return std::abs(skew) <= std::max(full.width(), full.height());
}

} // namespace

std::optional<DecodedPixels> decodeReducedTiffPage(const FilePath& path,
                                                   const DecodeRequest& request) {
    CancellableFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    applyQtAllocationLimit();
    QImageReader reader(&file, "tiff");
    const int pages = reader.imageCount();
    const QSize full = reader.size();
    if (pages < 2 || pages > kMostPagesLookedAt || full.isEmpty())
        return std::nullopt;
    const bool turned =
        request.upright && (reader.transformation() & QImageIOHandler::TransformationRotate90);
    const int wanted = request.fitBox.isValid()
                           ? longSideToFill(full, turned ? 6 : 1, request.fitBox)
                           : request.maxPixelSize;
    int best = 0;
    QSize bestSize = full;
    for (int page = 1; page < pages && reader.jumpToImage(page); ++page) {
        const QSize size = reader.size();
        if (size.isEmpty() || size.width() >= bestSize.width() || !sameShape(size, full) ||
            std::max(size.width(), size.height()) < wanted)
            continue;
        best = page;
        bestSize = size;
    }
    if (best == 0 || !reader.jumpToImage(best) || !fitsDecodeBudget(bestSize, 8))
        return std::nullopt;
    reader.setAutoTransform(request.upright);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    DecodedPixels pixels;
    if (!image.colorSpace().isValid())
        pixels.iccProfile = embeddedIccProfile(path, formatInfo(ImageFormat::tiff));
    pixels.image = std::move(image);
    pixels.fullSize = turned ? full.transposed() : full;
    return pixels;
}

int chunkExifOrientation(const FilePath& path) {
    const auto source = ImageSource::open(path);
    const auto properties = source ? source->properties() : source.failure();
    if (!properties)
        return 1;
    bool ok = false;
    const int orientation = properties->value(prop::Orientation).toInt(&ok);
    return ok && orientation >= 1 && orientation <= 8 ? orientation : 1;
}

Result<DecodedPixels> decodeWithQt(const FilePath& path, const FormatInfo& format, bool upright) {
    if (format.qtFormat.isEmpty())
        return Failure{FailureReason::unsupported, QStringLiteral("no Qt plugin reads it")};
    CancellableFile file;
    Failure why;
    if (!openForReading(file, path, &why))
        return why;
    applyQtAllocationLimit();
    QImageReader reader(&file, QByteArray(format.qtFormat.data(), format.qtFormat.size()));
    reader.setAutoTransform(upright);
    const bool icon = format.format == ImageFormat::ico;
    if (icon)
        jumpToLargestIcon(reader);
    const QSize size = reader.size();
    const QImage::Format pixelFormat = reader.imageFormat();
    QImage image;
    if (size.isValid()) {
        const int depth = pixelFormat != QImage::Format_Invalid
                              ? QImage::toPixelFormat(pixelFormat).bitsPerPixel()
                              : 32;
        if (!fitsDecodeBudget(size, std::max(1, depth / 8)))
            return Failure{FailureReason::tooLarge,
                           QStringLiteral("%1x%2 pixels").arg(size.width()).arg(size.height())};
        // The PNG and TIFF handlers fill a bitmap of the right size and format in place, so it
        // can come from the huge-page allocator; others simply replace it.
        if (pixelFormat != QImage::Format_Invalid && !icon)
            image = allocateImage(size, pixelFormat);
    }
    if (!reader.read(&image) || image.isNull()) {
        if (reader.error() == QImageReader::UnsupportedFormatError)
            return Failure{FailureReason::unsupported, reader.errorString()};
        return Failure{FailureReason::damaged, reader.errorString()};
    }
    if (upright && format.exifChunkOrientation)
        image = applyOrientation(image, chunkExifOrientation(path));
    DecodedPixels pixels;
    if (!image.colorSpace().isValid())
        pixels.iccProfile = embeddedIccProfile(path, format);
    pixels.image = std::move(image);
    return pixels;
}

} // namespace kivo
