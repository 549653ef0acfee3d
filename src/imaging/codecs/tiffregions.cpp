// SPDX-License-Identifier: GPL-3.0-or-later
// Rectangles of a TIFF too large to decode whole, straight from its tiles or strips through
// libtiff. A pyramid TIFF (reduced-resolution pages or sub-IFDs) serves each level from the
// finest page at or above it; reductions beyond a page are box-averaged while its blocks are
// read, so even the fit level of a TIFF without a pyramid never holds more than its own pixels.
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/pixels/pixelbuffer.h"

#include <algorithm>
#include <memory>
#include <tiffio.h>
#include <unistd.h>

namespace kivo {

namespace {

// One block (tile or strip) larger than this is not read by region: such a file decodes whole.
constexpr qint64 kLargestBlockBytes = qint64(64) * 1024 * 1024;
// Reductions beyond a page are averaged in 32-bit sums: 2^10 x 2^10 pixels of 255 fit.
constexpr int kLargestAveragedShift = 10;
constexpr int kMostPages = 64;

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openTiff(const FilePath& path) {
    const int fd = openOwnDescriptor(path);
    if (fd < 0)
        return nullptr;
    // "m": no memory mapping, whose faults a truncated file turns into SIGBUS.
    TIFF* tiff = TIFFFdOpen(fd, path.c_str(), "rm");
    if (!tiff)
        ::close(fd);
    return TiffPtr(tiff);
}

// What a page must be for these readers: 8-bit, interleaved, grey or RGB with at most one
// extra (alpha) sample, in blocks of a sane size.
struct PageLayout {
    quint32 width = 0, height = 0;
    int samples = 0;
    bool tiled = false;
    quint32 blockWidth = 0, blockHeight = 0;
    bool premultiplied = false;
    toff_t offset = 0;
    int level = 0;
};

std::optional<PageLayout> pageLayout(TIFF* tiff) {
    PageLayout page;
    quint16 bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG, photometric = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        return std::nullopt;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && (samples == 1 || samples == 2);
    const bool rgb = photometric == PHOTOMETRIC_RGB && (samples == 3 || samples == 4);
    if (bits != 8 || planar != PLANARCONFIG_CONTIG || !(grey || rgb))
        return std::nullopt;
    page.samples = samples;
    quint16 extraCount = 0;
    quint16* extra = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0)
        page.premultiplied = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    page.tiled = TIFFIsTiled(tiff);
    if (page.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &page.blockWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &page.blockHeight);
    } else {
        page.blockWidth = page.width;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &page.blockHeight);
        page.blockHeight = std::min(page.blockHeight, page.height);
    }
    if (page.blockWidth == 0 || page.blockHeight == 0 ||
        qint64(page.blockWidth) * page.blockHeight * samples > kLargestBlockBytes)
        return std::nullopt;
    page.offset = TIFFCurrentDirOffset(tiff);
    return page;
}

// The level a reduced page serves: its sides are the full ones halved `level` times, rounded
// either way.
int pageLevel(const PageLayout& page, const PageLayout& full) {
    for (int level = 1; level <= 20; ++level) {
        const quint32 down = full.width >> level, up = (full.width + (1u << level) - 1) >> level;
        if (page.width == down || page.width == up) {
            const quint32 hDown = full.height >> level;
            const quint32 hUp = (full.height + (1u << level) - 1) >> level;
            return page.height == hDown || page.height == hUp ? level : 0;
        }
    }
    return 0;
}

