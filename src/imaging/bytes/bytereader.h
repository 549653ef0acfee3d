// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one place where the containers' bytes are read: a bounds-checked cursor, JPEG marker
// segments, TIFF/EXIF directories and ISO base media boxes. Every read is checked against the
// data it was given, so a truncated or hostile file ends a walk early instead of reading past it.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <optional>
#include <vector>

namespace kivo {

// Reads that never step outside the data; after the first short read every further read fails
// too (returning 0 or an empty view), so a parser can check `ok()` once at the end of a block.
class ByteReader {
public:
    explicit ByteReader(QByteArrayView data, bool bigEndian = true)
        : data_(data)
        , bigEndian_(bigEndian) {}

    bool ok() const { return ok_; }
    bool bigEndian() const { return bigEndian_; }
    QByteArrayView data() const { return data_; }
    qsizetype pos() const { return pos_; }
    qsizetype remaining() const { return ok_ ? data_.size() - pos_ : 0; }

    // Moves the cursor to `pos`; outside the data the reader fails.
    bool seek(qsizetype pos);
    bool skip(qsizetype count) { return seek(pos_ + count); }

    std::uint64_t read(int bytes); // 1 to 8 bytes in the reader's byte order
    std::uint8_t u8() { return std::uint8_t(read(1)); }
    std::uint16_t u16() { return std::uint16_t(read(2)); }
    std::uint32_t u32() { return std::uint32_t(read(4)); }
    std::uint64_t u64() { return read(8); }
    QByteArrayView take(std::uint64_t length);

    // A read at an absolute offset that leaves the cursor and its state alone.
    std::optional<std::uint64_t> peek(qsizetype at, int bytes) const;

private:
    QByteArrayView data_;
    qsizetype pos_ = 0;
    bool bigEndian_ = true;
    bool ok_ = true;
};

// `bytes` bytes (1 to 8) of `value`, appended in the given byte order.
void appendUnsigned(QByteArray& out, std::uint64_t value, int bytes, bool bigEndian);

// --- JPEG ---------------------------------------------------------------------------------------

struct JpegSegment {
    std::uint8_t marker = 0;
    qsizetype offset = 0;   // of the segment's 0xFF byte
    QByteArrayView payload; // what follows the length field
};

// What opens the payload of an Exif APP1 segment, before its TIFF structure.
inline constexpr QByteArrayView kExifSegmentId("Exif\0\0", 6);

// Walks a JPEG's marker segments, from after the start-of-image marker up to the first scan.
// Fill bytes and the markers that carry no length (RSTn, TEM) are passed over.
class JpegSegments {
public:
    explicit JpegSegments(QByteArrayView file);

    // The next segment; none at the end of the header or where it is malformed.
    std::optional<JpegSegment> next();
    // After the walk: where the header ended (the offset of the start-of-scan or end-of-image
    // marker); none when it is malformed or runs past the end of the data.
    std::optional<qsizetype> headerEnd() const { return end_; }

private:
    QByteArrayView data_;
    qsizetype pos_ = 2;
    bool done_ = false;
    std::optional<qsizetype> end_;
};

// The frame header (SOFn) of a JPEG.
struct JpegFrame {
    int precision = 8;
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
};

// What the segments before the first scan hold that the codec's own header reader does not
// report.
struct JpegHeader {
    std::optional<JpegFrame> frame; // the first frame header
    QByteArrayView exif;            // the TIFF structure of the first Exif APP1 segment
    QByteArray icc;                 // the ICC profile, when every one of its APP2 chunks is there
    bool adobe = false;             // an Adobe APP14 segment: CMYK is stored inverted
    std::optional<qsizetype> headerEnd; // as JpegSegments::headerEnd
};

JpegHeader readJpegHeader(QByteArrayView file);

// --- TIFF and EXIF ------------------------------------------------------------------------------

struct TiffEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    qsizetype offset = 0;    // of the 12-byte entry, from the start of the TIFF structure
    std::uint32_t field = 0; // the 4-byte value field: the values, or where they are
};

struct TiffDirectory {
    qsizetype offset = -1; // of the entry count; -1 when the directory is not inside the data
    int declared = 0;      // how many entries the count states
    std::vector<TiffEntry> entries; // those that lie wholly inside the data, in stored order

    bool complete() const { return offset >= 0 && qsizetype(entries.size()) == declared; }
    const TiffEntry* find(std::uint16_t tag) const;
};

// A classic TIFF structure ("II*\0" or "MM\0*"), as in TIFF files, camera raws and EXIF blocks.
class TiffReader {
public:
    static std::optional<TiffReader> open(QByteArrayView tiff);

    bool bigEndian() const { return bigEndian_; }
    QByteArrayView data() const { return data_; }
    std::uint32_t firstDirectory() const;
    std::optional<std::uint64_t> read(qsizetype at, int bytes) const;

    TiffDirectory directory(std::uint32_t offset) const;
    // The same for a directory read on its own: `bytes` are those of the structure from `offset`
    // on (for a reader opened on the 8-byte header of a file too large to read whole).
    TiffDirectory directory(QByteArrayView bytes, std::uint32_t offset) const;
    // The bytes of an entry's values: inside the entry when they fit in four bytes, else where
    // the entry points. None for an unknown type or values outside the data.
    std::optional<QByteArrayView> values(const TiffEntry& entry) const;
    // The first value of a SHORT or LONG entry.
    std::optional<std::uint32_t> number(const TiffEntry& entry) const;

private:
    TiffReader(QByteArrayView data, bool bigEndian)
        : data_(data)
        , bigEndian_(bigEndian) {}

    QByteArrayView data_;
    bool bigEndian_ = false;
};

constexpr std::uint16_t kTiffOrientationTag = 0x0112;
constexpr std::uint16_t kTiffShort = 3;

// --- ISO base media (HEIF, AVIF, CR3) -----------------------------------------------------------

constexpr std::uint32_t fourcc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint32_t(std::uint8_t(s[3]));
}

struct BoxHeader {
    std::uint32_t type = 0;
    std::uint64_t size = 0; // the whole box, header included
    int headerSize = 8;
};

// The header of the box at the start of `bytes`, of which `available` bytes remain in its
// container (a box of size 0 runs to the container's end). None when it does not fit.
std::optional<BoxHeader> readBoxHeader(QByteArrayView bytes, std::uint64_t available);

struct Box {
    std::uint32_t type = 0;
    QByteArrayView payload;
};

// The boxes directly inside `data`; stops at the first one that does not fit.
std::vector<Box> childBoxes(QByteArrayView data);
std::optional<QByteArrayView> childBox(QByteArrayView data, std::uint32_t type);

// --- PNG ----------------------------------------------------------------------------------------

struct PngChunk {
    QByteArrayView type;
    QByteArrayView whole; // length, type, data and CRC
};

// The chunks of a PNG file after its signature; stops at the first one that does not fit.
std::vector<PngChunk> pngChunks(QByteArrayView file);

} // namespace kivo
