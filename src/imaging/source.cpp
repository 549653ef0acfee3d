#include "source.h"

#include "contenttype.h"

#include <QFile>
#include <QImageReader>

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
    QImageReader reader(displayPath(path_));
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace kivo
