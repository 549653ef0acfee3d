// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/codecs/codecs.h"

#include <QByteArrayView>
#include <optional>

namespace kivo {

// A still WebP decoded by libwebp straight to a size whose longer side is `maxPixelSize`: its
// rescaler works row by row while decoding, so a thumbnail never holds the full-size picture.
// None for animations and anything libwebp refuses.
std::optional<DecodedPixels> decodeWebpScaled(QByteArrayView data, int maxPixelSize);

// The size a still WebP declares; none for animations and what libwebp cannot parse.
std::optional<QSize> webpStillSize(QByteArrayView data);

} // namespace kivo
