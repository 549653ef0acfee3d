#pragma once

#include "filepath.h"
#include "image.h"

namespace kivo {

// Decodes a file into the image the viewer shows: upright by the file's own orientation
// (EXIF tag, HEIF transforms, raw flip) and converted to sRGB. Returns null when the file
// cannot be read or decoded. Safe to call from several threads at once on different files.
ImagePtr decodeImage(const FilePath& path);

} // namespace kivo
