#pragma once

#include "filepath.h"

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace kivo {

// Type identifiers of the image formats the viewer knows, sniffed from a file's first bytes.
namespace ctype {
inline const QString Jpeg = QStringLiteral("public.jpeg");
inline const QString Png = QStringLiteral("public.png");
inline const QString Gif = QStringLiteral("com.compuserve.gif");
inline const QString Bmp = QStringLiteral("com.microsoft.bmp");
inline const QString Ico = QStringLiteral("com.microsoft.ico");
inline const QString Tiff = QStringLiteral("public.tiff");
inline const QString Heic = QStringLiteral("public.heic");
inline const QString Heif = QStringLiteral("public.heif");
inline const QString Avif = QStringLiteral("public.avif");
inline const QString WebP = QStringLiteral("org.webmproject.webp");
inline const QString Psd = QStringLiteral("com.adobe.photoshop-image");
inline const QString CameraRaw = QStringLiteral("public.camera-raw-image");
inline const QString Cr2 = QStringLiteral("com.canon.cr2-raw-image");
inline const QString Nef = QStringLiteral("com.nikon.nef-raw-image");
inline const QString Arw = QStringLiteral("com.sony.arw-raw-image");
inline const QString Dng = QStringLiteral("com.adobe.raw-image");
inline const QString Orf = QStringLiteral("com.olympus.orf-raw-image");
inline const QString Rw2 = QStringLiteral("com.panasonic.rw2-raw-image");
inline const QString Cr3 = QStringLiteral("com.canon.cr3-raw-image");
inline const QString Raf = QStringLiteral("com.fuji.raw-image");
inline const QString Pef = QStringLiteral("com.pentax.raw-image");
inline const QString Image = QStringLiteral("public.image");
} // namespace ctype

// The content type of a file, from its bytes (the extension only breaks ties between formats
// that share a container, such as the TIFF-based raw formats). None when it is no known image.
std::optional<QString> sniffContentType(const FilePath& path);

// The same from a file's first bytes (64 KiB are plenty) and its name's extension.
std::optional<QString> sniffContentType(QByteArrayView head, const QString& extension);

// Whether `type` is `parent` or one of its descendants (every raw type conforms to
// public.camera-raw-image, and every image type to public.image).
bool conformsTo(const QString& type, const QString& parent);

} // namespace kivo
