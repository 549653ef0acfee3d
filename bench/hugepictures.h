// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The gigapixel pictures the huge-picture benchmarks open, written a row at a time by the
// codecs' own encoders so that making them never holds a whole picture either.

#include "../tests/imaging/rowwriters.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <jpeglib.h>
#include <random>
#include <spng.h>
#include <tiffio.h>
#include <vector>
#include <zlib.h>

namespace kivo::bench {

// Gradients with noise on top, one row at a time: compresses like a photo.
class PhotoRows {
public:
    PhotoRows(int width, int height)
        : width_(width)
        , height_(height) {}
    const uchar* at(int y, int channels = 3) {
        row_.resize(size_t(width_) * channels);
        std::uniform_int_distribution<int> noise(-12, 12);
        for (int x = 0; x < width_; ++x) {
            uchar* p = &row_[size_t(x) * channels];
            const int check = ((x / 512 + y / 512) % 2) * 64;
            p[0] = uchar(std::clamp(255 * x / width_ + noise(random_), 0, 255));
            p[1] = uchar(std::clamp(255 * y / height_ + noise(random_), 0, 255));
            p[2] = uchar(std::clamp(96 + check + noise(random_), 0, 255));
        }
        return row_.data();
    }

private:
    int width_, height_;
    std::mt19937 random_{42};
    std::vector<uchar> row_;
};

inline bool writeJpeg(const QString& path, int width, int height, int restartRows) {
    PhotoRows rows(width, height);
    return test::writeJpegRows(
        path, QSize(width, height), [&](int y) { return rows.at(y); }, 90, restartRows);
}

inline bool writePng(const QString& path, int width, int height) {
    PhotoRows rows(width, height);
    return test::writePngRows(path, QSize(width, height), [&](int y) { return rows.at(y); });
}

// A tiled, deflated pyramid: the full page and its halvings down to under 2000 pixels, as
// reduced pages after it. The tiles are a few compressed variants written again and again, so
// the 4.8 GB picture takes seconds to make, not minutes, and stays a classic (not Big) TIFF.
inline bool writeTiff(const QString& path, int side) {
    constexpr int kTile = 256;
    std::vector<QByteArray> variants;
    for (int v = 0; v < 8; ++v) {
        // Smooth tiles, stored as horizontal differences (the predictor deflated TIFFs use).
        QByteArray raw(kTile * kTile * 3, Qt::Uninitialized);
        for (int y = 0; y < kTile; ++y) {
            auto* row = reinterpret_cast<uchar*>(raw.data()) + y * kTile * 3;
            for (int x = 0; x < kTile; ++x) {
                row[3 * x] = uchar(x / 2 + v * 16);
                row[3 * x + 1] = uchar(y / 2 + 40);
                row[3 * x + 2] = uchar((x + y) / 4 + v * 8);
            }
            for (int i = kTile * 3 - 1; i >= 3; --i)
                row[i] = uchar(row[i] - row[i - 3]);
        }
        uLongf size = compressBound(uLong(raw.size()));
        QByteArray packed(qsizetype(size), Qt::Uninitialized);
        compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                  reinterpret_cast<const Bytef*>(raw.constData()), uLong(raw.size()), 6);
        packed.truncate(qsizetype(size));
        variants.push_back(packed);
    }
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    bool ok = true;
    for (int page = 0, width = side; ok && (page == 0 || width * 2 >= 2000); ++page, width /= 2) {
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, page > 0 ? FILETYPE_REDUCEDIMAGE : 0);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(width));
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(width));
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTile);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTile);
        const quint32 tiles = TIFFNumberOfTiles(tiff);
        for (quint32 t = 0; t < tiles && ok; ++t) {
            QByteArray& data = variants[(t * 7 + t / 13) % variants.size()];
            ok = TIFFWriteRawTile(tiff, t, data.data(), data.size()) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return ok;
}

struct HugePicture {
    const char* name;
    std::function<bool(const QString&)> make;
};

// The four files, each a format family's way to random access (or its lack).
inline std::vector<HugePicture> hugePictures() {
    return {
        {"restart.jpg", [](const QString& p) { return writeJpeg(p, 30000, 20000, 1); }},
        {"plain.jpg", [](const QString& p) { return writeJpeg(p, 30000, 20000, 0); }},
        {"huge.png", [](const QString& p) { return writePng(p, 15000, 20000); }},
        {"pyramid.tif", [](const QString& p) { return writeTiff(p, 40000); }},
    };
}

} // namespace kivo::bench
