// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>

namespace kivo {

// Where a file keeps its orientation, found by walking its bytes rather than by a metadata
// library, so that changing it can overwrite exactly those bytes and leave everything else of
// the file where it was: image data, maker notes and every other tag.
struct OrientationLocation {
    // The 2-byte value of the IFD0 orientation entry (0x0112, SHORT, count 1) and its byte order.
    std::optional<qsizetype> exifValueOffset;
    bool bigEndian = false;
    // The digits of an XMP tiff:Orientation value (attribute or element form).
    std::optional<qsizetype> xmpValueOffset;
    qsizetype xmpValueLength = 0;
};

// The IFD0 orientation entry of a TIFF structure (a TIFF file or the body of an Exif block)
// starting at `tiffStart` of `bytes`. None when the structure is malformed or has no such entry.
std::optional<OrientationLocation> findTiffOrientation(const QByteArray& bytes,
                                                       qsizetype tiffStart);

// The orientation entries of a JPEG: the IFD0 entry of its first Exif APP1 segment and the
// tiff:Orientation value of its XMP APP1 segment, each when present. None when the file is not
// a well-formed JPEG up to its first scan.
std::optional<OrientationLocation> findJpegOrientation(const QByteArray& bytes);

// Reads the 2-byte orientation value found by `findTiffOrientation`/`findJpegOrientation`.
std::uint16_t readExifOrientation(const QByteArray& bytes, const OrientationLocation& where);

// Overwrites the located values with `orientation` (1 to 8). Returns false, changing nothing,
// when the XMP value is not a single digit (its text would change length).
bool patchOrientation(QByteArray& bytes, const OrientationLocation& where,
                      std::uint16_t orientation);

// A copy of the TIFF structure `tiff` (a TIFF file or the body of an Exif block) whose IFD0
// holds an orientation entry it lacked. The new IFD0 is appended at the end and the header
// pointed at it, so every offset in the structure stays valid and nothing else moves. None when
// IFD0 cannot be walked or already has the entry.
std::optional<QByteArray> withAddedTiffOrientation(const QByteArray& tiff,
                                                   std::uint16_t orientation);

// The same for the Exif block of a JPEG; none when it has none or the segment would overflow.
std::optional<QByteArray> withAddedJpegOrientation(const QByteArray& jpeg,
                                                   std::uint16_t orientation);

// Offset of the first start-of-scan marker of a JPEG, where its compressed image data begins.
std::optional<qsizetype> jpegScanOffset(const QByteArray& bytes);

} // namespace kivo
