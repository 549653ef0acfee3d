// SPDX-License-Identifier: GPL-3.0-or-later
// Histogram of a 24-megapixel picture: the bitmap as decoders leave it (read in place), a
// straight-alpha one (premultiplied per sample), a 24-bit one (converted strip by strip), and as
// reference the obvious way of drawing
// the whole image into a new 8-bit buffer first, measured in the same run.

#include "panels/histogram.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextStream>
#include <algorithm>
#include <vector>

namespace {

QImage photoSizedNoise(QImage::Format format) {
    QImage image(6000, 4000, QImage::Format_RGB32);
    quint32 state = 1;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = state | 0xff000000u;
        }
    }
    return image.convertToFormat(format);
}

// The best of several runs: on shared cores the other runs measure the neighbours, not us.
template <typename F> double bestMs(F&& run) {
    double best = 1e300;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// What drawing into a fresh bitmap context amounts to: a full premultiplied 8-bit copy, then
// the same stride over it.
kivo::HistogramData redrawnThenCounted(const QImage& bitmap) {
    const QImage drawn = bitmap.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const qint64 n = qint64(drawn.width()) * drawn.height();
    const qint64 step = kivo::histogramSamplingStep(n);
    kivo::HistogramData data;
    const uchar* bytes = drawn.constBits();
    for (qint64 i = 0; i < n; i += step) {
        ++data.red[bytes[4 * i]];
        ++data.green[bytes[4 * i + 1]];
        ++data.blue[bytes[4 * i + 2]];
    }
    return data;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    const auto direct = kivo::Image::create(photoSizedNoise(QImage::Format_RGB32));
    const auto straight = kivo::Image::create(photoSizedNoise(QImage::Format_ARGB32));
    const auto packed = kivo::Image::create(photoSizedNoise(QImage::Format_RGB888));

    std::optional<kivo::HistogramData> a, b, c;
    kivo::HistogramData reference;
    const double inPlace = bestMs([&] { a = kivo::computeHistogram(*direct); });
    const double premultiplied = bestMs([&] { b = kivo::computeHistogram(*straight); });
    const double stripped = bestMs([&] { c = kivo::computeHistogram(*packed); });
    const double redrawn = bestMs([&] { reference = redrawnThenCounted(direct->bitmap()); });
    if (!a || !b || !c || *a != reference || *b != reference || *c != reference) {
        out << "results differ\n";
        return 1;
    }
    out << "6000 x 4000 (24 MP), best wall time of 15 runs\n";
    out << QString::asprintf("computeHistogram, 8-bit sRGB bitmap read in place: %7.2f ms\n",
                             inPlace);
    out << QString::asprintf("computeHistogram, straight-alpha bitmap in place:  %7.2f ms\n",
                             premultiplied);
    out << QString::asprintf("computeHistogram, 24-bit bitmap by strips:         %7.2f ms\n",
                             stripped);
    out << QString::asprintf("reference, full redraw into a new buffer, then count: %7.2f ms "
                             "(in place is %.0fx faster)\n",
                             redrawn, redrawn / inPlace);
    return 0;
}
