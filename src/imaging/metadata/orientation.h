// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QImage>

namespace kivo {

// The orientation tag (1 to 8) of an EXIF block that starts with the TIFF header ("II*\0" or
// "MM\0*"); 1 when there is none or the block is malformed.
int exifOrientation(QByteArrayView tiff);

// The picture turned upright for an EXIF orientation: 2 to 4 mirror or turn it in place, 5 to 8
// also swap its width and height. 1 and unknown values return it unchanged. The result is a new
// bitmap (from allocateImage) in the same format and colour space.
QImage applyOrientation(const QImage& image, int orientation);

// The stored size of a picture whose upright size is known, and the other way round: the
// orientations 5 to 8 swap width and height.
inline QSize orientedSize(QSize size, int orientation) {
    return orientation >= 5 && orientation <= 8 ? size.transposed() : size;
}

// The longer side a reduced decode of a `stored`-size picture needs so that, turned upright by
// `orientation` and fitted in `box`, it is drawn without being enlarged: the stored longer side
// times the fit scale, rounded up, never more than the stored longer side.
int longSideToFill(QSize stored, int orientation, QSize box);

} // namespace kivo
