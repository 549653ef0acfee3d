#include "decode.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>

namespace kivo {

ImagePtr decodeImage(const FilePath& path) {
    QFile file(displayPath(path));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return nullptr;
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace::SRgb)
        image.convertToColorSpace(QColorSpace::SRgb);
    return Image::create(std::move(image));
}

} // namespace kivo
