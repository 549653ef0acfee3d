#pragma once

// The decoding pipeline shared by decodeImage, ImageSource::storedImage and
// ImageSource::thumbnail: one dispatch per content type, then orientation and colour.

#include "filepath.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>
#include <optional>

namespace kivo {

struct DecodeRequest {
    // > 0: the longer side wanted; codecs that can decode at reduced size do, and the result is
    // scaled down to at most this. 0: full size.
    int maxPixelSize = 0;
    // Turn the pixels upright by the file's orientation (EXIF tag, HEIF transforms, raw flip).
    bool upright = true;
    // Convert to the sRGB display format; otherwise keep the file's colour space (tagged on
    // the image where Qt can describe it) and its precision.
    bool toSrgb = true;
};

// Image 0 of a file whose content type has been sniffed. Null when it cannot be decoded.
QImage decodeStill(const FilePath& path, const QString& contentType, const DecodeRequest& request);

// Opens a file by its native bytes, so names that are not valid UTF-8 still open.
bool openForReading(QFile& file, const FilePath& path);

// The whole file, or none when it cannot be read or exceeds `maxBytes`.
std::optional<QByteArray> readWholeFile(const FilePath& path, qint64 maxBytes);

} // namespace kivo
