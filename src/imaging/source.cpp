#include "source.h"

#include "contenttype.h"
#include "decodecore.h"

namespace kivo {

ImageSource::ImageSource(FilePath path, QString contentType)
    : path_(std::move(path))
    , contentType_(std::move(contentType)) {}

std::optional<ImageSource> ImageSource::open(const FilePath& path) {
    auto type = sniffContentType(path);
    if (!type)
        return std::nullopt;
    return ImageSource(path, *type);
}

std::optional<QImage> ImageSource::storedImage() const {
    DecodeRequest request;
    request.upright = false;
    request.toSrgb = false;
    QImage image = decodeStill(path_, contentType_, request);
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace kivo
