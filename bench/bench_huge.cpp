// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures too large to decode whole, read by region: a 30000x20000 JPEG with restart markers and
// one without, a 15000x20000 PNG and a tiled 40000x40000 pyramid TIFF, made here into a
// temporary folder. For each: the screen-sized level (against `vipsthumbnail -s 1600`), a
// 1600x1000 rectangle at 100 % in the centre and one a screen to its right (against `vips crop`
// of the same rectangle), and the peak RSS after each, every one in a process of its own.
//
//   build/release/bench/bench_huge [folder to keep the files in]
#include "imaging/decode.h"
#include "imaging/regions.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <functional>
#include <jpeglib.h>
#include <random>
#include <spng.h>
#include <tiffio.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr QSize kBox(1600, 1600);
constexpr QSize kScreen(1600, 1000);

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

bool writeJpeg(const QString& path, int width, int height, int restartRows) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    info.restart_in_rows = restartRows;
    jpeg_start_compress(&info, TRUE);
    PhotoRows rows(width, height);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(rows.at(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

bool writePng(const QString& path, int width, int height) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_png_file(ctx, file);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1);
    spng_ihdr header{};
    header.width = quint32(width);
    header.height = quint32(height);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &header);
    bool ok = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                                SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) == 0;
    PhotoRows rows(width, height);
    for (int y = 0; y < height && ok; ++y) {
        const int error = spng_encode_row(ctx, rows.at(y), size_t(width) * 3);
        ok = error == 0 || (error == SPNG_EOI && y == height - 1);
    }
    spng_ctx_free(ctx);
    return std::fclose(file) == 0 && ok;
}

// A tiled, deflated pyramid: the full page and its halvings down to under 2000 pixels, as
// reduced pages after it. The tiles are a few compressed variants written again and again, so
// the 4.8 GB picture takes seconds to make, not minutes, and stays a classic (not Big) TIFF.
bool writeTiff(const QString& path, int side) {
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

qint64 peakRssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// In a process of its own, so that each picture's peak memory is its own: prints the three
// times in milliseconds, each followed by the peak RSS in KiB.
int measure(const QString& path) {
    QTextStream out(stdout);
    QElapsedTimer timer;
    timer.start();
    const auto level = kivo::decodeLevel(kivo::filePathFromText(path), kBox, false);
    if (!level || !(*level)->isTiled()) {
        out << "not tiled\n";
        return 1;
    }
    out << timer.nsecsElapsed() / 1e6 << ' ' << peakRssKb();
    const auto& reader = (*level)->regions();
    const QSize size = reader->size();
    QRect centre(QPoint(0, 0), kScreen);
    centre.moveCenter(QPoint(size.width() / 2, size.height() / 2));
    for (const QRect& rect : {centre, centre.translated(kScreen.width(), 0)}) {
        timer.restart();
        const auto tiles = reader->read({rect}, 0);
        out << ' ' << (tiles.front() ? timer.nsecsElapsed() / 1e6 : -1.0) << ' ' << peakRssKb();
    }
    out << '\n';
    return 0;
}

struct Run {
    double ms = -1;
    qint64 rssKb = 0;
};

// A process timed from start to exit, its peak RSS from /usr/bin/time.
Run timed(const QString& program, const QStringList& arguments) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{QStringLiteral("-f"), QStringLiteral("rss %M"), program} + arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return {};
    Run run{timer.nsecsElapsed() / 1e6, 0};
    const QByteArray err = process.readAllStandardError();
    const int at = err.lastIndexOf("rss ");
    if (at >= 0)
        run.rssKb = err.mid(at + 4).trimmed().toLongLong();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--measure")
        return measure(QString::fromLocal8Bit(argv[2]));
    QTextStream out(stdout);
    QTemporaryDir temporary;
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path());
    struct Picture {
        const char* name;
        std::function<bool(const QString&)> make;
    };
    const Picture pictures[] = {
        {"restart.jpg", [](const QString& p) { return writeJpeg(p, 30000, 20000, 1); }},
        {"plain.jpg", [](const QString& p) { return writeJpeg(p, 30000, 20000, 0); }},
        {"huge.png", [](const QString& p) { return writePng(p, 15000, 20000); }},
        {"pyramid.tif", [](const QString& p) { return writeTiff(p, 40000); }},
    };
    out << "picture        step          kivo ms  vips ms  ratio   kivo MB  vips MB\n";
    for (const Picture& picture : pictures) {
        const QString path = dir.filePath(QString::fromLatin1(picture.name));
        if (!QFile::exists(path) && !picture.make(path)) {
            out << picture.name << ": cannot be made\n";
            continue;
        }
        QProcess self;
        self.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), path});
        self.waitForFinished(600000);
        const QList<QByteArray> figures = self.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 6) {
            out << picture.name << ": " << figures.join(' ') << '\n';
            continue;
        }
        const QSize size = [&] {
            const auto reader = kivo::openRegionReader(kivo::filePathFromText(path));
            return reader && *reader ? (*reader)->size() : QSize();
        }();
        QRect centre(QPoint(0, 0), kScreen);
        centre.moveCenter(QPoint(size.width() / 2, size.height() / 2));
        const QString scratch = dir.filePath(QStringLiteral("out.v"));
        const auto crop = [&](const QRect& r) {
            return timed(QStringLiteral("vips"),
                         {QStringLiteral("crop"), path, scratch, QString::number(r.x()),
                          QString::number(r.y()), QString::number(r.width()),
                          QString::number(r.height())});
        };
        const Run references[] = {
            timed(QStringLiteral("vipsthumbnail"),
                  {path, QStringLiteral("-s"), QStringLiteral("1600"), QStringLiteral("-o"),
                   dir.filePath(QStringLiteral("thumb.jpg"))}),
            crop(centre), crop(centre.translated(kScreen.width(), 0))};
        const char* steps[] = {"fit level", "centre 100%", "one screen right"};
        for (int i = 0; i < 3; ++i) {
            const double ms = figures[2 * i].toDouble();
            const double rssMb = figures[2 * i + 1].toDouble() / 1024;
            const Run& ref = references[i];
            out << QString::asprintf("%-14s %-13s %8.0f %8.0f %6.2f %9.0f %8.0f\n", picture.name,
                                     steps[i], ms, ref.ms, ref.ms > 0 ? ms / ref.ms : 0.0, rssMb,
                                     ref.rssKb / 1024.0);
        }
        out.flush();
    }
    QFile::remove(dir.filePath(QStringLiteral("out.v")));
    QFile::remove(dir.filePath(QStringLiteral("thumb.jpg")));
    return 0;
}
