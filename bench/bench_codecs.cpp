// SPDX-License-Identifier: GPL-3.0-or-later
// Codec benchmark. Writes its own files, then times in one run:
//  - a 12-megapixel HEIC: decodeHeif against libheif's `heif-convert` of the
//    same file to y4m (raw YUV out, so the reference is decode plus a plain write);
//  - a 24-megapixel DNG: decodeRaw with a half-sensor embedded preview against the same raw
//    without one (half-size demosaic), and a reduced thumbnail-size decode;
//  - a 12-megapixel JPEG XL by cjxl: decodeJxl (on the codec helpers' pool) against libjxl's
//    `djxl` of the same file to PPM (a decode on its own threads plus a plain write).
// Each figure is the best of several runs; ratios are what to compare across machines.

#include "../tests/imaging/dngwriter.h"
#include "../tests/imaging/heifwriter.h"
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/jxlcodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

using namespace kivo;

namespace {

// A scene with gradients and edges, so the encoders have real work and the files a real size.
QImage scene(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(30, 90, 200));
    sky.setColorAt(1, QColor(250, 200, 120));
    painter.fillRect(image.rect(), sky);
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 160, 220));
        painter.drawEllipse(QPoint((i * 811) % width, (i * 397) % height), width / 20, height / 25);
    }
    return image;
}

double bestMs(int runs, const std::function<bool()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!work())
            return -1;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void heifBench(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("12mp.heic"));
    test::HeifFixture fixture;
    fixture.hevcPreset = "ultrafast";
    if (!test::writeHeif(scene(4000, 3000), path, fixture)) {
        std::printf("heic: could not encode the fixture\n");
        return;
    }
    const FilePath file = filePathFromText(path);
    const QString converter = QStandardPaths::findExecutable(QStringLiteral("heif-convert"));
    const QString out = dir.filePath(QStringLiteral("out.y4m"));
    const double reference = converter.isEmpty() ? -1 : bestMs(3, [&] {
        return QProcess::execute(converter, {QStringLiteral("--quiet"), path, out}) == 0;
    });
    const double full = bestMs(3, [&] { return decodeHeif(file).has_value(); });
    std::printf("heic 4000x3000 (%lld bytes)\n", QFile(path).size());
    std::printf("  heif-convert to y4m      %8.1f ms (reference)\n", reference);
    std::printf("  decodeHeif full          %8.1f ms  ratio %.2f\n", full, full / reference);
}

void rawBench(const QTemporaryDir& dir) {
    const QImage picture = scene(6000, 4000);
    test::DngContent bare;
    bare.picture = picture;
    test::DngContent withPreview = bare;
    withPreview.preview =
        picture.scaled(3000, 2000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QString barePath = dir.filePath(QStringLiteral("24mp.dng"));
    const QString previewPath = dir.filePath(QStringLiteral("24mp-preview.dng"));
    if (!writeBytes(barePath, test::makeDng(bare)) ||
        !writeBytes(previewPath, test::makeDng(withPreview))) {
        std::printf("raw: could not write the fixtures\n");
        return;
    }
    const FilePath bareFile = filePathFromText(barePath);
    const FilePath previewFile = filePathFromText(previewPath);
    const double demosaic = bestMs(2, [&] { return decodeRaw(bareFile).has_value(); });
    const double preview = bestMs(3, [&] { return decodeRaw(previewFile).has_value(); });
    const double thumbnail = bestMs(3, [&] { return decodeRaw(previewFile, 256).has_value(); });
    const double probe = bestMs(3, [&] { return probeRaw(bareFile).has_value(); });
    std::printf("raw 6000x4000 DNG\n");
    std::printf("  half-size demosaic       %8.1f ms (reference)\n", demosaic);
    std::printf("  3000x2000 preview        %8.1f ms  ratio %.3f\n", preview, preview / demosaic);
    std::printf("  max 256 from preview     %8.1f ms  ratio %.3f\n", thumbnail,
                thumbnail / demosaic);
    std::printf("  probe                    %8.1f ms  ratio %.4f\n", probe, probe / demosaic);
}

void jxlBench(const QTemporaryDir& dir) {
    const QString png = dir.filePath(QStringLiteral("12mp.png"));
    const QString path = dir.filePath(QStringLiteral("12mp.jxl"));
    // Effort 3 keeps the encode to seconds; the decoder's work hardly depends on it.
    if (!scene(4000, 3000).save(png) ||
        QProcess::execute(QStringLiteral("cjxl"),
                          {png, path, QStringLiteral("--quiet"), QStringLiteral("-e"),
                           QStringLiteral("3"), QStringLiteral("-d"), QStringLiteral("1")}) != 0) {
        std::printf("jxl: could not encode the fixture (cjxl from libjxl-tools)\n");
        return;
    }
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QString out = dir.filePath(QStringLiteral("out.ppm"));
    const double reference = bestMs(3, [&] {
        return QProcess::execute(QStringLiteral("djxl"), {path, out, QStringLiteral("--quiet")}) ==
               0;
    });
    const double full = bestMs(3, [&] { return decodeJxl(bytes).ok(); });
    const double probe = bestMs(3, [&] { return probeJxl(bytes).has_value(); });
    std::printf("jxl 4000x3000 (%lld bytes)\n", qint64(bytes.size()));
    std::printf("  djxl to ppm              %8.1f ms (reference)\n", reference);
    std::printf("  decodeJxl full           %8.1f ms  ratio %.2f\n", full, full / reference);
    std::printf("  probe                    %8.1f ms  ratio %.4f\n", probe, probe / reference);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    heifBench(dir);
    rawBench(dir);
    jxlBench(dir);
    return 0;
}
