// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/decodecore.h"
#include "imaging/source.h"

namespace kivo {

// Always decoded from the image data itself: an embedded EXIF preview may predate an edit or a
// rotation of the file. How each format gets there cheaply is its ThumbnailPath: JPEG at the
// smallest DCT scale that still covers the size asked for (1/8 of a 24 MP photo is well under a
// megapixel), WebP at its final size and raw from its embedded preview, so a thumbnail of a
// large photo takes a few MB, not the full bitmap. HEIF decodes its primary image, since its
// thumbnail item may be as stale as an EXIF preview.
Result<QImage> ImageSource::thumbnail(int maxPixelSize, const DisplayProfile& target) const {
    if (maxPixelSize <= 0)
        return Failure{FailureReason::unsupported, QStringLiteral("no thumbnail size given")};
    DecodeRequest request;
    request.maxPixelSize = maxPixelSize;
    request.target = target;
    return decodeStill(path_, *format_, request);
}

} // namespace kivo
