// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kivo {

// Has libheif decode HEVC through libde265 with as many threads as the machine has cores when a
// coded image is large enough to be worth them. libheif 1.15's own libde265 plugin always runs
// one worker thread, so a photo coded as one image (not a grid of tiles, which libheif already
// decodes in parallel) took one core however many were idle. The pixels are the same: libde265's
// wavefronts and tiles decode alike on any number of threads. Registered once, for the process.
void useThreadedHevcDecoder();

// The id libheif knows this decoder by (heif_decoding_options::decoder_id); libheif's own is
// "libde265".
inline constexpr char kThreadedHevcDecoderId[] = "kivo-libde265";

} // namespace kivo
