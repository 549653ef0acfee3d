#include "orientationpatch.h"

namespace kivo {

namespace {

constexpr std::uint16_t orientationTag = 0x0112;
constexpr std::uint16_t typeShort = 3;

struct TiffReader {
    const QByteArray& bytes;
    qsizetype start;
    bool bigEndian;

    bool has(qsizetype offset, qsizetype length) const {
        return offset >= 0 && length >= 0 && start + offset <= bytes.size() - length;
    }
    std::uint32_t u16(qsizetype offset) const {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + start + offset);
        return bigEndian ? (std::uint32_t(p[0]) << 8) | p[1] : (std::uint32_t(p[1]) << 8) | p[0];
    }
    std::uint32_t u32(qsizetype offset) const {
        return bigEndian ? (u16(offset) << 16) | u16(offset + 2)
                         : (u16(offset + 2) << 16) | u16(offset);
    }
};

std::uint32_t bigEndian16(const QByteArray& bytes, qsizetype offset) {
    return (std::uint32_t(static_cast<unsigned char>(bytes[offset])) << 8) |
           static_cast<unsigned char>(bytes[offset + 1]);
}

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

void appendUnsigned(QByteArray& out, std::uint32_t value, int bytes, bool big) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = big ? (bytes - 1 - i) * 8 : i * 8;
        out.append(static_cast<char>((value >> shift) & 0xFF));
    }
}

// Walks a JPEG's marker segments up to its first scan. `visit(marker, at, length)` sees each
// segment (`at` is its 0xFF byte, `length` its length field, already checked to lie inside the
// file) and stops the walk by returning true. Returns the offset of the marker that ended the
// header (start of scan, or end of image); none when the header is malformed, runs past the end
// of the file, or the walk was stopped.
template <typename Visit>
std::optional<qsizetype> walkJpegSegments(const QByteArray& bytes, Visit visit) {
    qsizetype p = 2;
    while (p + 4 <= bytes.size()) {
        if (static_cast<unsigned char>(bytes[p]) != 0xFF)
            return std::nullopt;
        const auto marker = static_cast<unsigned char>(bytes[p + 1]);
        if (marker == 0xFF) { // fill byte
            ++p;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return p;
        const qsizetype length = bigEndian16(bytes, p + 2);
        if (length < 2 || p + 2 + length > bytes.size() || visit(marker, p, length))
            return std::nullopt;
        p += 2 + length;
    }
    return std::nullopt;
}

// The body of the first Exif APP1 segment: [begin, end) of its TIFF structure.
std::optional<std::pair<qsizetype, qsizetype>> findJpegExifTiff(const QByteArray& bytes) {
    static const QByteArray exifHeader("Exif\0\0", 6);
    std::optional<std::pair<qsizetype, qsizetype>> found;
    walkJpegSegments(bytes, [&](unsigned char marker, qsizetype at, qsizetype length) {
        if (marker == 0xE1 && bytes.mid(at + 4, 6) == exifHeader)
            found = std::make_pair(at + 10, at + 2 + length);
        return found.has_value();
    });
    return found;
}

} // namespace

std::optional<QByteArray> withAddedTiffOrientation(const QByteArray& tiff,
                                                   std::uint16_t orientation) {
    if (tiff.size() < 8 || findTiffOrientation(tiff, 0))
        return std::nullopt;
    const bool big = tiff.startsWith("MM");
    if (!big && !tiff.startsWith("II"))
        return std::nullopt;
    const TiffReader reader{tiff, 0, big};
    if (reader.u16(2) != 42)
        return std::nullopt;
    const qsizetype ifd = reader.u32(4);
    if (!reader.has(ifd, 2))
        return std::nullopt;
    const qsizetype count = reader.u16(ifd);
    if (count >= 0xFFFF || !reader.has(ifd + 2, count * 12 + 4))
        return std::nullopt;
    for (qsizetype i = 0; i < count; ++i)
        if (reader.u16(ifd + 2 + i * 12) == orientationTag)
            return std::nullopt; // present, but not as one SHORT: not ours to reinterpret

    QByteArray out = tiff;
    if (out.size() % 2 != 0)
        out.append('\0'); // an IFD starts on a word boundary
    const qsizetype newIfd = out.size();
    if (newIfd > 0xFFFFFFF0LL - (count + 1) * 12)
        return std::nullopt;
    appendUnsigned(out, static_cast<std::uint32_t>(count + 1), 2, big);
    bool inserted = false;
    for (qsizetype i = 0; i <= count; ++i) {
        const qsizetype entry = ifd + 2 + i * 12;
        // Entries stay in ascending tag order, the new one before the first higher tag.
        if (!inserted && (i == count || reader.u16(entry) > orientationTag)) {
            appendUnsigned(out, orientationTag, 2, big);
            appendUnsigned(out, typeShort, 2, big);
            appendUnsigned(out, 1, 4, big);
            appendUnsigned(out, orientation, 2, big);
            appendUnsigned(out, 0, 2, big);
            inserted = true;
        }
        if (i < count)
            out.append(tiff.constData() + entry, 12);
    }
    out.append(tiff.constData() + ifd + 2 + count * 12, 4); // the next IFD, unchanged
    QByteArray header;
    appendUnsigned(header, static_cast<std::uint32_t>(newIfd), 4, big);
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
    out.append("Exif\0\0", 6);
    out.append(*tiff);
    out.append(QByteArrayView(jpeg).sliced(end));
    return out;
}

