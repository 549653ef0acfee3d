// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A picture too large to hold whole (tens of thousands of pixels on a side), read a rectangle
// at a time where the user looks, at the reduction the view needs.

#include "imaging/filepath.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/result.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <atomic>
#include <memory>
#include <vector>

namespace kivo {

// Reads rectangles of one picture, upright by the file's orientation and in the colour space it
// was opened for. Reads may run on several threads at once: each keeps its own decoder state
// and file handle, so the reader itself is immutable once opened.
class RegionReader {
public:
    virtual ~RegionReader() = default;

    // The picture's upright full size.
    virtual QSize size() const = 0;

    // The coarsest reduction, as a power of two (3: 1/8), that reads cost less at than at full
    // resolution: a JPEG's DCT scaling, a pyramid TIFF's smallest page, the levels a PNG's first
    // pass kept. Reads at coarser levels are allowed and scaled from it.
    virtual int coarsestCheapLevel() const = 0;

    // Pixels of each of `rects` (upright full-resolution coordinates inside size()) reduced by
    // 2^`level`: for each rectangle a bitmap of its size divided by 2^level, rounded up, in a
    // display format (RGB32 or ARGB32_Premultiplied). Several rectangles are read in one call
    // so that a format read from top to bottom (PNG, a JPEG without restart markers) reads them
    // in one pass. Stops early, failing the rectangles not yet read, once `cancelled` is set.
    // One result per rectangle, in order.
    virtual std::vector<Result<QImage>> read(const std::vector<QRect>& rects, int level,
                                             const std::atomic_bool* cancelled = nullptr) const = 0;
};

using RegionReaderPtr = std::shared_ptr<const RegionReader>;

// A reader for `path` when its picture is too large to decode whole (see needsTiles) and its
// format can be read by region; null when the picture should be decoded as a whole bitmap as
// before (small enough, or a format with no region reader). A failure is a file that cannot be
// read at all, or one whose declared size is absurd.
Result<RegionReaderPtr> openRegionReader(const FilePath& path, const DisplayProfile& target = {});

// `upright` turned clockwise by `quarterTurns` (a picture turned on screen only): rectangles of
// the turned picture, read from `upright` and turned. `upright` itself when the turn is whole.
RegionReaderPtr turnedRegionReader(RegionReaderPtr upright, int quarterTurns);

// Whether a picture of `size` is shown in tiles rather than as one bitmap.
bool needsTiles(QSize size);

} // namespace kivo
