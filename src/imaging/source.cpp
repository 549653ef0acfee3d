// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/source.h"

#include "imaging/bytes/contenttype.h"
#include "imaging/codecs/decodecore.h"

namespace kivo {

ImageSource::ImageSource(FilePath path, const FormatInfo& format)
    : path_(std::move(path))
    , format_(&format) {}

Result<ImageSource> ImageSource::open(const FilePath& path) {
    const auto format = sniffFormat(path);
    if (!format)
        return format.failure();
    return ImageSource(path, **format);
}

Result<QImage> ImageSource::storedImage() const {
    DecodeRequest request;
    request.upright = false;
    request.toSrgb = false;
    return decodeStill(path_, *format_, request);
}

} // namespace kivo
