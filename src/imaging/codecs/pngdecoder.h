// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/codecs/codecs.h"
#include "imaging/filepath.h"
#include "imaging/result.h"

#include <QSize>

namespace kivo {

struct PngDecodeOptions {
    // > 0: rows are scaled down as they arrive so that the longer stored side is at most this.
    int maxLongSide = 0;
    // Valid: rows are scaled down to the size that fills this box once the picture is turned
    // upright by `orientation`; the full picture is never held.
    QSize fitBox;
    int orientation = 1;
};

// A PNG decoded by libspng straight into a display bitmap (8-bit BGRA, premultiplied when the
// file has alpha or tRNS) or, for a 16-bit picture in a colour space other than sRGB, into a
// 64-bit one so the colour conversion keeps its precision. The colour space is tagged on the
// image as Qt's reader would (iCCP, then sRGB, then gAMA with cHRM); a profile QColorSpace cannot
// read is handed back for lcms2. The pixels keep their stored orientation.
// The declared size is checked against the decode budget before anything is allocated; a
// cancelled decode stops at its next group of rows. Fails `unsupported` when libspng refuses the
// file before its first row (Qt's reader, more lenient with ancillary chunks, may still read
// it), `damaged` when the image data is broken or cut short.
Result<DecodedPixels> decodePng(const FilePath& path, const PngDecodeOptions& options = {});

} // namespace kivo
