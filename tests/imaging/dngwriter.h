// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writes small, valid DNG files: a Bayer (RGGB) mosaic sampled from a picture, uncompressed,
// optionally with a JPEG preview in IFD 0 and the raw in a sub-IFD, the way cameras and
// converters lay them out. Used by the raw tests and the codec benchmark.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace kivo::test {

struct DngContent {
    QImage picture;                   // the scene; its size is the sensor size (even sides)
    int orientation = 1;              // EXIF orientation of the file
    QImage preview;                   // stored as an embedded JPEG when not null
    bool uncompressedPreview = false; // RGB samples instead of a JPEG
};

namespace tiff {

struct Entry {
    std::uint16_t tag;
    std::uint16_t type; // 1 byte, 2 ascii, 3 short, 4 long, 10 srational
    std::uint32_t count;
    QByteArray data; // little-endian value bytes
};

inline void putLE(QByteArray& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xff);
}

// An entry of `type` (1 byte, 3 short, 4 long) holding `values`.
inline Entry entry(std::uint16_t tag, std::uint16_t type, std::vector<std::uint32_t> values) {
    QByteArray d;
    for (auto v : values)
        putLE(d, v, type == 1 ? 1 : type == 3 ? 2 : 4);
    return {tag, type, std::uint32_t(values.size()), d};
}

inline Entry ascii(std::uint16_t tag, const char* text) {
    QByteArray d(text);
    d += '\0';
    return {tag, 2, std::uint32_t(d.size()), d};
}

inline Entry srationals(std::uint16_t tag, std::vector<double> values) {
    QByteArray d;
    for (double v : values) {
        putLE(d, std::uint32_t(std::int32_t(v * 10000)), 4);
        putLE(d, 10000, 4);
    }
    return {tag, 10, std::uint32_t(values.size()), d};
}

// Appends an IFD (entries sorted, values that do not fit inline placed after it) linking to the
// IFD at `next` (0: none) and returns its offset.
inline std::uint32_t appendIfd(QByteArray& file, std::vector<Entry> entries,
                               std::uint32_t next = 0) {
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.tag < b.tag; });
    if (file.size() % 2)
        file += '\0';
    const auto offset = std::uint32_t(file.size());
    std::uint32_t extra = offset + 2 + std::uint32_t(entries.size()) * 12 + 4;
    QByteArray ifd, outOfLine;
    putLE(ifd, entries.size(), 2);
    for (const Entry& e : entries) {
        putLE(ifd, e.tag, 2);
        putLE(ifd, e.type, 2);
        putLE(ifd, e.count, 4);
        if (e.data.size() <= 4) {
            ifd += e.data + QByteArray(4 - e.data.size(), '\0');
        } else {
            putLE(ifd, extra + std::uint32_t(outOfLine.size()), 4);
            outOfLine += e.data;
            if (outOfLine.size() % 2)
                outOfLine += '\0';
        }
    }
    putLE(ifd, next, 4);
    file += ifd + outOfLine;
    return offset;
}

inline QByteArray withFirstIfd(QByteArray file, std::uint32_t offset) {
    QByteArray le;
    putLE(le, offset, 4);
    file.replace(4, 4, le);
    return file;
}

} // namespace tiff

// The bytes of a DNG file holding `dng`.
inline QByteArray makeDng(const DngContent& dng) {
    using namespace tiff;
    const QImage scene = dng.picture.convertToFormat(QImage::Format_RGB888);
    const int width = scene.width() & ~1, height = scene.height() & ~1;
    QByteArray file("II*\0\0\0\0\0", 8);

    // The mosaic: red, green / green, blue; 12-bit samples in 16-bit words.
    const auto rawOffset = std::uint32_t(file.size());
    file.reserve(file.size() + qsizetype(width) * height * 2 + 4096);
    for (int y = 0; y < height; ++y) {
        const uchar* line = scene.constScanLine(y);
        for (int x = 0; x < width; ++x) {
            const int channel = (y % 2) + (x % 2); // 0 red, 1 green, 2 blue
            putLE(file, std::uint32_t(line[x * 3 + channel]) * 4095 / 255, 2);
        }
    }
    const std::vector<Entry> rawTags = {
        entry(254, 4, {0}),
        entry(256, 4, {std::uint32_t(width)}),
        entry(257, 4, {std::uint32_t(height)}),
        entry(258, 3, {16}),
        entry(259, 3, {1}),
        entry(262, 3, {32803}), // colour filter array
        entry(273, 4, {rawOffset}),
        entry(277, 3, {1}),
        entry(278, 4, {std::uint32_t(height)}),
        entry(279, 4, {std::uint32_t(width * height * 2)}),
        entry(284, 3, {1}),
        entry(33421, 3, {2, 2}),
        entry(33422, 1, {0, 1, 1, 2}),
        entry(50717, 3, {4095}), // white level
    };
    // The camera sees linear sRGB: its XYZ-to-camera matrix is sRGB's.
    std::vector<Entry> mainTags = {
        ascii(271, "Kivo"),
        ascii(272, "Test Sensor"),
        entry(274, 3, {std::uint16_t(dng.orientation)}),
        entry(50706, 1, {1, 4, 0, 0}),
        entry(50707, 1, {1, 1, 0, 0}),
        ascii(50708, "Kivo Test Sensor"),
        srationals(50721,
                   {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570}),
        srationals(50728, {1, 1, 1}),
        entry(50778, 3, {21}),
    };
    if (dng.preview.isNull()) {
        mainTags.insert(mainTags.end(), rawTags.begin(), rawTags.end());
        const std::uint32_t ifd0 = appendIfd(file, mainTags);
        return withFirstIfd(file, ifd0);
    }
    QByteArray jpeg;
    const QImage preview = dng.preview.convertToFormat(QImage::Format_RGB888);
    if (dng.uncompressedPreview) {
        for (int y = 0; y < preview.height(); ++y)
            jpeg += QByteArrayView(preview.constScanLine(y), preview.width() * 3);
    } else {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        preview.save(&buffer, "JPEG", 85);
    }
    if (file.size() % 2)
        file += '\0';
    const auto jpegOffset = std::uint32_t(file.size());
    file += jpeg;
    const std::uint32_t rawIfd = appendIfd(file, rawTags);
    mainTags.insert(mainTags.end(),
                    {entry(254, 4, {1}), // a reduced-resolution copy
                     entry(256, 4, {std::uint32_t(dng.preview.width())}),
                     entry(257, 4, {std::uint32_t(dng.preview.height())}), entry(258, 3, {8, 8, 8}),
                     entry(259, 3, {std::uint16_t(dng.uncompressedPreview ? 1 : 7)}),
                     entry(262, 3, {std::uint16_t(dng.uncompressedPreview ? 2 : 6)}),
                     entry(273, 4, {jpegOffset}), entry(277, 3, {3}),
                     entry(278, 4, {std::uint32_t(dng.preview.height())}),
                     entry(279, 4, {std::uint32_t(jpeg.size())}), entry(330, 4, {rawIfd})});
    const std::uint32_t ifd0 = appendIfd(file, mainTags);
    return withFirstIfd(file, ifd0);
}

} // namespace kivo::test
