// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/write/orientationpatch.h"

#include "imaging/bytes/bytereader.h"

namespace kivo {

namespace {

// The value of the first tiff:Orientation in an XMP packet: the digits after `="` (attribute)
// or after `>` (element).
std::optional<std::pair<qsizetype, qsizetype>> findXmpValue(const QByteArray& bytes, qsizetype from,
                                                            qsizetype end) {
    static const QByteArray name("tiff:Orientation");
    const qsizetype at = bytes.indexOf(name, from);
    if (at < 0 || at + name.size() >= end)
        return std::nullopt;
    qsizetype p = at + name.size();
    if (bytes[p] == '=') {
        ++p;
        if (p >= end || (bytes[p] != '"' && bytes[p] != '\''))
            return std::nullopt;
        ++p;
    } else if (bytes[p] == '>') {
        ++p;
    } else {
        return std::nullopt;
    }
    qsizetype digits = p;
    while (digits < end && bytes[digits] >= '0' && bytes[digits] <= '9')
        ++digits;
    if (digits == p)
        return std::nullopt;
    return std::make_pair(p, digits - p);
}

// The body of the first Exif APP1 segment: [begin, end) of its TIFF structure.
std::optional<std::pair<qsizetype, qsizetype>> findJpegExifTiff(const QByteArray& bytes) {
    JpegSegments segments(bytes);
    while (const auto segment = segments.next()) {
        if (segment->marker == 0xE1 && segment->payload.startsWith(kExifSegmentId)) {
            const qsizetype begin = segment->payload.data() - bytes.constData() + 6;
            return std::make_pair(begin, begin - 6 + segment->payload.size());
        }
    }
    return std::nullopt;
}

// IFD0 of a TIFF structure, when the whole directory lies inside it.
std::optional<TiffDirectory> firstDirectory(const TiffReader& tiff) {
    TiffDirectory ifd0 = tiff.directory(tiff.firstDirectory());
    return ifd0.complete() ? std::optional(std::move(ifd0)) : std::nullopt;
}

} // namespace

std::optional<QByteArray> withAddedTiffOrientation(const QByteArray& tiff,
                                                   std::uint16_t orientation) {
    const auto reader = TiffReader::open(tiff);
    const auto ifd0 = reader ? firstDirectory(*reader) : std::nullopt;
    if (!ifd0 || ifd0->declared >= 0xFFFF)
        return std::nullopt;
    const qsizetype count = ifd0->declared;
    const qsizetype nextPointer = ifd0->offset + 2 + count * 12;
    if (ifd0->find(kTiffOrientationTag) || !reader->read(nextPointer, 4))
        return std::nullopt; // present, but not as one SHORT: not ours to reinterpret
    const bool big = reader->bigEndian();

    QByteArray out = tiff;
    if (out.size() % 2 != 0)
        out.append('\0'); // an IFD starts on a word boundary
    const qsizetype newIfd = out.size();
    if (newIfd > 0xFFFFFFF0LL - (count + 1) * 12)
        return std::nullopt;
    appendUnsigned(out, std::uint32_t(count + 1), 2, big);
    bool inserted = false;
    for (qsizetype i = 0; i <= count; ++i) {
        // Entries stay in ascending tag order, the new one before the first higher tag.
        if (!inserted && (i == count || ifd0->entries[std::size_t(i)].tag > kTiffOrientationTag)) {
            appendUnsigned(out, kTiffOrientationTag, 2, big);
            appendUnsigned(out, kTiffShort, 2, big);
            appendUnsigned(out, 1, 4, big);
            appendUnsigned(out, orientation, 2, big);
            appendUnsigned(out, 0, 2, big);
            inserted = true;
        }
        if (i < count)
            out.append(tiff.constData() + ifd0->entries[std::size_t(i)].offset, 12);
    }
    out.append(tiff.constData() + nextPointer, 4); // the next IFD, unchanged
    QByteArray header;
    appendUnsigned(header, std::uint32_t(newIfd), 4, big);
    out.replace(4, 4, header);
    return out;
}

std::optional<QByteArray> withAddedJpegOrientation(const QByteArray& jpeg,
                                                   std::uint16_t orientation) {
    const auto exif = findJpegExifTiff(jpeg);
    if (!exif)
        return std::nullopt;
    const auto [begin, end] = *exif;
    const auto tiff = withAddedTiffOrientation(jpeg.mid(begin, end - begin), orientation);
    const qsizetype segmentLength = 2 + 6 + (tiff ? tiff->size() : 0);
    if (!tiff || segmentLength > 0xFFFF)
        return std::nullopt;
    QByteArray out = jpeg.left(begin - 8); // up to the segment's length field
    appendUnsigned(out, static_cast<std::uint32_t>(segmentLength), 2, true);
    out.append(kExifSegmentId);
    out.append(*tiff);
    out.append(QByteArrayView(jpeg).sliced(end));
    return out;
}

std::optional<OrientationLocation> findTiffOrientation(const QByteArray& bytes,
                                                       qsizetype tiffStart) {
    if (tiffStart < 0 || tiffStart > bytes.size())
        return std::nullopt;
    const auto reader = TiffReader::open(QByteArrayView(bytes).sliced(tiffStart));
    const auto ifd0 = reader ? firstDirectory(*reader) : std::nullopt;
    const TiffEntry* entry = ifd0 ? ifd0->find(kTiffOrientationTag) : nullptr;
    if (!entry || entry->type != kTiffShort || entry->count != 1)
        return std::nullopt;
    OrientationLocation where;
    where.exifValueOffset = tiffStart + entry->offset + 8;
    where.bigEndian = reader->bigEndian();
    return where;
}

std::optional<OrientationLocation> findJpegOrientation(const QByteArray& bytes) {
    static constexpr QByteArrayView xmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);
    OrientationLocation found;
    bool seenExif = false;
    bool seenXmp = false;
    JpegSegments segments(bytes);
    while (const auto segment = segments.next()) {
        const qsizetype body = segment->offset + 4;
        const qsizetype end = body + segment->payload.size();
        if (segment->marker != 0xE1)
            continue;
        if (!seenExif && segment->payload.startsWith(kExifSegmentId)) {
            seenExif = true;
            // An Exif block without the tag is left for the metadata library to extend.
            if (auto tiff = findTiffOrientation(bytes.left(end), body + 6)) {
                found.exifValueOffset = tiff->exifValueOffset;
                found.bigEndian = tiff->bigEndian;
            }
        } else if (!seenXmp && segment->payload.startsWith(xmpHeader)) {
            seenXmp = true;
            if (auto value = findXmpValue(bytes, body + 29, end)) {
                found.xmpValueOffset = value->first;
                found.xmpValueLength = value->second;
            }
        }
    }
    if (!segments.headerEnd())
        return std::nullopt;
    return found;
}

