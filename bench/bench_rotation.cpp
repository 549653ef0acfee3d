// SPDX-License-Identifier: GPL-3.0-or-later
// How long a rotation keeps the user waiting, against the plain file work it cannot avoid:
// the tag-only save of a 24-megapixel JPEG against copying that file durably, and the pixel
// save of a 6-megapixel PNG against Qt encoding the same picture as PNG once.
#include "imaging/write/turnedfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>
#include <exiv2/exiv2.hpp>
#include <unistd.h>

namespace {

QImage picture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QLinearGradient(0, 0, w, h));
    for (int i = 0; i < 200; ++i)
        painter.fillRect((i * 7919) % w, (i * 104729) % h, 150, 90,
                         QColor::fromHsv(i % 360, 200, 220));
    painter.end();
    // Grain, so the files compress as photographs do.
    quint32 seed = 12345;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] ^= (seed >> 24) & 0x3F3F3F;
        }
    }
    return image;
}

// Reading the file and writing it back durably: the least any safe rewrite costs.
void durableCopy(const QString& from, const QString& to) {
    QFile in(from);
    in.open(QIODevice::ReadOnly);
    const QByteArray bytes = in.readAll();
    QFile out(to);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(bytes);
    out.flush();
    ::fsync(out.handle());
}

template <typename Work> double millisecondsPerRun(int runs, Work work) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i)
        work();
    return double(timer.nsecsElapsed()) / 1e6 / runs;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    QTextStream out(stdout);

    const QString jpeg = dir.filePath("camera.jpg");
    QImageWriter(jpeg, "jpeg").write(picture(6000, 4000));
    {
        auto image = Exiv2::ImageFactory::open(jpeg.toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.Orientation"] = uint16_t(1);
        image->exifData()["Exif.Image.Make"] = "Kivo";
        image->writeMetadata();
    }
    const double copy =
        millisecondsPerRun(10, [&] { durableCopy(jpeg, dir.filePath("copy.jpg")); });
    const double tag = millisecondsPerRun(10, [&] {
        kivo::writeTurnedFile(kivo::filePathFromText(jpeg), 1, kivo::TurnMethod::tagPatch);
    });
    out << QString::asprintf(
        "tag-only save, 24 MP JPEG (%lld bytes): %.1f ms; durable copy %.1f ms; "
        "ratio %.2f\n",
        QFile(jpeg).size(), tag, copy, tag / copy);

    const QString png = dir.filePath("drawing.png");
    const QImage drawing = picture(3000, 2000);
    QImageWriter(png, "png").write(drawing);
    const double encode = millisecondsPerRun(
        3, [&] { QImageWriter(dir.filePath("encode.png"), "png").write(drawing); });
    const double pixels = millisecondsPerRun(2, [&] {
        kivo::writeTurnedFile(kivo::filePathFromText(png), 1, kivo::TurnMethod::pixelRewrite);
    });
    out << QString::asprintf(
        "pixel save, 6 MP PNG: %.1f ms; one Qt PNG encode %.1f ms; ratio %.2f\n", pixels, encode,
        pixels / encode);
    return 0;
}
