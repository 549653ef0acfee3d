// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/bytes/bytereader.h"

#include <map>

namespace kivo {

namespace {

std::uint64_t decode(QByteArrayView data, qsizetype at, int bytes, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | std::uint8_t(data[at + (bigEndian ? i : bytes - 1 - i)]);
    return value;
}

bool fits(QByteArrayView data, qsizetype at, qsizetype length) {
    return at >= 0 && length >= 0 && at <= data.size() - length;
}

} // namespace

bool ByteReader::seek(qsizetype pos) {
    if (!ok_ || pos < 0 || pos > data_.size())
        return ok_ = false;
    pos_ = pos;
    return true;
}

std::uint64_t ByteReader::read(int bytes) {
    if (!ok_ || bytes < 1 || bytes > 8 || remaining() < bytes) {
        ok_ = false;
        return 0;
    }
    const std::uint64_t value = decode(data_, pos_, bytes, bigEndian_);
    pos_ += bytes;
    return value;
}

QByteArrayView ByteReader::take(std::uint64_t length) {
    if (!ok_ || length > std::uint64_t(remaining())) {
        ok_ = false;
        return {};
    }
    const QByteArrayView part = data_.sliced(pos_, qsizetype(length));
    pos_ += qsizetype(length);
    return part;
}

std::optional<std::uint64_t> ByteReader::peek(qsizetype at, int bytes) const {
    if (bytes < 1 || bytes > 8 || !fits(data_, at, bytes))
        return std::nullopt;
    return decode(data_, at, bytes, bigEndian_);
}

void appendUnsigned(QByteArray& out, std::uint64_t value, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = bigEndian ? (bytes - 1 - i) * 8 : i * 8;
        out.append(char((value >> shift) & 0xFF));
    }
}

// --- JPEG ---------------------------------------------------------------------------------------

JpegSegments::JpegSegments(QByteArrayView file)
    : data_(file)
    , done_(file.size() < 2 || std::uint8_t(file[0]) != 0xFF || std::uint8_t(file[1]) != 0xD8) {}