std::uint16_t readExifOrientation(const QByteArray& bytes, const OrientationLocation& where) {
    if (!where.exifValueOffset)
        return 0;
    const auto value = ByteReader(bytes, where.bigEndian).peek(*where.exifValueOffset, 2);
    return std::uint16_t(value.value_or(0));
}

bool patchOrientation(QByteArray& bytes, const OrientationLocation& where,
                      std::uint16_t orientation) {
    if (orientation < 1 || orientation > 8)
        return false;
    if (where.xmpValueOffset && where.xmpValueLength != 1)
        return false;
    if (where.exifValueOffset) {
        const qsizetype at = *where.exifValueOffset;
        bytes[at + (where.bigEndian ? 0 : 1)] = 0;
        bytes[at + (where.bigEndian ? 1 : 0)] = static_cast<char>(orientation);
    }
    if (where.xmpValueOffset)
        bytes[*where.xmpValueOffset] = static_cast<char>('0' + orientation);
    return true;
}

std::optional<qsizetype> jpegScanOffset(const QByteArray& bytes) {
    JpegSegments segments(bytes);
    while (segments.next()) {
    }
    const auto end = segments.headerEnd();
    if (!end || std::uint8_t(bytes[*end + 1]) != 0xDA)
        return std::nullopt;
    return end;
}

} // namespace kivo
