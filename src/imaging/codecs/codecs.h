// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The decoders outside Qt's image plugins: libheif (HEIC, HEIF, AVIF), LibRaw (camera raw) and
// our own PSD reader. Each reports failure as an empty optional and never throws.

#include "imaging/filepath.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace kivo {

// What a file declares about its first image without decoding it.
struct PixelInfo {
    QSize size;         // stored pixel size, before any orientation is applied
    int depth = 8;      // bits per component
    QString colorModel; // "RGB", "Gray", "CMYK", "Lab"
    bool hasAlpha = false;
    int orientation = 1; // 1 to 8, the container's own (HEIF transforms, raw flip)
    QString profileName; // where the codec states the colour space itself (JPEG XL)
};

// Decoded pixels, upright, still in the file's colour space: either tagged on the image
// (QImage::colorSpace) or given as an ICC profile; neither means sRGB.
struct DecodedPixels {
    QImage image;
    QByteArray iccProfile;
    // Upright, the size the file declares when the image is a reduced decode of it; empty when
    // the image is the full picture.
    QSize fullSize = {};
};

// maxPixelSize > 0 asks for a reduced decode whose longer side is at least that large where the
// codec can do it cheaply (a smaller embedded preview, a half-size demosaic); 0 asks for full size.
// HEIF always decodes its primary image: an embedded thumbnail item can be stale after an edit.
std::optional<DecodedPixels> decodeHeif(const FilePath& path, int maxPixelSize = 0);
std::optional<PixelInfo> probeHeif(const FilePath& path);
// The primary image's thumbnail item, upright, with the primary's size as fullSize: what shows
// while the primary decodes. None when the file has none, or when its aspect differs from the
// primary's (a thumbnail left stale by an edit).
std::optional<DecodedPixels> decodeHeifThumbnail(const FilePath& path);

// A valid `fitBox` asks for the cheapest picture that fills that box when fitted in it: the
// embedded preview when it is large enough, else a half-size or full demosaic; fullSize then
// tells the sensor's upright size. Without either, the full demosaic, refused before anything
// is allocated when it would not fit the decode budget.
std::optional<DecodedPixels> decodeRaw(const FilePath& path, int maxPixelSize = 0,
                                       QSize fitBox = {});
std::optional<PixelInfo> probeRaw(const FilePath& path);

std::optional<DecodedPixels> decodePsd(const FilePath& path);
std::optional<PixelInfo> probePsd(const FilePath& path);

} // namespace kivo
