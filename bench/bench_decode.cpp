// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding a large JPEG to the display image, side by side with libjpeg-turbo's own djpeg on
// the same file in the same run. Target: within 1.25x of djpeg.
// A 24 MP PNG the same way: libspng's row decode against Qt's reader (the path PNG took before),
// libspng alone into RGBA and `vips avg` when installed; and a screen-sized level.
//
//   build/release/bench/bench_decode [runs]
#include "imaging/codecs/qtdecoder.h"
#include "imaging/decode.h"
#include "imaging/filepath.h"
#include "imaging/pixels/colour.h"
#include "imaging/source.h"

#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <random>
#include <spng.h>
#include <turbojpeg.h>
#include <vector>

namespace {

// Gradients with noise on top: compresses like a photo (about 2 bits per pixel at quality 90),
// unlike a flat picture that libjpeg would skip through.
QByteArray encodePhotoLikeJpeg(int width, int height) {
    std::vector<unsigned char> rgb(size_t(width) * height * 3);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-24, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &rgb[(size_t(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>(std::clamp(255 * x / width + noise(random), 0, 255));
            p[1] = static_cast<unsigned char>(std::clamp(255 * y / height + noise(random), 0, 255));
            p[2] = static_cast<unsigned char>(
                std::clamp(128 + ((x / 64 + y / 64) % 2) * 64 + noise(random), 0, 255));
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0);
    QByteArray bytes(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(tj);
    return bytes;
}

// The same JPEG tagged as shot in portrait (EXIF orientation 6), as phones store it: the
// decode must also turn it.
QByteArray withOrientation6(const QByteArray& jpeg) {
    static const char app1[] = "\xFF\xE1\x00\x22"
                               "Exif\0\0"
                               "II*\0\x08\0\0\0"
                               "\x01\0"
                               "\x12\x01\x03\0\x01\0\0\0\x06\0\0\0"
                               "\0\0\0\0";
    return jpeg.left(2) + QByteArray(app1, sizeof app1 - 1) + jpeg.mid(2);
}

double elapsedMs(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

// The machine is shared, so the contenders take turns within each round and each keeps its
// best round: a burst of load elsewhere then slows both, not one.
void benchFile(QTextStream& out, const QString& label, const QString& path, int runs) {
    const kivo::FilePath file = kivo::filePathFromText(path);
    double kivoMs = 1e12, djpegMs = 1e12, qtMs = 1e12, thumbMs = 1e12;
    for (int round = 0; round < runs; ++round) {
        kivoMs = std::min(kivoMs, elapsedMs([&] {
                              if (!kivo::decodeImage(file))
                                  qFatal("decode failed");
                          }));
        djpegMs =
            std::min(djpegMs, elapsedMs([&] {
                         QProcess djpeg;
                         djpeg.start(QStringLiteral("djpeg"), {QStringLiteral("-outfile"),
                                                               QStringLiteral("/dev/null"), path});
                         djpeg.waitForFinished(-1);
                     }));
        qtMs = std::min(qtMs, elapsedMs([&] {
                            QImageReader reader(path);
                            if (reader.read().isNull())
                                qFatal("QImageReader failed");
                        }));
        thumbMs = std::min(thumbMs, elapsedMs([&] {
                               auto source = kivo::ImageSource::open(file);
                               if (!source || !source->thumbnail(120))
                                   qFatal("thumbnail failed");
                           }));
    }
    out << label << ": kivo decodeImage " << QString::number(kivoMs, 'f', 1) << " ms, djpeg "
        << QString::number(djpegMs, 'f', 1) << " ms, ratio "
        << QString::number(kivoMs / djpegMs, 'f', 2) << "x (target <= 1.25x); QImageReader "
        << QString::number(qtMs, 'f', 1) << " ms; thumbnail(120) "
        << QString::number(thumbMs, 'f', 1) << " ms\n";
    out.flush();
}

// Gradients with a little noise, stored as Qt's PNG writer stores it.
void writePhotoLikePng(const QString& path, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb(std::clamp(255 * x / width + noise(random), 0, 255),
                          std::clamp(255 * y / height + noise(random), 0, 255),
                          128 + ((x / 64 + y / 64) % 2) * 64);
    }
    if (!image.save(path, "png"))
        qFatal("cannot write the test PNG");
}

// libspng on its own: the whole picture to RGBA8 in memory, no conversion.
void spngAlone(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read the test PNG");
    const QByteArray bytes = file.readAll();
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, bytes.constData(), size_t(bytes.size()));
    size_t size = 0;
    spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
    std::vector<unsigned char> out(size);
    if (spng_decode_image(ctx, out.data(), size, SPNG_FMT_RGBA8, 0) != 0)
        qFatal("libspng failed");
    spng_ctx_free(ctx);
}

void benchPng(QTextStream& out, const QString& path, int runs) {
    const kivo::FilePath file = kivo::filePathFromText(path);
    const bool vips = !QStandardPaths::findExecutable(QStringLiteral("vips")).isEmpty();
    double kivoMs = 1e12, qtMs = 1e12, spngMs = 1e12, vipsMs = 1e12, levelMs = 1e12;
    for (int round = 0; round < runs; ++round) {
        kivoMs = std::min(kivoMs, elapsedMs([&] {
                              if (!kivo::decodeImage(file))
                                  qFatal("decode failed");
                          }));
        qtMs = std::min(qtMs, elapsedMs([&] {
                            auto pixels = kivo::decodeWithQt(
                                file, kivo::formatInfo(kivo::ImageFormat::png), true);
                            if (!pixels || kivo::toDisplaySrgb(pixels->image).isNull())
                                qFatal("Qt's reader failed");
                        }));
        spngMs = std::min(spngMs, elapsedMs([&] { spngAlone(path); }));
        levelMs = std::min(levelMs, elapsedMs([&] {
                               if (!kivo::decodeLevel(file, QSize(1600, 1000), true))
                                   qFatal("level failed");
                           }));
        if (vips)
            vipsMs = std::min(vipsMs, elapsedMs([&] {
                                  QProcess avg;
                                  avg.start(QStringLiteral("vips"), {QStringLiteral("avg"), path});
                                  avg.waitForFinished(-1);
                              }));
    }
    const auto ms = [](double v) { return QString::number(v, 'f', 1) + QStringLiteral(" ms"); };
    const auto ratio = [](double a, double b) { return QString::number(a / b, 'f', 2) + 'x'; };
    out << "24 MP PNG 6000x4000: kivo decodeImage " << ms(kivoMs) << "; Qt's reader path "
        << ms(qtMs) << " (kivo " << ratio(kivoMs, qtMs) << "); libspng alone " << ms(spngMs)
        << " (kivo " << ratio(kivoMs, spngMs) << ")";
    if (vips)
        out << "; vips avg " << ms(vipsMs) << " (kivo " << ratio(kivoMs, vipsMs) << ")";
    out << "; level for 1600x1000 " << ms(levelMs) << "\n";
    out.flush();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    QImageReader::setAllocationLimit(0); // the Qt reference would refuse 45 MP otherwise
    QTemporaryDir dir;
    QTextStream out(stdout);
    struct Case {
        const char* label;
        int width, height;
        bool portrait;
    };
    for (const Case& c : {Case{"24 MP JPEG 6000x4000", 6000, 4000, false},
                          Case{"24 MP JPEG 6000x4000, orientation 6", 6000, 4000, true},
                          Case{"45 MP JPEG 8192x5464", 8192, 5464, false}}) {
        const QString path = dir.filePath(
            QStringLiteral("%1x%2%3.jpg").arg(c.width).arg(c.height).arg(c.portrait ? "-6" : ""));
        const QByteArray jpeg = encodePhotoLikeJpeg(c.width, c.height);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(c.portrait ? withOrientation6(jpeg) : jpeg) < 0)
            qFatal("cannot write the test JPEG");
        file.close();
        benchFile(out, QString::fromLatin1(c.label), path, runs);
    }
    const QString png = dir.filePath(QStringLiteral("6000x4000.png"));
    writePhotoLikePng(png, 6000, 4000);
    benchPng(out, png, runs);
    return 0;
}
