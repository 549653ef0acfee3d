#pragma once

#include "filepath.h"
#include "image.h"
#include "result.h"

namespace kivo {

// Decodes a file into the image the viewer shows: upright by the file's own orientation
// (EXIF tag, HEIF transforms, raw flip) and converted to sRGB, or the reason it cannot be
// shown. Never throws. Safe to call from several threads at once on different files.
Result<ImagePtr> decodeImage(const FilePath& path);

} // namespace kivo
