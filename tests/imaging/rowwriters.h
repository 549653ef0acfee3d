// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// JPEG and PNG encoders fed one row at a time, for pictures too large to hold as one bitmap
// (the tests and benchmarks of huge pictures) and for what Qt's writers cannot set (a JPEG's
// restart interval).

#include <QFile>
#include <QSize>
#include <QString>
#include <cstdio>
#include <functional>
#include <jpeglib.h>
#include <spng.h>

namespace kivo::test {

// Row y of a picture as 8-bit RGB, width × 3 bytes, valid until the next call.
using RgbRow = std::function<const uchar*(int y)>;

// Through libjpeg, with a restart marker every `restartRows` MCU rows (0: none).
inline bool writeJpegRows(const QString& path, QSize size, const RgbRow& row, int quality = 92,
                          int restartRows = 0) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.restart_in_rows = restartRows;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW samples = const_cast<uchar*>(row(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &samples, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

// Through libspng's progressive encoder, at fast compression.
inline bool writePngRows(const QString& path, QSize size, const RgbRow& row) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_png_file(ctx, file);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1);
    spng_ihdr header{};
    header.width = quint32(size.width());
    header.height = quint32(size.height());
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &header);
    bool ok = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                                SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) == 0;
    for (int y = 0; y < size.height() && ok; ++y) {
        const int error = spng_encode_row(ctx, row(y), size_t(size.width()) * 3);
        ok = error == 0 || (error == SPNG_EOI && y == size.height() - 1);
    }
    spng_ctx_free(ctx);
    return std::fclose(file) == 0 && ok;
}

} // namespace kivo::test