std::optional<OrientationLocation> findTiffOrientation(const QByteArray& bytes,
                                                       qsizetype tiffStart) {
    if (tiffStart < 0 || tiffStart > bytes.size() - 8)
        return std::nullopt;
    bool big = false;
    if (bytes.mid(tiffStart, 2) == "MM")
        big = true;
    else if (bytes.mid(tiffStart, 2) != "II")
        return std::nullopt;
    const TiffReader tiff{bytes, tiffStart, big};
    if (tiff.u16(2) != 42) // BigTIFF and the raw variants with other magic numbers are not walked
        return std::nullopt;
    const qsizetype ifd = tiff.u32(4);
    if (!tiff.has(ifd, 2))
        return std::nullopt;
    const qsizetype count = tiff.u16(ifd);
    if (!tiff.has(ifd + 2, count * 12))
        return std::nullopt;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype entry = ifd + 2 + i * 12;
        if (tiff.u16(entry) != orientationTag)
            continue;
        if (tiff.u16(entry + 2) != typeShort || tiff.u32(entry + 4) != 1)
            return std::nullopt;
        OrientationLocation where;
        where.exifValueOffset = tiffStart + entry + 8;
        where.bigEndian = big;
        return where;
    }
    return std::nullopt;
}

std::optional<OrientationLocation> findJpegOrientation(const QByteArray& bytes) {
    static const QByteArray exifHeader("Exif\0\0", 6);
    static const QByteArray xmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xD8)
        return std::nullopt;
    OrientationLocation found;
    bool seenExif = false;
    bool seenXmp = false;
    const auto headerEnd =
        walkJpegSegments(bytes, [&](unsigned char marker, qsizetype at, qsizetype length) {
            const qsizetype body = at + 4;
            const qsizetype end = at + 2 + length;
            if (marker == 0xE1 && !seenExif && bytes.mid(body, 6) == exifHeader) {
                seenExif = true;
                // An Exif block without the tag is left for the metadata library to extend.
                if (auto tiff = findTiffOrientation(bytes.left(end), body + 6)) {
                    found.exifValueOffset = tiff->exifValueOffset;
                    found.bigEndian = tiff->bigEndian;
                }
            } else if (marker == 0xE1 && !seenXmp && bytes.mid(body, 29) == xmpHeader) {
                seenXmp = true;
                if (auto value = findXmpValue(bytes, body + 29, end)) {
                    found.xmpValueOffset = value->first;
                    found.xmpValueLength = value->second;
                }
            }
            return false;
        });
    if (!headerEnd)
        return std::nullopt;
    return found;
}

std::uint16_t readExifOrientation(const QByteArray& bytes, const OrientationLocation& where) {
    if (!where.exifValueOffset)
        return 0;
    const TiffReader reader{bytes, *where.exifValueOffset, where.bigEndian};
    return static_cast<std::uint16_t>(reader.u16(0));
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
    const auto end =
        walkJpegSegments(bytes, [](unsigned char, qsizetype, qsizetype) { return false; });
    if (!end || static_cast<unsigned char>(bytes[*end + 1]) != 0xDA)
        return std::nullopt;
    return end;
}

} // namespace kivo
