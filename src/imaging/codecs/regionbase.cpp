// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/regionbase.h"

#include "imaging/codecs/decodecore.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/displayprofile.h"

#include <QFile>
#include <cstring>
#include <unistd.h>

namespace kivo {

namespace {

int ceilShift(qint64 value, int level) {
    return int((value + (qint64(1) << level) - 1) >> level);
}

// A rectangle whose last row or column the file cannot serve at a reduced level (its sides
// rounded up past the level's edge) repeats its edge pixels there.
QImage padded(QImage image, QSize wanted) {
    if (image.size() == wanted || image.isNull() || image.width() == 0 || image.height() == 0)
        return image;
    QImage out(wanted, image.format());
    if (out.isNull())
        return {};
    out.setColorSpace(image.colorSpace());
    const int pixelBytes = image.depth() / 8;
    const size_t rowBytes = size_t(image.width()) * size_t(pixelBytes);
    for (int y = 0; y < wanted.height(); ++y) {
        uchar* line = out.scanLine(y);
        std::memcpy(line, image.constScanLine(std::min(y, image.height() - 1)), rowBytes);
        for (int x = image.width(); x < wanted.width(); ++x)
            std::memcpy(line + size_t(x) * size_t(pixelBytes), line + rowBytes - size_t(pixelBytes),
                        size_t(pixelBytes));
    }
    return out;
}

} // namespace

QRect storedRect(const QRect& up, QSize stored, int orientation) {
    const int w = stored.width(), h = stored.height();
    switch (orientation) {
    case 2:
        return {w - up.x() - up.width(), up.y(), up.width(), up.height()};
    case 3:
        return {w - up.x() - up.width(), h - up.y() - up.height(), up.width(), up.height()};
    case 4:
        return {up.x(), h - up.y() - up.height(), up.width(), up.height()};
    case 5:
        return {up.y(), up.x(), up.height(), up.width()};
    case 6:
        return {up.y(), h - up.x() - up.width(), up.height(), up.width()};
    case 7:
        return {w - up.y() - up.height(), h - up.x() - up.width(), up.height(), up.width()};
    case 8:
        return {w - up.y() - up.height(), up.x(), up.height(), up.width()};
    default:
        return up;
    }
}

bool absurdPictureSize(qint64 width, qint64 height) {
    constexpr qint64 kLongestSide = 0x7fffffff;
    constexpr qint64 kMostPixels = qint64(64) * 1000 * 1000 * 1000;
    return width <= 0 || height <= 0 || width > kLongestSide || height > kLongestSide ||
           width > kMostPixels / height;
}

QSize levelSize(QSize size, int level) {
    return {ceilShift(size.width(), level), ceilShift(size.height(), level)};
}

StoredRegionReader::StoredRegionReader(QSize stored, int orientation, int cheapestLevel,
                                       int servedLevel, QByteArray icc, DisplayProfile target)
    : stored_(stored)
    , orientation_(orientation)
    , cheapestLevel_(cheapestLevel)
    , servedLevel_(std::max(cheapestLevel, servedLevel))
    , icc_(std::move(icc))
    , target_(std::move(target)) {}

QSize StoredRegionReader::size() const {
    return orientedSize(stored_, orientation_);
}

std::vector<Result<QImage>> StoredRegionReader::read(const std::vector<QRect>& rects, int level,
                                                     const std::atomic_bool* cancelled) const {
    std::vector<Result<QImage>> results(
        rects.size(), Failure{FailureReason::unreadable, QStringLiteral("not read")});
    if (level < 0 || level > 30)
        return results;
    const int fileLevel = std::min(level, servedLevel_);
    const QSize grid = levelSize(stored_, fileLevel);
    const QRect whole(QPoint(0, 0), size());
    std::vector<QRect> stored;
    std::vector<QSize> wanted;
    std::vector<size_t> which;
    for (size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].isEmpty() || !whole.contains(rects[i])) {
            results[i] = Failure{FailureReason::damaged, QStringLiteral("outside the picture")};
            continue;
        }
        const QRect at = storedRect(rects[i], stored_, orientation_);
        const QSize size = levelSize(at.size(), fileLevel);
        const QRect onGrid(at.x() >> fileLevel, at.y() >> fileLevel, size.width(), size.height());
        stored.push_back(onGrid & QRect(QPoint(0, 0), grid));
        wanted.push_back(size);
        which.push_back(i);
    }
    if (stored.empty())
        return results;
    auto pixels = readStored(stored, fileLevel, cancelled);
    for (size_t k = 0; k < which.size(); ++k) {
        auto& result = results[which[k]];
        if (!pixels[k]) {
            result = pixels[k].failure();
            continue;
        }
        QImage image = toDisplay(padded(std::move(*pixels[k]), wanted[k]), icc_, target_);
        image = applyOrientation(image, orientation_);
        if (fileLevel < level)
            image = image.scaled(levelSize(rects[which[k]].size(), level), Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
        if (image.isNull())
            result = Failure{FailureReason::tooLarge, QStringLiteral("no memory for a tile")};
        else
            result = std::move(image);
    }
    return results;
}

int openOwnDescriptor(const FilePath& path) {
    QFile file;
    return openForReading(file, path) ? ::dup(file.handle()) : -1;
}

} // namespace kivo
