// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// JPEG XL through libjxl: the bare codestream and the ISO BMFF container alike. The codestream
// header states the orientation, which wins over any Exif box, since that is what libjxl turns
// the pixels by.

#include "imaging/codecs/animation.h"
#include "imaging/codecs/codecs.h"
#include "imaging/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <optional>

namespace kivo {

// Image 0 (for an animation, its first frame), upright unless asked otherwise, or why not:
// tooLarge is told before anything is allocated for the pixels. Always the full picture: libjxl
// 0.7 renders even a frame's DC pass at full size, which costs as much as the whole decode.
Result<DecodedPixels> decodeJxl(QByteArrayView data, bool upright = true);

// What the codestream header states; profileName is the embedded ICC profile's or the encoded
// colour space's name.
std::optional<PixelInfo> probeJxl(QByteArrayView head);

// The TIFF structure of the file's Exif box, decompressed when it is stored Brotli-compressed
// (as cjxl keeps a JPEG's Exif), which exiv2 cannot read; empty when there is none.
QByteArray jxlExifBox(QByteArrayView data);

// Whether the header announces an animation (read from the first bytes only).
bool jxlIsAnimated(QByteArrayView head);

// The frames of an animated JPEG XL, composed by libjxl.
std::unique_ptr<FrameSource> openJxlFrames(QByteArray data);

} // namespace kivo
