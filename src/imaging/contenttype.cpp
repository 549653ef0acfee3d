#include "contenttype.h"

#include <QFile>
#include <QImageReader>

namespace kivo {

std::optional<QString> sniffContentType(const FilePath& path) {
    QFile file(displayPath(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray format = QImageReader::imageFormat(&file);
    if (format == "jpeg")
        return ctype::Jpeg;
    if (format == "png")
        return ctype::Png;
    if (format == "gif")
        return ctype::Gif;
    if (format == "bmp")
        return ctype::Bmp;
    if (format == "ico")
        return ctype::Ico;
    if (format == "tiff")
        return ctype::Tiff;
    if (format == "webp")
        return ctype::WebP;
    return std::nullopt;
}

bool conformsTo(const QString& type, const QString& parent) {
    if (type == parent || parent == ctype::Image)
        return true;
    if (parent == ctype::CameraRaw)
        return type == ctype::Cr2 || type == ctype::Nef || type == ctype::Arw ||
               type == ctype::Dng || type == ctype::Orf || type == ctype::Rw2;
    return false;
}

} // namespace kivo
