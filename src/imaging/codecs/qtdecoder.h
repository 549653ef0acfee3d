// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/codecs/codecs.h"
#include "imaging/filepath.h"
#include "imaging/formats.h"
#include "imaging/result.h"

#include <QString>
#include <optional>

namespace kivo {

// Image 0 of a PNG, GIF, BMP, ICO, TIFF or WebP file through Qt's image plugins, at its stored
// precision. `upright` applies the file's orientation: TIFF's through Qt, PNG's and WebP's EXIF
// tag through chunkExifOrientation. The profile is the image's
// QColorSpace when Qt could read it, otherwise the raw bytes are handed back for lcms2.
// The size is checked against the decode budget before any pixel is allocated.
Result<DecodedPixels> decodeWithQt(const FilePath& path, const FormatInfo& format, bool upright);

// The EXIF orientation of a PNG or WebP file (eXIf / EXIF chunk), which Qt's readers ignore but
// browsers and other viewers honour, and which a rotation save writes pixels against. 1 when the
// file has none.
int chunkExifOrientation(const FilePath& path);

struct DecodeRequest;

// A reduced page of a pyramid or multi-page TIFF that is enough for `request` (a level's box
// or a thumbnail's size): the smallest page of the first page's shape that still fills it,
// with the first page's size as the full size. Nothing when the file has no such page, and the
// first page is decoded as usual.
std::optional<DecodedPixels> decodeReducedTiffPage(const FilePath& path,
                                                   const DecodeRequest& request);

} // namespace kivo
