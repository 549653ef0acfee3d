// SPDX-License-Identifier: GPL-3.0-or-later
// Rectangles of a PNG too large to decode whole. PNG has no random access: opening it streams
// the picture once and keeps two reduced levels (1/4 and 1/16, or coarser ones for a picture so
// large that 1/4 would not fit), which serve the fit view and every coarser read. Reads at full
// and half resolution stream the rows again, keeping only those of the rectangles asked for and
// stopping after the last of them; for the common kinds of PNG they start at the nearest row
// above the first one wanted whose decoder state an earlier read kept (pngrowindex.h).
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/pngrowindex.h"
#include "imaging/codecs/pngrows.h"
#include "imaging/codecs/qtdecoder.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"

#include <cstring>

namespace kivo {

namespace {

using namespace png;

// The finer kept level is the first from 1/4 whose bitmap stays under this.
constexpr qint64 kLargestKeptBytes = qint64(128) * 1024 * 1024;
constexpr int kRowsPerCancelCheck = 32;
constexpr size_t kMaxChunkBytes = 64 * 1024 * 1024;

// One streaming decode of the file's rows as display words (premultiplied where it has alpha).
class RowStream {
public:
    bool open(const FilePath& path) {
        if (!openForReading(file_, path))
            return false;
        context_.reset(spng_ctx_new(0));
        if (!context_)
            return false;
        spng_set_crc_action(context_.get(), SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
        spng_set_chunk_limits(context_.get(), kMaxChunkBytes, kMaxChunkBytes);
        spng_set_png_stream(context_.get(), readFromFile, &file_);
        return spng_get_ihdr(context_.get(), &header_) == 0;
    }

    const spng_ihdr& header() const { return header_; }
    spng_ctx* context() const { return context_.get(); }
    bool hasAlpha() {
        spng_trns trns{};
        return header_.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
               header_.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
               spng_get_trns(context_.get(), &trns) == 0;
    }

    bool start() {
        alpha_ = hasAlpha();
        deep_ = header_.bit_depth == 16;
        row_.resize(size_t(header_.width) * (deep_ ? 8 : 4));
        return spng_decode_image(context_.get(), nullptr, 0,
                                 deep_ ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8,
                                 SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) == 0;
    }

    // The next row as display words, or null when the data is broken or ends early.
    const QRgb* next(int y) {
        const int error = spng_decode_row(context_.get(), row_.data(), row_.size());
        if (error != 0 && !(error == SPNG_EOI && y == int(header_.height) - 1))
            return nullptr;
        convertRow(row_.data(), int(header_.width), deep_ ? RowKind::narrowed : RowKind::display,
                   alpha_);
        return reinterpret_cast<const QRgb*>(row_.data());
    }

private:
    QFile file_;
    Context context_;
    spng_ihdr header_{};
    std::vector<uchar> row_;
    bool alpha_ = false;
    bool deep_ = false;
};

class PngRegionReader final : public StoredRegionReader {
public:
    PngRegionReader(FilePath path, QSize stored, int orientation, PngColour colour, bool alpha,
                    std::vector<std::pair<int, QImage>> kept, std::unique_ptr<PngRowIndex> index,
                    DisplayProfile target)
        : StoredRegionReader(stored, orientation, kept.back().first, 30, colour.icc,
                             std::move(target))
        , path_(std::move(path))
        , space_(colour.space)
        , alpha_(alpha)
        , kept_(std::move(kept))
        , index_(std::move(index)) {}

protected:
    std::vector<Result<QImage>> readStored(const std::vector<QRect>& rects, int level,
                                           const std::atomic_bool* cancelled) const override {
        std::vector<Result<QImage>> results;
        if (level >= kept_.front().first) {
            for (const QRect& rect : rects)
                results.push_back(fromKept(rect, level));
            return results;
        }
        results = streamed(rects, level, cancelled);
        for (auto& result : results)
            if (result && space_.isValid())
                result->setColorSpace(space_);
        return results;
    }

private:
    // A rectangle cut from the finest kept level at or below `level`, scaled down to it.
    Result<QImage> fromKept(const QRect& rect, int level) const {
        const auto* kept = &kept_.front();
        for (const auto& candidate : kept_)
            if (candidate.first <= level)
                kept = &candidate;
        const int shift = level - kept->first;
        const QRect source(rect.x() << shift, rect.y() << shift, rect.width() << shift,
                           rect.height() << shift);
        const QRect inside = source & kept->second.rect();
        // The whole kept level (the fit view) is scaled without a copy of it first.
        QImage image = inside == kept->second.rect() ? kept->second : kept->second.copy(inside);
        if (shift > 0)
            image = image.scaled(rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (image.isNull())
            return Failure{FailureReason::tooLarge, QStringLiteral("tile")};
        return image; // tagged with the file's colour space as the kept level is
    }

    // Full-resolution rows of every rectangle in one pass, then each reduced to `level`.
    std::vector<Result<QImage>> streamed(const std::vector<QRect>& rects, int level,
                                         const std::atomic_bool* cancelled) const {
        const Failure damaged{FailureReason::damaged,
                              QStringLiteral("PNG data broken or cut short")};
        std::vector<Result<QImage>> results(rects.size(), damaged);
        const QRect whole(QPoint(0, 0), storedSize());
        std::vector<QRect> full;
        std::vector<QImage> images;
        int last = -1;
        for (const QRect& rect : rects) {
            full.push_back(QRect(rect.x() << level, rect.y() << level, rect.width() << level,
                                 rect.height() << level) &
                           whole);
            images.push_back(allocateImage(full.back().size(), displayFormat(alpha_)));
            if (images.back().isNull())
                return std::vector<Result<QImage>>(
                    rects.size(), Failure{FailureReason::tooLarge, QStringLiteral("tile")});
            last = std::max(last, full.back().bottom());
        }
        int y = 0; // the first row not read
        const auto take = [&](int row, const QRgb* pixels) {
            for (size_t i = 0; i < full.size(); ++i)
                if (row >= full[i].top() && row <= full[i].bottom())
                    std::memcpy(images[i].scanLine(row - full[i].top()), pixels + full[i].left(),
                                size_t(full[i].width()) * 4);
            y = row + 1;
        };
        if (index_) {
            int first = last;
            for (const QRect& rect : full)
                first = std::min(first, rect.top());
            index_->read(first, last, take, cancelled, {.keepStates = true, .helped = false});
        } else {
            RowStream stream;
            if (!stream.open(path_) || !stream.start())
                return results;
            for (int row = 0; row <= last; ++row) {
                if (row % kRowsPerCancelCheck == 0 && cancelled && cancelled->load())
                    break;
                const QRgb* pixels = stream.next(row);
                if (!pixels)
                    break;
                take(row, pixels);
            }
        }
        for (size_t i = 0; i < full.size(); ++i) {
            if (y <= full[i].bottom())
                continue;
            QImage image = std::move(images[i]);
            if (level > 0)
                image = image.scaled(levelSize(full[i].size(), level), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
            results[i] = std::move(image);
        }
        return results;
    }

    FilePath path_;
    QColorSpace space_;
    bool alpha_;
    std::vector<std::pair<int, QImage>> kept_; // by level, finest first
    std::unique_ptr<PngRowIndex> index_;       // null for the kinds of PNG it does not read
};

} // namespace

Result<RegionReaderPtr> openPngRegions(const FilePath& path, const DisplayProfile& target,
                                       bool anySize) {
    RowStream stream;
    // A header libspng refuses is left to the whole-picture path, which may still read it.
    if (!stream.open(path))
        return RegionReaderPtr();
    const spng_ihdr& header = stream.header();
    if (absurdPictureSize(header.width, header.height))
        return Failure{FailureReason::tooLarge, QStringLiteral("absurd declared size")};
    const QSize stored(int(header.width), int(header.height));
    // Interlaced rows arrive pass by pass: no row is complete before the last pass.
    if ((!anySize && !needsTiles(stored)) || header.interlace_method != 0)
        return RegionReaderPtr();
    int finer = 2;
    while (finer < 30 &&
           qint64(levelSize(stored, finer).width()) * levelSize(stored, finer).height() * 4 >
               kLargestKeptBytes)
        ++finer;
    const bool alpha = stream.hasAlpha();
    PngColour colour = colourOf(stream.context());
    std::vector<std::pair<int, QImage>> kept;
    for (int level : {finer, finer + 2})
        kept.emplace_back(level, allocateImage(levelSize(stored, level), displayFormat(alpha)));
    if (kept[0].second.isNull() || kept[1].second.isNull())
        return Failure{FailureReason::tooLarge, QStringLiteral("no memory for the levels")};
    if (!stream.start())
        return RegionReaderPtr();
    RowReducer<uchar, quint64> finerReducer(stored.width(), stored.height(), kept[0].second, false);
    RowReducer<uchar, quint64> coarserReducer(stored.width(), stored.height(), kept[1].second,
                                              false);
    const auto take = [&](int y, const QRgb* row) {
        finerReducer.add(y, reinterpret_cast<const uchar*>(row));
        coarserReducer.add(y, reinterpret_cast<const uchar*>(row));
    };
    const Failure damaged{FailureReason::damaged, QStringLiteral("PNG data broken or cut short")};
    // The first pass through the rows is also the one that keeps the states later reads start
    // from.
    std::unique_ptr<PngRowIndex> index = PngRowIndex::open(path);
    if (index) {
        if (!index->read(0, stored.height() - 1, take, nullptr, {}))
            return CancelScope::requested()
                       ? Failure{FailureReason::unreadable, QStringLiteral("cancelled")}
                       : damaged;
    } else {
        for (int y = 0; y < stored.height(); ++y) {
            if (y % kRowsPerCancelCheck == 0 && CancelScope::requested())
                return Failure{FailureReason::unreadable, QStringLiteral("cancelled")};
            const QRgb* row = stream.next(y);
            if (!row)
                return damaged;
            take(y, row);
        }
    }
    finerReducer.flush();
    coarserReducer.flush();
    if (colour.space.isValid())
        for (auto& level : kept)
            level.second.setColorSpace(colour.space);
    return RegionReaderPtr(std::make_shared<PngRegionReader>(
        path, stored, chunkExifOrientation(path), std::move(colour), alpha, std::move(kept),
        std::move(index), target));
}

} // namespace kivo
