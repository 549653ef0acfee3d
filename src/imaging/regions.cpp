// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/regions.h"

#include "imaging/bytes/contenttype.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/formats.h"
#include "imaging/metadata/orientation.h"

namespace kivo {

namespace {

// Above this a whole 32-bit bitmap would take more than 256 MB: the picture is read in tiles.
constexpr qint64 kLargestWholePixels = qint64(64) * 1000 * 1000;

// The EXIF orientations that show a stored picture turned clockwise by one, two and three
// quarter turns: an on-screen turn is read as one more orientation on top of the file's.
constexpr int kClockwiseOrientations[] = {1, 6, 3, 8};

class TurnedRegionReader final : public RegionReader {
public:
    TurnedRegionReader(RegionReaderPtr upright, int orientation)
        : upright_(std::move(upright))
        , orientation_(orientation) {}

    QSize size() const override { return orientedSize(upright_->size(), orientation_); }
    int coarsestCheapLevel() const override { return upright_->coarsestCheapLevel(); }

    std::vector<Result<QImage>> read(const std::vector<QRect>& rects, int level,
                                     const std::atomic_bool* cancelled) const override {
        const QRect whole(QPoint(0, 0), size());
        std::vector<QRect> inUpright;
        inUpright.reserve(rects.size());
        for (const QRect& rect : rects)
            // Outside the turned picture stays outside the upright one, and fails there.
            inUpright.push_back(whole.contains(rect)
                                    ? storedRect(rect, upright_->size(), orientation_)
                                    : QRect(-1, -1, 0, 0));
        std::vector<Result<QImage>> results = upright_->read(inUpright, level, cancelled);
        for (Result<QImage>& result : results) {
            if (!result)
                continue;
            QImage turned = applyOrientation(*result, orientation_);
            if (turned.isNull())
                result = Failure{FailureReason::tooLarge, QStringLiteral("no memory for a tile")};
            else
                result = std::move(turned);
        }
        return results;
    }

private:
    RegionReaderPtr upright_;
    int orientation_;
};

} // namespace

RegionReaderPtr turnedRegionReader(RegionReaderPtr upright, int quarterTurns) {
    const int turns = ((quarterTurns % 4) + 4) % 4;
    if (!upright || turns == 0)
        return upright;
    return std::make_shared<TurnedRegionReader>(std::move(upright), kClockwiseOrientations[turns]);
}

bool needsTiles(QSize size) {
    return size.isValid() && qint64(size.width()) * size.height() > kLargestWholePixels;
}

Result<RegionReaderPtr> openRegionReaderAnySize(const FilePath& path, const DisplayProfile& target,
                                                bool anySize) {
    const auto format = sniffFormat(path);
    if (!format)
        return format.failure();
    return openRegionReaderFor(path, **format, target, anySize);
}

Result<RegionReaderPtr> openRegionReaderFor(const FilePath& path, const FormatInfo& format,
                                            const DisplayProfile& target, bool anySize) {
    switch (format.format) {
    case ImageFormat::jpeg:
        return openJpegRegions(path, target, anySize);
    case ImageFormat::tiff:
        return openTiffRegions(path, target, anySize);
    case ImageFormat::png:
        return openPngRegions(path, target, anySize);
    default:
        return RegionReaderPtr();
    }
}

Result<RegionReaderPtr> openRegionReader(const FilePath& path, const DisplayProfile& target) {
    return openRegionReaderAnySize(path, target, false);
}

} // namespace kivo
