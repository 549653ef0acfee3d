// SPDX-License-Identifier: GPL-3.0-or-later
// Converting a 24-megapixel level for the screen: a Display P3 photo converted to sRGB as every
// picture was before screens had profiles (the reference), the same photo and an untagged one
// converted to an Adobe RGB screen's profile, and the histogram of such a level, which counts the
// picture's own values, beside the histogram of an sRGB one. Measured in one run.

#include "imaging/pixels/colour.h"
#include "imaging/pixels/displayprofile.h"
#include "panels/histogram.h"
#include "syntheticphoto.h"

#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>
#include <algorithm>

namespace {

constexpr int kRounds = 11;

// One timed conversion of a fresh copy of `source`.
template <typename F> double timedMs(const QImage& source, F&& convert) {
    QImage copy = source.copy();
    QElapsedTimer timer;
    timer.start();
    convert(std::move(copy));
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QFile adobe("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
    const auto screen = adobe.open(QIODevice::ReadOnly)
                            ? kivo::DisplayProfile::fromIcc(adobe.readAll(), "Adobe RGB")
                            : std::nullopt;
    if (!screen) {
        out << "icc-profiles-free is not installed\n";
        return 1;
    }
    const QImage untagged = kivo::bench::syntheticPhoto(1);
    QImage p3 = untagged.copy();
    p3.setColorSpace(QColorSpace::DisplayP3);
    const QByteArray p3Icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();

    // The rows take turns, and each keeps its best: on shared cores a neighbour's burst then
    // slows every row alike instead of the one running at that moment.
    QImage shown;
    const auto onScreen = kivo::Image::create(kivo::toDisplay(untagged, {}, *screen));
    const auto inSrgb = kivo::Image::create(untagged);
    double toSrgb = 1e300, p3ToScreen = 1e300, srgbToScreen = 1e300;
    double histogramSrgb = 1e300, histogramScreen = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        toSrgb =
            std::min(toSrgb, timedMs(p3, [&](QImage i) { shown = kivo::toDisplaySrgb(i, p3Icc); }));
        p3ToScreen = std::min(
            p3ToScreen, timedMs(p3, [&](QImage i) { shown = kivo::toDisplay(i, p3Icc, *screen); }));
        srgbToScreen =
            std::min(srgbToScreen,
                     timedMs(untagged, [&](QImage i) { shown = kivo::toDisplay(i, {}, *screen); }));
        histogramSrgb = std::min(
            histogramSrgb, timedMs(QImage(), [&](QImage) { kivo::computeHistogram(*inSrgb); }));
        histogramScreen = std::min(
            histogramScreen, timedMs(QImage(), [&](QImage) { kivo::computeHistogram(*onScreen); }));
    }

    out << "6000 x 4000 (24 MP) level, best wall time of " << kRounds << " rounds\n";
    out << QString::asprintf("reference, Display P3 photo to sRGB:        %7.1f ms\n", toSrgb);
    out << QString::asprintf("Display P3 photo to the Adobe RGB screen:   %7.1f ms (%.2fx)\n",
                             p3ToScreen, p3ToScreen / toSrgb);
    out << QString::asprintf("untagged photo to the Adobe RGB screen:     %7.1f ms (%.2fx)\n",
                             srgbToScreen, srgbToScreen / toSrgb);
    out << QString::asprintf("histogram of an sRGB level:                 %7.1f ms\n",
                             histogramSrgb);
    out << QString::asprintf("histogram of a level for the screen:        %7.1f ms (%.2fx)\n",
                             histogramScreen, histogramScreen / histogramSrgb);
    return 0;
}
