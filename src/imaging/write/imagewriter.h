// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/formats.h"
#include "imaging/result.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace kivo {

// Writing an image file turned by quarter turns, built in memory so that the file on disk is only
// ever replaced whole (see atomicreplace.h). Both ways refuse, with the reason, rather than
// produce a file that lost anything the original held. Nothing throws.

// The whole file, or why not: not a regular file, unreadable, too large to rewrite in memory.
Result<QByteArray> readFileForRewrite(const FilePath& path);

// The raw value of the file's orientation tag (IFD0 0x0112), none when it has none or cannot
// be read.
std::optional<std::int64_t> storedOrientation(const QByteArray& file, const FormatInfo& format);

// The same file with only its orientation set to `orientation` (1 to 8), in Exif and, where it
// has one, in XMP: the image data and every other metadata value stay as they were. Refused for
// a format whose RotationSupport is not tagPatch.
Result<QByteArray> copyWithOrientation(const QByteArray& file, const FormatInfo& format,
                                       std::uint16_t orientation);

// The file's stored pixels laid out exactly as the orientation tag `orientation` (1 to 8) shows
// them (1: as stored, for a tagged file turned back upright), written in the file's own format with
// its bit depth, alpha and colour profile and its Exif and XMP without the orientation, since the
// pixels then stand upright by themselves; lossy formats are written losslessly. None when no
// writer can do so without dropping what the file holds: several frames, pages or sizes, layers, a
// bit depth the writer cannot keep, or a format whose RotationSupport is not pixelRewrite.
Result<QByteArray> encodeWithOrientationApplied(const QByteArray& file, const FormatInfo& format,
                                                std::uint16_t orientation);

} // namespace kivo
