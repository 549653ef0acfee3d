// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/psdreader.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QFile>

namespace kivo {

// The file is read, not mapped: a mapped file truncated by another program while we decode
// it would kill the process, and the layers, often most of the file, are skipped anyway.
std::optional<DecodedPixels> decodePsd(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    const auto bytes = readPsdEssentials(file, true);
    if (!bytes)
        return std::nullopt;
    // Refused before the planes are expanded into a bitmap.
    if (const auto info = readPsdInfo(*bytes); !info || !fitsDecodeBudget(info->size, 4))
        return std::nullopt;
    return readPsd(*bytes);
}

std::optional<PixelInfo> probePsd(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return std::nullopt;
    const auto bytes = readPsdEssentials(file, false);
    return bytes ? readPsdInfo(*bytes) : std::nullopt;
}

} // namespace kivo
