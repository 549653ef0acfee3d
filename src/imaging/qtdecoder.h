#pragma once

#include "codecs.h"
#include "filepath.h"

#include <QString>
#include <optional>

namespace kivo {

// Image 0 of a PNG, GIF, BMP, ICO, TIFF or WebP file through Qt's image plugins, at its stored
// precision. `upright` applies the orientation Qt knows (TIFF). The profile is the image's
// QColorSpace when Qt could read it, otherwise the raw bytes are handed back for lcms2.
// The size is checked against the decode budget before any pixel is allocated.
std::optional<DecodedPixels> decodeWithQt(const FilePath& path, const QString& contentType,
                                          bool upright);

} // namespace kivo
