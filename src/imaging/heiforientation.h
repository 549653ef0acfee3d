#pragma once

// HEIF keeps an image's rotation and mirroring in item properties ('irot', 'imir') that a
// decoder applies, not in the EXIF orientation tag. libheif applies them but does not say which
// it applied, so this reads them from the container to report the orientation they amount to.

#include <QByteArrayView>
#include <cstdint>

namespace kivo {

// The EXIF orientation (1 to 8) equivalent to the transforms associated with `itemId`, applied
// in their stored order; 1 when there are none or the boxes cannot be read.
int heifItemOrientation(QByteArrayView file, std::uint32_t itemId);

} // namespace kivo
