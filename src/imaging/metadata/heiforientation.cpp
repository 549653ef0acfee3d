// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/metadata/heiforientation.h"

#include "imaging/bytes/bytereader.h"

#include <QIODevice>
#include <array>
#include <optional>
#include <vector>

namespace kivo {

namespace {

// The 1-based property indices associated with the item, in their stored order.
std::vector<int> associations(QByteArrayView ipma, std::uint32_t itemId) {
    ByteReader in(ipma);
    const int version = in.u8();
    in.skip(2);
    const bool wideIndex = in.u8() & 1;
    const std::uint32_t entries = in.u32();
    const int idBytes = version < 1 ? 2 : 4;
    for (std::uint32_t e = 0; e < entries && in.ok(); ++e) {
        const std::uint64_t id = in.read(idBytes);
        const int count = in.u8();
        if (id != itemId || !in.ok()) {
            in.skip(qsizetype(count) * (wideIndex ? 2 : 1));
            continue;
        }
        std::vector<int> indices;
        for (int i = 0; i < count; ++i)
            indices.push_back(wideIndex ? in.u16() & 0x7fff : in.u8() & 0x7f);
        return in.ok() ? indices : std::vector<int>{};
    }
    return {};
}

// A transform of the picture as a 2x2 integer matrix on pixel coordinates (y pointing down),
// mapping stored positions to shown ones.
using Matrix = std::array<int, 4>;

Matrix multiply(const Matrix& a, const Matrix& b) {
    return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
            a[2] * b[1] + a[3] * b[3]};
}

constexpr std::array<Matrix, 8> kOrientations = {{
    {1, 0, 0, 1},   // 1: as stored
    {-1, 0, 0, 1},  // 2: mirrored left to right
    {-1, 0, 0, -1}, // 3: turned half way
    {1, 0, 0, -1},  // 4: mirrored top to bottom
    {0, 1, 1, 0},   // 5: transposed
    {0, -1, 1, 0},  // 6: turned clockwise
    {0, -1, -1, 0}, // 7: transversed
    {0, 1, -1, 0},  // 8: turned anticlockwise
}};

} // namespace

int heifItemOrientation(QByteArrayView file, std::uint32_t itemId) {
    const auto meta = childBox(file, fourcc("meta"));
    if (!meta || meta->size() < 4)
        return 1;
    const auto iprp = childBox(meta->sliced(4), fourcc("iprp")); // after the full-box header
    if (!iprp)
        return 1;
    const auto ipco = childBox(*iprp, fourcc("ipco"));
    const auto ipma = childBox(*iprp, fourcc("ipma"));
    if (!ipco || !ipma)
        return 1;
    const std::vector<Box> properties = childBoxes(*ipco);
    Matrix shown = kOrientations[0];
    for (const int index : associations(*ipma, itemId)) {
        if (index < 1 || std::size_t(index) > properties.size())
            continue;
        const Box& property = properties[std::size_t(index) - 1];
        if (property.payload.isEmpty())
            continue;
        const int value = std::uint8_t(property.payload[0]);
        if (property.type == fourcc("irot")) {
            const Matrix anticlockwise = kOrientations[7];
            for (int turns = value & 3; turns > 0; --turns)
                shown = multiply(anticlockwise, shown);
        } else if (property.type == fourcc("imir")) {
            // libheif (1.15, both its writer and its decoder) swaps left and right for axis 1
            // and top and bottom for axis 0. The pixels we hand on are libheif's, so the
            // orientation reported must follow its reading, not the box's letter.
            shown = multiply((value & 1) ? kOrientations[1] : kOrientations[3], shown);
        }
    }
    for (std::size_t i = 0; i < kOrientations.size(); ++i)
        if (kOrientations[i] == shown)
            return int(i) + 1;
    return 1;
}

QByteArray readHeifMetaBox(QIODevice& device) {
    // Item properties are small; a larger 'meta' is not one a viewer needs to honour.
    constexpr std::uint64_t kLargestMeta = 16 << 20;
    const std::uint64_t total = std::uint64_t(device.size());
    std::uint64_t pos = 0;
    for (int boxes = 0; boxes < 1000 && total - pos >= 8; ++boxes) {
        if (!device.seek(qint64(pos)))
            return {};
        const auto header = readBoxHeader(device.read(16), total - pos);
        if (!header)
            return {};
        const std::uint64_t size = header->size;
        if (header->type == fourcc("meta")) {
            if (size > kLargestMeta || !device.seek(qint64(pos)))
                return {};
            return device.read(qint64(size));
        }
        pos += size;
    }
    return {};
}

} // namespace kivo
