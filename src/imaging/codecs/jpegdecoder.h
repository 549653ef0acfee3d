// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <optional>

namespace kivo {

// A JPEG decoded straight through TurboJPEG into a huge-page buffer. Qt's plugin runs the same
// libjpeg-turbo underneath but pays for a freshly malloc'd buffer and a generic scanline loop;
// going direct is several times faster on large photos and keeps what we need of the markers.
struct JpegPixels {
    QImage image;        // RGB32 or Grayscale8, stored orientation; CMYK is already sRGB
    QByteArray icc;      // embedded profile (empty when none, or already applied for CMYK)
    int orientation = 1; // EXIF orientation tag
    QSize fullSize;      // the size the file declares, stored orientation
};

struct JpegDecodeOptions {
    // > 0: use the smallest DCT scale (1/8 to 1) whose longer side is still at least this many
    // pixels, so a thumbnail never decodes more than eight times its own size.
    int minLongSide = 0;
    // Valid: use the smallest DCT scale whose picture, turned upright, still fills this box
    // when fitted in it (the screen-sized level of a photo). Overrides minLongSide.
    QSize fitBox;
    // The faster, slightly less exact integer DCT: good enough for thumbnails, not for display.
    bool fastDct = false;
};

std::optional<JpegPixels> decodeJpeg(QByteArrayView data, const JpegDecodeOptions& options = {});

} // namespace kivo
