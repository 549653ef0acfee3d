// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writes Photoshop documents byte by byte for the PSD reader's tests and fuzz seeds.

#include <QByteArray>
#include <vector>

namespace kivo::test {

// A minimal PSD/PSB writer: header, colour mode data, image resources, layer section and the
// merged image, planar, raw or PackBits.
struct PsdDocument {
    int mode = 3;
    int depth = 8;
    int width = 5;
    int height = 3;
    bool rle = false;
    bool large = false;
    QByteArray colorModeData;
    QByteArray resources;
    QByteArray layerSection;                  // the whole "layer and mask information" payload
    std::vector<std::vector<quint16>> planes; // one value per pixel, row-major

    void addResource(int id, const QByteArray& payload) {
        resources += QByteArray("8BIM");
        put(resources, id, 2);
        resources += QByteArray(2, '\0'); // empty name, padded
        put(resources, payload.size(), 4);
        resources += payload;
        if (payload.size() % 2)
            resources += '\0';
    }

    static void put(QByteArray& out, quint64 value, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out += char((value >> (8 * i)) & 0xff);
    }

    static QByteArray packBits(const QByteArray& row) {
        QByteArray out;
        int i = 0;
        while (i < row.size()) {
            int run = 1;
            while (i + run < row.size() && run < 128 && row[i + run] == row[i])
                ++run;
            if (run >= 3) {
                out += char(1 - run);
                out += row[i];
                i += run;
                continue;
            }
            int literal = 1;
            while (i + literal < row.size() && literal < 128 &&
                   !(i + literal + 2 < row.size() && row[i + literal] == row[i + literal + 1] &&
                     row[i + literal] == row[i + literal + 2]))
                ++literal;
            out += char(literal - 1);
            out += row.mid(i, literal);
            i += literal;
        }
        return out;
    }

    QByteArray row(int plane, int y) const {
        QByteArray out;
        if (depth == 1) {
            out.fill('\0', (width + 7) / 8);
            for (int x = 0; x < width; ++x)
                if (planes[plane][y * width + x])
                    out[x / 8] = char(out[x / 8] | (0x80 >> (x % 8)));
            return out;
        }
        for (int x = 0; x < width; ++x)
            put(out, planes[plane][y * width + x], depth / 8);
        return out;
    }

    QByteArray bytes() const {
        QByteArray out("8BPS");
        put(out, large ? 2 : 1, 2);
        out += QByteArray(6, '\0');
        put(out, planes.size(), 2);
        put(out, height, 4);
        put(out, width, 4);
        put(out, depth, 2);
        put(out, mode, 2);
        put(out, colorModeData.size(), 4);
        out += colorModeData;
        put(out, resources.size(), 4);
        out += resources;
        put(out, layerSection.size(), large ? 8 : 4);
        out += layerSection;
        put(out, rle ? 1 : 0, 2);
        QByteArray counts, data;
        for (std::size_t p = 0; p < planes.size(); ++p) {
            if (planes[p].empty()) // a header-only document
                continue;
            for (int y = 0; y < height; ++y) {
                const QByteArray stored = rle ? packBits(row(int(p), y)) : row(int(p), y);
                put(counts, stored.size(), large ? 4 : 2);
                data += stored;
            }
        }
        return rle ? out + counts + data : out + data;
    }
};

} // namespace kivo::test
