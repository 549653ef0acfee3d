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
#include <QSize>
#include <memory>
#include <optional>

namespace kivo {

struct JxlRequest {
    bool upright = true; // turned by the codestream's orientation
    // > 0 or a valid box: a reduced picture is enough. A VarDCT frame then stops at its DC pass
    // (1/8 of each side) when that still fills the box or covers the long side, and says the
    // full size in DecodedPixels::fullSize.
    int minLongSide = 0;
    QSize fitBox;
};

// Image 0 (for an animation, its first frame), or why not: tooLarge is told before anything is
// allocated for the pixels.
Result<DecodedPixels> decodeJxl(QByteArrayView data, const JxlRequest& request);

// What the codestream header states; profileName is the embedded ICC profile's or the encoded
// colour space's name.
std::optional<PixelInfo> probeJxl(QByteArrayView head);

// Whether the header announces an animation (read from the first bytes only).
bool jxlIsAnimated(QByteArrayView head);

// The frames of an animated JPEG XL, composed by libjxl.
std::unique_ptr<FrameSource> openJxlFrames(QByteArray data);

} // namespace kivo