std::optional<JpegSegment> JpegSegments::next() {
    ByteReader in(data_);
    while (!done_ && in.seek(pos_) && in.remaining() >= 4) {
        if (in.u8() != 0xFF)
            break;
        const std::uint8_t marker = in.u8();
        if (marker == 0xFF) { // fill byte
            ++pos_;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {
            end_ = pos_;
            break;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos_ += 2;
            continue;
        }
        const std::uint16_t length = in.u16();
        const QByteArrayView payload = in.take(length >= 2 ? length - 2 : ~0ULL);
        if (!in.ok())
            break;
        const JpegSegment segment{marker, pos_, payload};
        pos_ = in.pos();
        return segment;
    }
    done_ = true;
    return std::nullopt;
}

namespace {

bool isFrameHeader(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<JpegFrame> readFrame(const JpegSegment& segment) {
    ByteReader in(segment.payload);
    JpegFrame frame;
    frame.precision = in.u8();
    frame.height = in.u16();
    frame.width = in.u16();
    frame.components = in.u8();
    const std::uint8_t m = segment.marker;
    frame.progressive = m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE;
    return in.ok() ? std::optional(frame) : std::nullopt;
}

} // namespace

JpegHeader readJpegHeader(QByteArrayView file) {
    static constexpr QByteArrayView iccName("ICC_PROFILE\0", 12);
    JpegHeader header;
    bool sawExif = false;
    std::map<int, QByteArrayView> iccChunks; // by sequence number, 1-based
    int iccCount = 0;
    JpegSegments segments(file);
    while (const auto segment = segments.next()) {
        const QByteArrayView body = segment->payload;
        if (isFrameHeader(segment->marker) && !header.frame) {
            header.frame = readFrame(*segment);
        } else if (segment->marker == 0xE1 && !sawExif && body.startsWith(kExifSegmentId)) {
            sawExif = true;
            header.exif = body.sliced(kExifSegmentId.size());
        } else if (segment->marker == 0xE2 && body.size() > 14 && body.startsWith(iccName)) {
            iccCount = std::uint8_t(body[13]);
            iccChunks.emplace(std::uint8_t(body[12]), body.sliced(14));
        } else if (segment->marker == 0xEE && body.startsWith("Adobe")) {
            header.adobe = true;
        }
    }
    header.headerEnd = segments.headerEnd();
    // A profile split over several segments counts only when every part is there.
    if (iccCount > 0 && int(iccChunks.size()) == iccCount && iccChunks.begin()->first == 1 &&
        iccChunks.rbegin()->first == iccCount)
        for (const auto& chunk : iccChunks)
            header.icc += chunk.second;
    return header;
}

// --- TIFF and EXIF ------------------------------------------------------------------------------

const TiffEntry* TiffDirectory::find(std::uint16_t tag) const {
    for (const TiffEntry& entry : entries)
        if (entry.tag == tag)
            return &entry;
    return nullptr;
}

std::optional<TiffReader> TiffReader::open(QByteArrayView tiff) {
    if (tiff.size() < 8 || (!tiff.startsWith("II") && !tiff.startsWith("MM")))
        return std::nullopt;
    const TiffReader reader(tiff, tiff[0] == 'M');
    // BigTIFF and the raw variants with other magic numbers are not walked.
    if (reader.read(2, 2) != 42)
        return std::nullopt;
    return reader;
}

std::uint32_t TiffReader::firstDirectory() const {
    return std::uint32_t(read(4, 4).value_or(0));
}

std::optional<std::uint64_t> TiffReader::read(qsizetype at, int bytes) const {
    return ByteReader(data_, bigEndian_).peek(at, bytes);
}

TiffDirectory TiffReader::directory(std::uint32_t offset) const {
    return offset <= data_.size() ? directory(data_.sliced(offset), offset) : TiffDirectory{};
}

TiffDirectory TiffReader::directory(QByteArrayView bytes, std::uint32_t offset) const {
    TiffDirectory dir;
    ByteReader in(bytes, bigEndian_);
    dir.declared = in.u16();
    if (!in.ok())
        return dir;
    dir.offset = offset;
    for (int i = 0; i < dir.declared && in.remaining() >= 12; ++i) {
        TiffEntry entry;
        entry.offset = qsizetype(offset) + in.pos();
        entry.tag = in.u16();
        entry.type = in.u16();
        entry.count = in.u32();
        entry.field = in.u32();
        dir.entries.push_back(entry);
    }
    return dir;
}

std::optional<QByteArrayView> TiffReader::values(const TiffEntry& entry) const {
    static constexpr int kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    if (entry.type == 0 || entry.type >= std::size(kTypeSize))
        return std::nullopt;
    const std::uint64_t length = std::uint64_t(entry.count) * std::uint64_t(kTypeSize[entry.type]);
    const std::uint64_t at = length <= 4 ? std::uint64_t(entry.offset + 8) : entry.field;
    if (at > std::uint64_t(data_.size()) || length > std::uint64_t(data_.size()) - at)
        return std::nullopt;
    return data_.sliced(qsizetype(at), qsizetype(length));
}

std::optional<std::uint32_t> TiffReader::number(const TiffEntry& entry) const {
    if (entry.count < 1 || (entry.type != kTiffShort && entry.type != 4))
        return std::nullopt;
    const auto value = read(entry.offset + 8, entry.type == kTiffShort ? 2 : 4);
    return value ? std::optional(std::uint32_t(*value)) : std::nullopt;
}

// --- ISO base media -----------------------------------------------------------------------------

std::optional<BoxHeader> readBoxHeader(QByteArrayView bytes, std::uint64_t available) {
    ByteReader in(bytes);
    BoxHeader header;
    header.size = in.u32();
    header.type = in.u32();
    if (header.size == 1) {
        header.size = in.u64();
        header.headerSize = 16;
    } else if (header.size == 0) {
        header.size = available;
    }
    if (!in.ok() || header.size < std::uint64_t(header.headerSize) || header.size > available)
        return std::nullopt;
    return header;
}

std::vector<Box> childBoxes(QByteArrayView data) {
    std::vector<Box> boxes;
    qsizetype pos = 0;
    while (const auto header = readBoxHeader(data.sliced(pos), std::uint64_t(data.size() - pos))) {
        boxes.push_back({header->type, data.sliced(pos + header->headerSize,
                                                   qsizetype(header->size) - header->headerSize)});
        pos += qsizetype(header->size);
    }
    return boxes;
}

std::optional<QByteArrayView> childBox(QByteArrayView data, std::uint32_t type) {
    for (const Box& box : childBoxes(data))
        if (box.type == type)
            return box.payload;
    return std::nullopt;
}

// --- PNG ----------------------------------------------------------------------------------------

std::vector<PngChunk> pngChunks(QByteArrayView file) {
    std::vector<PngChunk> chunks;
    ByteReader in(file);
    in.skip(8);
    while (in.remaining() >= 12) {
        const qsizetype at = in.pos();
        const std::uint64_t length = in.u32();
        const QByteArrayView type = in.take(4);
        in.take(length + 4);
        if (!in.ok())
            break;
        chunks.push_back({type, file.sliced(at, in.pos() - at)});
    }
    return chunks;
}

} // namespace kivo
