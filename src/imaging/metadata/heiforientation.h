// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// HEIF keeps an image's rotation and mirroring in item properties ('irot', 'imir') that a
// decoder applies, not in the EXIF orientation tag. libheif applies them but does not say which
// it applied, so this reads them from the container to report the orientation they amount to.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>

class QIODevice;

namespace kivo {

// The EXIF orientation (1 to 8) equivalent to the transforms associated with `itemId`, applied
// in their stored order; 1 when there are none or the boxes cannot be read.
int heifItemOrientation(QByteArrayView file, std::uint32_t itemId);

// The top-level 'meta' box of a HEIF file, whole (header included), found by walking the box
// headers; empty when there is none or it is implausibly large.
QByteArray readHeifMetaBox(QIODevice& device);

} // namespace kivo
