// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/regions.h"

namespace kivo {

namespace {

// Above this a whole 32-bit bitmap would take more than 256 MB: the picture is read in tiles.
constexpr qint64 kLargestWholePixels = qint64(64) * 1000 * 1000;

} // namespace

bool needsTiles(QSize size) {
    return size.isValid() && qint64(size.width()) * size.height() > kLargestWholePixels;
}

Result<RegionReaderPtr> openRegionReader(const FilePath& path, const DisplayProfile& target) {
    Q_UNUSED(path);
    Q_UNUSED(target);
    return RegionReaderPtr();
}

} // namespace kivo
