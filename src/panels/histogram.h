// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/image.h"

#include <QtGlobal>
#include <array>
#include <optional>

namespace kivo {

// How many sampled pixels have each 8-bit value of the red, green and blue channels. Each array
// sums to the number of sampled pixels.
struct HistogramData {
    std::array<qint64, 256> red{};
    std::array<qint64, 256> green{};
    std::array<qint64, 256> blue{};

    friend bool operator==(const HistogramData&, const HistogramData&) = default;
};

// Counts the image's pixels as 8-bit sRGB at its full size, transparent areas drawn on black.
// Images of 500,000 pixels or more are sampled at a fixed stride in storage order (n / 500,000,
// running on across row ends), so at most about a million pixels are visited. A pure function
// of the image, safe on any thread; none for an empty image.
std::optional<HistogramData> computeHistogram(const Image& image);

// The sampling stride for an image of `pixelCount` pixels.
qint64 histogramSamplingStep(qint64 pixelCount);

} // namespace kivo
