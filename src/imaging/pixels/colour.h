// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace kivo {

// The display format of a decoded picture: 8-bit BGRA words, premultiplied when the picture has
// alpha, opaque otherwise.
inline QImage::Format displayFormat(bool hasAlpha) {
    return hasAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
}

// Converts a picture to sRGB in its display format. Its colour space is `icc` when given, else
// the one tagged on the image, else sRGB. Qt's QColorSpace does the profiles it understands
// (matrix/TRC RGB); lcms2 does the rest (LUT-based and grey profiles). A 16-bit source stays at
// 16 bits through the transform and is only then reduced to 8. A profile neither can use leaves
// the pixels as they are. The result is tagged sRGB.
QImage toDisplaySrgb(QImage image, const QByteArray& icc = {});

// Converts 4-byte CMYK pixels (as libjpeg hands them over) to an opaque sRGB bitmap, through
// the embedded profile with lcms2 when there is one. `inverted` is Adobe's convention of storing
// 255 - ink, which JPEGs carrying the Adobe marker follow. Null when it cannot allocate.
QImage cmykToSrgb(const uchar* pixels, qsizetype bytesPerLine, QSize size, const QByteArray& icc,
                  bool inverted);

} // namespace kivo
