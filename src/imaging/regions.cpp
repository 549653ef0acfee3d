// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/regions.h"

#include "imaging/bytes/contenttype.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/formats.h"

namespace kivo {

namespace {

// Above this a whole 32-bit bitmap would take more than 256 MB: the picture is read in tiles.
constexpr qint64 kLargestWholePixels = qint64(64) * 1000 * 1000;

} // namespace

bool needsTiles(QSize size) {
    return size.isValid() && qint64(size.width()) * size.height() > kLargestWholePixels;
}

Result<RegionReaderPtr> openRegionReaderAnySize(const FilePath& path, const DisplayProfile& target,
                                                bool anySize) {
    const auto format = sniffFormat(path);
    if (!format)
        return format.failure();
    return openRegionReaderFor(path, **format, target, anySize);
}

Result<RegionReaderPtr> openRegionReaderFor(const FilePath& path, const FormatInfo& format,
                                            const DisplayProfile& target, bool anySize) {
    switch (format.format) {
    case ImageFormat::jpeg:
        return openJpegRegions(path, target, anySize);
    case ImageFormat::tiff:
        return openTiffRegions(path, target, anySize);
    case ImageFormat::png:
        return openPngRegions(path, target, anySize);
    default:
        return RegionReaderPtr();
    }
}

Result<RegionReaderPtr> openRegionReader(const FilePath& path, const DisplayProfile& target) {
    return openRegionReaderAnySize(path, target, false);
}

} // namespace kivo
