#include "source.h"

#include <QImageReader>

namespace kivo {

std::optional<QImage> ImageSource::thumbnail(int maxPixelSize) const {
    QImageReader reader(displayPath(path_));
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    if (std::max(image.width(), image.height()) > maxPixelSize)
        image =
            image.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace kivo
