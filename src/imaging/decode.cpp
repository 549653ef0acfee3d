#include "decode.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>

namespace kivo {

ImagePtr decodeImage(const FilePath& path) {
    auto file = openForReading(path);
    if (!file)
        return nullptr;
    QImageReader reader(file.get());
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return nullptr;
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace::SRgb)
        image.convertToColorSpace(QColorSpace::SRgb);
    return Image::create(std::move(image));
}

} // namespace kivo