class TiffRegionReader final : public StoredRegionReader {
public:
    TiffRegionReader(FilePath path, std::vector<PageLayout> pages, int orientation, QByteArray icc,
                     DisplayProfile target)
        : StoredRegionReader(QSize(int(pages.front().width), int(pages.front().height)),
                             orientation, pages.back().level,
                             pages.back().level + kLargestAveragedShift, std::move(icc),
                             std::move(target))
        , path_(std::move(path))
        , pages_(std::move(pages)) {}

protected:
    std::vector<Result<QImage>> readStored(const std::vector<QRect>& rects, int level,
                                           const std::atomic_bool* cancelled) const override {
        std::vector<Result<QImage>> results(
            rects.size(), Failure{FailureReason::damaged, QStringLiteral("unreadable TIFF data")});
        // The finest page that is no finer than the level asked for.
        const PageLayout* page = &pages_.front();
        for (const PageLayout& candidate : pages_)
            if (candidate.level <= level)
                page = &candidate;
        TiffPtr tiff = openTiff(path_);
        if (!tiff || !TIFFSetSubDirectory(tiff.get(), page->offset))
            return results;
        std::vector<uchar> block(size_t(page->blockWidth) * page->blockHeight *
                                 size_t(page->samples));
        for (size_t i = 0; i < rects.size(); ++i) {
            if (cancelled && cancelled->load(std::memory_order_relaxed))
                break;
            results[i] = readRect(tiff.get(), *page, rects[i], level - page->level, block);
        }
        return results;
    }

private:
    static QImage::Format formatOf(const PageLayout& page) {
        if (page.samples == 1)
            return QImage::Format_Grayscale8;
        if (page.samples == 3)
            return QImage::Format_RGB32;
        return page.premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
    }

    static void store(uchar* line, int x, const int* v, int channels) {
        if (channels == 1)
            line[x] = uchar(v[0]);
        else if (channels == 2)
            reinterpret_cast<QRgb*>(line)[x] = qRgba(v[0], v[0], v[0], v[1]);
        else
            reinterpret_cast<QRgb*>(line)[x] = qRgba(v[0], v[1], v[2], channels == 4 ? v[3] : 255);
    }

    // `rect` on the grid of the page reduced by 2^shift: the page's pixels, or averages of
    // them summed while its blocks are read.
    Result<QImage> readRect(TIFF* tiff, const PageLayout& page, const QRect& rect, int shift,
                            std::vector<uchar>& block) const {
        const int channels = page.samples;
        QImage direct;
        if (shift == 0) {
            direct = allocateImage(rect.size(), formatOf(page));
            if (direct.isNull())
                return Failure{FailureReason::tooLarge, QStringLiteral("tile")};
            direct.fill(0);
        }
        const qint64 x0 = qint64(rect.x()) << shift, y0 = qint64(rect.y()) << shift;
        const qint64 x1 = std::min<qint64>(qint64(rect.right() + 1) << shift, page.width);
        const qint64 y1 = std::min<qint64>(qint64(rect.bottom() + 1) << shift, page.height);
        const size_t summed = shift > 0 ? size_t(rect.width()) * size_t(rect.height()) : 0;
        std::vector<quint32> sums(summed * size_t(channels));
        std::vector<quint32> counts(summed);
        const qint64 bw = page.blockWidth, bh = page.blockHeight;
        for (qint64 by = y0 / bh * bh; by < y1; by += bh) {
            for (qint64 bx = x0 / bw * bw; bx < x1; bx += bw) {
                const tmsize_t got =
                    page.tiled
                        ? TIFFReadEncodedTile(tiff,
                                              TIFFComputeTile(tiff, quint32(bx), quint32(by), 0, 0),
                                              block.data(), tmsize_t(block.size()))
                        : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, quint32(by), 0),
                                               block.data(), tmsize_t(block.size()));
                if (got <= 0)
                    return Failure{FailureReason::damaged, QStringLiteral("unreadable block")};
                const qint64 rowBytes = bw * channels;
                const qint64 rowsHere = std::min<qint64>(got / rowBytes, bh);
                const qint64 top = std::max(y0, by),
                             bottom = std::min({y1, by + bh, by + rowsHere});
                const qint64 left = std::max(x0, bx), right = std::min(x1, bx + bw);
                for (qint64 y = top; y < bottom; ++y) {
                    const uchar* source =
                        block.data() + (y - by) * rowBytes + (left - bx) * channels;
                    if (shift == 0) {
                        uchar* line = direct.scanLine(int(y - y0));
                        for (qint64 x = left; x < right; ++x, source += channels) {
                            int v[4] = {source[0], 0, 0, 0};
                            for (int c = 1; c < channels; ++c)
                                v[c] = source[c];
                            store(line, int(x - x0), v, channels);
                        }
                        continue;
                    }
                    const size_t outRow = size_t((y - y0) >> shift) * size_t(rect.width());
                    for (qint64 x = left; x < right; ++x, source += channels) {
                        const size_t out = outRow + size_t((x - x0) >> shift);
                        for (int c = 0; c < channels; ++c)
                            sums[out * size_t(channels) + size_t(c)] += source[c];
                        ++counts[out];
                    }
                }
            }
        }
        if (shift == 0)
            return direct;
        return toBitmap(sums, counts, rect.size(), page);
    }

    static Result<QImage> toBitmap(const std::vector<quint32>& sums,
                                   const std::vector<quint32>& counts, QSize size,
                                   const PageLayout& page) {
        const int channels = page.samples;
        QImage image = allocateImage(size, formatOf(page));
        if (image.isNull())
            return Failure{FailureReason::tooLarge, QStringLiteral("tile")};
        for (int y = 0; y < size.height(); ++y) {
            uchar* line = image.scanLine(y);
            for (int x = 0; x < size.width(); ++x) {
                const size_t at = size_t(y) * size_t(size.width()) + size_t(x);
                // A pixel the data did not reach (a page a pixel short) is black.
                const quint32 n = std::max<quint32>(counts[at], 1);
                int v[4] = {0, 0, 0, 255};
                for (int c = 0; c < channels; ++c)
                    v[c] = int((sums[at * size_t(channels) + size_t(c)] + n / 2) / n);
                store(line, x, v, channels);
            }
        }
        return image;
    }

    FilePath path_;
    std::vector<PageLayout> pages_; // the full page first, then reduced ones by level
};

} // namespace

