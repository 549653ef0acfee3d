// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reads the merged composite image of a Photoshop document (PSD and its large variant PSB) from
// bytes in memory. The file is untrusted: every size is checked against the bytes actually there
// and against a pixel budget before anything is allocated, so a hostile header costs nothing.

#include "imaging/codecs/codecs.h"

#include <QByteArrayView>
#include <cstdint>
#include <optional>

class QIODevice;

namespace kivo {

// Photoshop's colour mode numbers, as stored in the header.
enum class PsdColorMode : int {
    Bitmap = 0,
    Grayscale = 1,
    Indexed = 2,
    RGB = 3,
    CMYK = 4,
    Multichannel = 7,
    Duotone = 8,
    Lab = 9,
};

struct PsdHeader {
    bool isLargeDocument = false; // PSB: wider length fields, larger dimensions
    int channels = 0;
    int width = 0;
    int height = 0;
    int depth = 0; // bits per channel: 1, 8 or 16
    PsdColorMode colorMode = PsdColorMode::RGB;
};

// Above this many pixels a document is refused rather than decoded: a viewer has no use for
// it and the allocation alone could exhaust memory.
inline constexpr std::int64_t kPsdPixelBudget = std::int64_t(1) << 28;

// Reads from a Photoshop file only what the reader needs: the header, colour data and
// resources, the head of the layer section (the layers themselves are skipped, they can be
// most of the file) and, with `withPixels`, the merged image data. Every length is checked
// against the file's size before it is read.
std::optional<QByteArray> readPsdEssentials(QIODevice& device, bool withPixels);

// The header alone, validated (signature, version, dimensions, a supported mode and depth).
std::optional<PsdHeader> readPsdHeader(QByteArrayView data);

// What probePsd reports, without decoding pixels.
std::optional<PixelInfo> readPsdInfo(QByteArrayView data);

// The merged image, upright, in the document's colour space (an ICC profile when it carries
// one). CMYK documents come back already converted to RGB, through their profile when present.
std::optional<DecodedPixels> readPsd(QByteArrayView data);

} // namespace kivo
