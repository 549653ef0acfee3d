// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// SVG through Qt SVG, after the checks of svgdocument.h. A vector picture has no pixels of its
// own: it is rendered at whatever size the request asks for, on a transparent background.

#include "imaging/codecs/codecs.h"
#include "imaging/codecs/decodecore.h"

namespace kivo {

// Rendered to fill the request's fitBox (beyond the intrinsic size only when it says `enlarge`,
// then shrunk to at most 64 megapixels and the decode budget), or with its longer side at
// maxPixelSize, or else at its intrinsic size. fullSize is always the intrinsic size.
Result<DecodedPixels> decodeSvg(const FilePath& path, const DecodeRequest& request);

// The intrinsic size, 8-bit RGB with alpha.
std::optional<PixelInfo> probeSvg(const FilePath& path);

} // namespace kivo