Result<RegionReaderPtr> openTiffRegions(const FilePath& path, const DisplayProfile& target,
                                        bool anySize) {
    TiffPtr tiff = openTiff(path);
    if (!tiff) // the whole-picture path says why
        return RegionReaderPtr();
    quint32 width = 0, height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    if (absurdPictureSize(width, height))
        return Failure{FailureReason::tooLarge, QStringLiteral("absurd declared size")};
    if (!anySize && !needsTiles(QSize(int(width), int(height))))
        return RegionReaderPtr();
    const auto full = pageLayout(tiff.get());
    if (!full)
        return RegionReaderPtr();
    quint16 orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    QByteArray icc;
    quint32 iccBytes = 0;
    void* iccData = nullptr;
    if (full->samples >= 3 && TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &iccBytes, &iccData))
        icc = QByteArray(static_cast<const char*>(iccData), qsizetype(iccBytes));
    std::vector<PageLayout> pages{*full};
    const auto addReduced = [&] {
        quint32 kind = 0;
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SUBFILETYPE, &kind);
        auto page = pageLayout(tiff.get());
        if (!(kind & FILETYPE_REDUCEDIMAGE) || !page || page->samples != full->samples)
            return;
        page->level = pageLevel(*page, *full);
        if (page->level > 0)
            pages.push_back(*page);
    };
    // Reduced pages as sub-IFDs of the first, or as the pages after it.
    quint16 subCount = 0;
    toff_t* subOffsets = nullptr;
    std::vector<toff_t> subs;
    if (TIFFGetField(tiff.get(), TIFFTAG_SUBIFD, &subCount, &subOffsets))
        subs.assign(subOffsets, subOffsets + std::min<int>(subCount, kMostPages));
    for (toff_t offset : subs)
        if (TIFFSetSubDirectory(tiff.get(), offset))
            addReduced();
    if (TIFFSetSubDirectory(tiff.get(), full->offset))
        for (int page = 1; page < kMostPages && TIFFReadDirectory(tiff.get()); ++page)
            addReduced();
    std::sort(pages.begin() + 1, pages.end(),
              [](const PageLayout& a, const PageLayout& b) { return a.level < b.level; });
    return RegionReaderPtr(std::make_shared<TiffRegionReader>(
        path, std::move(pages), orientation >= 1 && orientation <= 8 ? orientation : 1,
        std::move(icc), target));
}

} // namespace kivo
