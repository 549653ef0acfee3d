#include "qtdecoder.h"

#include "contenttype.h"
#include "decodecore.h"
#include "iccprofile.h"
#include "pixelbuffer.h"

#include <QColorSpace>
#include <QImageReader>

namespace kivo {

namespace {

QByteArray qtFormat(const QString& contentType) {
    if (contentType == ctype::Png)
        return "png";
    if (contentType == ctype::Gif)
        return "gif";
    if (contentType == ctype::Bmp)
        return "bmp";
    if (contentType == ctype::Ico)
        return "ico";
    if (contentType == ctype::Tiff)
        return "tiff";
    if (contentType == ctype::WebP)
        return "webp";
    if (contentType == ctype::Jpeg)
        return "jpeg";
    return {};
}

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

} // namespace

std::optional<DecodedPixels> decodeWithQt(const FilePath& path, const QString& contentType,
                                          bool upright) {
    const QByteArray format = qtFormat(contentType);
    QFile file;
    if (format.isEmpty() || !openForReading(file, path))
        return std::nullopt;
    applyQtAllocationLimit();
    QImageReader reader(&file, format);
    reader.setAutoTransform(upright);
    if (contentType == ctype::Ico)
        jumpToLargestIcon(reader);
    const QSize size = reader.size();
    const QImage::Format pixelFormat = reader.imageFormat();
    QImage image;
    if (size.isValid()) {
        const int depth = pixelFormat != QImage::Format_Invalid
                              ? QImage::toPixelFormat(pixelFormat).bitsPerPixel()
                              : 32;
        if (!fitsDecodeBudget(size, std::max(1, depth / 8)))
            return std::nullopt;
        // The PNG and TIFF handlers fill a bitmap of the right size and format in place, so it
        // can come from the huge-page allocator; others simply replace it.
        if (pixelFormat != QImage::Format_Invalid && contentType != ctype::Ico)
            image = allocateImage(size, pixelFormat);
    }
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    DecodedPixels pixels;
    if (!image.colorSpace().isValid())
        pixels.iccProfile = embeddedIccProfile(path, contentType);
    pixels.image = std::move(image);
    return pixels;
}

} // namespace kivo
