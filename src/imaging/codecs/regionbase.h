// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every format's region reader shares, and the openers by format (which tests call on
// small files, since openRegionReader only opens pictures too large to decode whole).

#include "imaging/formats.h"
#include "imaging/regions.h"

#include <QByteArray>

namespace kivo {

// Whether a declared size is beyond anything a reader accepts even in tiles: a side over
// 2^31-1 pixels or more than 64 gigapixels, the mark of a forged header.
bool absurdPictureSize(qint64 width, qint64 height);

// Where an upright rectangle lies in a picture stored as `stored` and shown turned by the EXIF
// `orientation`.
QRect storedRect(const QRect& up, QSize stored, int orientation);

// A picture's size at reduction 2^level, each side rounded up.
QSize levelSize(QSize size, int level);

// Turns upright rectangles into the file's stored orientation, reads them there at a level the
// file serves, and brings each result to the screen: colour converted, turned upright and, for
// levels coarser than the file serves cheaply, scaled down from the coarsest it does.
class StoredRegionReader : public RegionReader {
public:
    QSize size() const override;
    int coarsestCheapLevel() const override { return cheapestLevel_; }
    std::vector<Result<QImage>> read(const std::vector<QRect>& rects, int level,
                                     const std::atomic_bool* cancelled) const override;

protected:
    // `servedLevel` is the coarsest level readStored is asked for (coarser ones are scaled
    // from it); at least `cheapestLevel`.
    StoredRegionReader(QSize stored, int orientation, int cheapestLevel, int servedLevel,
                       QByteArray icc, DisplayProfile target);

    // Pixels of each of `rects`, given in the stored orientation on the grid of `level`
    // (never coarser than the served level) and inside levelSize(stored, level). A bitmap in any
    // format toDisplay converts (RGB32, ARGB32, Grayscale8, RGBA64...), in the file's colour
    // space.
    virtual std::vector<Result<QImage>> readStored(const std::vector<QRect>& rects, int level,
                                                   const std::atomic_bool* cancelled) const = 0;

    QSize storedSize() const { return stored_; }

private:
    QSize stored_;
    int orientation_;
    int cheapestLevel_;
    int servedLevel_;
    QByteArray icc_;
    DisplayProfile target_;
};

// A descriptor of `path` for a reader to keep, opened as every decoder opens files (regular
// files only, by their native bytes); -1 when it cannot be. The caller closes it.
int openOwnDescriptor(const FilePath& path);

// The readers by format. `anySize` opens pictures small enough to decode whole too; without it
// they are null, as for the variants a format's reader does not handle (CMYK or progressive
// JPEG, TIFFs that are not 8-bit grey, RGB or RGBA).
Result<RegionReaderPtr> openJpegRegions(const FilePath& path, const DisplayProfile& target,
                                        bool anySize);
Result<RegionReaderPtr> openTiffRegions(const FilePath& path, const DisplayProfile& target,
                                        bool anySize);
Result<RegionReaderPtr> openPngRegions(const FilePath& path, const DisplayProfile& target,
                                       bool anySize);

// The reader for whichever of those formats `path` is in; the second for a file already sniffed.
Result<RegionReaderPtr> openRegionReaderAnySize(const FilePath& path, const DisplayProfile& target,
                                                bool anySize);
Result<RegionReaderPtr> openRegionReaderFor(const FilePath& path, const FormatInfo& format,
                                            const DisplayProfile& target, bool anySize);

} // namespace kivo
