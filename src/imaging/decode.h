// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/formats.h"
#include "imaging/image.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/result.h"

namespace kivo {

// Decodes a file into the image the viewer shows: upright by the file's own orientation
// (EXIF tag, HEIF transforms, raw flip) and converted to the screen's colour space `target`
// (sRGB unless given), or the reason it cannot be shown. Never throws. Safe to call from several
// threads at once on different files.
Result<ImagePtr> decodeImage(const FilePath& path, const DisplayProfile& target = {});

// The picture as a level for a screen: the cheapest decode that still fills `box` (device
// pixels) when fitted in it, with the full size the file declares as its size(). JPEG decodes
// at a reduced DCT scale, a still WebP at its final size, a raw file from its embedded preview;
// the other formats decode in full and, when `shrink` is set, are scaled down to the box (a
// preloaded neighbour then holds what it shows). An invalid box decodes the full picture,
// except one too large to hold whole (see regions.h): that is always a tiled picture.
// A vector picture (SVG) is a scalable Image rendered to fill the box: without `shrink` also
// beyond its intrinsic size, which is how a view zoomed in gets it sharp.
Result<ImagePtr> decodeLevel(const FilePath& path, QSize box, bool shrink,
                             const DisplayProfile& target = {});

// A small picture the file carries beside its own (a HEIF thumbnail item of the same aspect),
// upright and converted for `target`, as a level of the full picture: something to show at once
// while the level for `box` decodes. Null when the file has none or `box` is invalid.
ImagePtr decodeEmbeddedPreview(const FilePath& path, QSize box, const DisplayProfile& target = {});

// Whether a format's screen-sized level costs much less than its full picture.
bool hasCheapLevel(const FormatInfo& format);

} // namespace kivo
