#include "heiforientation.h"

#include <QIODevice>
#include <array>
#include <optional>
#include <vector>

namespace kivo {

namespace {

struct Box {
    std::uint32_t type = 0;
    QByteArrayView payload;
};

constexpr std::uint32_t fourcc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint32_t(std::uint8_t(s[3]));
}

std::uint64_t readBig(QByteArrayView data, qsizetype at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | std::uint8_t(data[at + i]);
    return value;
}

// The boxes directly inside `data`; stops at the first one that does not fit.
std::vector<Box> children(QByteArrayView data) {
    std::vector<Box> boxes;
    qsizetype pos = 0;
    while (data.size() - pos >= 8) {
        std::uint64_t size = readBig(data, pos, 4);
        const auto type = std::uint32_t(readBig(data, pos + 4, 4));
        qsizetype header = 8;
        if (size == 1) {
            if (data.size() - pos < 16)
                break;
            size = readBig(data, pos + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = std::uint64_t(data.size() - pos);
        }
        if (size < std::uint64_t(header) || size > std::uint64_t(data.size() - pos))
            break;
        boxes.push_back({type, data.sliced(pos + header, qsizetype(size) - header)});
        pos += qsizetype(size);
    }
    return boxes;
}

std::optional<QByteArrayView> child(QByteArrayView data, std::uint32_t type) {
    for (const Box& box : children(data))
        if (box.type == type)
            return box.payload;
    return std::nullopt;
}

// The 1-based property indices associated with the item, in their stored order.
std::vector<int> associations(QByteArrayView ipma, std::uint32_t itemId) {
    if (ipma.size() < 8)
        return {};
    const int version = std::uint8_t(ipma[0]);
    const bool wideIndex = std::uint8_t(ipma[3]) & 1;
    const std::uint64_t entries = readBig(ipma, 4, 4);
    qsizetype pos = 8;
    const int idBytes = version < 1 ? 2 : 4;
    for (std::uint64_t e = 0; e < entries; ++e) {
        if (ipma.size() - pos < idBytes + 1)
            return {};
        const std::uint64_t id = readBig(ipma, pos, idBytes);
        const int count = std::uint8_t(ipma[pos + idBytes]);
        pos += idBytes + 1;
        const int indexBytes = wideIndex ? 2 : 1;
        if (ipma.size() - pos < qsizetype(count) * indexBytes)
            return {};
        if (id == itemId) {
            std::vector<int> indices;
            for (int i = 0; i < count; ++i) {
                const std::uint64_t raw =
                    readBig(ipma, pos + qsizetype(i) * indexBytes, indexBytes);
                indices.push_back(int(raw & (wideIndex ? 0x7fff : 0x7f)));
            }
            return indices;
        }
        pos += qsizetype(count) * indexBytes;
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
    const auto meta = child(file, fourcc("meta"));
    if (!meta || meta->size() < 4)
        return 1;
    const auto iprp = child(meta->sliced(4), fourcc("iprp")); // after the full-box header
    if (!iprp)
        return 1;
    const auto ipco = child(*iprp, fourcc("ipco"));
    const auto ipma = child(*iprp, fourcc("ipma"));
    if (!ipco || !ipma)
        return 1;
    const std::vector<Box> properties = children(*ipco);
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
        QByteArray header = device.read(16);
        if (header.size() < 8)
            return {};
        std::uint64_t size = readBig(header, 0, 4);
        const auto type = std::uint32_t(readBig(header, 4, 4));
        if (size == 1 && header.size() == 16)
            size = readBig(header, 8, 8);
        else if (size == 0)
            size = total - pos;
        if (size < 8 || size > total - pos)
            return {};
        if (type == fourcc("meta")) {
            if (size > kLargestMeta || !device.seek(qint64(pos)))
                return {};
            return device.read(qint64(size));
        }
        pos += size;
    }
    return {};
}

} // namespace kivo
