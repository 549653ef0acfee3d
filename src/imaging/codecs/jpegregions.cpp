// SPDX-License-Identifier: GPL-3.0-or-later
// Rectangles of a JPEG too large to decode whole, through libjpeg's own API: DCT scaling for the
// reduced levels, jpeg_crop_scanline for the columns and jpeg_skip_scanlines for the rows (which
// still reads the entropy-coded data above a rectangle, but skips its inverse DCT and colour
// conversion). Several rectangles share one pass from top to bottom.
#include "imaging/bytes/bytereader.h"
#include "imaging/codecs/decodecore.h"
#include "imaging/codecs/regionbase.h"
#include "imaging/metadata/orientation.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace kivo {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// the setjmp of the pass. Nothing with a destructor lives between the two.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool endOfData = false;
};

[[noreturn]] void jumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// A warning (a corrupt Huffman code, data cut short) lets decoding go on painting grey; data
// cut short is remembered, so that the rectangles with rows past it fail instead of showing grey.
void noteWarning(j_common_ptr info, int level) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        errors->endOfData = true;
}

// Closes the stdio stream of a pass; the descriptor is a duplicate of the checked open.
struct StreamCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using Stream = std::unique_ptr<FILE, StreamCloser>;

Stream openStream(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return nullptr;
    const int fd = ::dup(file.handle());
    if (fd < 0)
        return nullptr;
    FILE* stream = ::fdopen(fd, "rb");
    if (!stream)
        ::close(fd);
    return Stream(stream);
}

// What one pass needs: the rectangles on the level's grid, sorted by their top row, and the
// bitmaps they fill. Plain data only, since the pass may be left by longjmp.
struct PassPlan {
    const QRect* rects = nullptr;
    uchar** rows = nullptr; // first row of each rectangle's bitmap
    const qsizetype* lineBytes = nullptr;
    int* rowsDone = nullptr; // rows filled so far, per rectangle
    size_t count = 0;
    int bytesPerPixel = 4;
    int level = 0;
    bool grey = false;
    const std::atomic_bool* cancelled = nullptr;
};

// The next row at or below `from` that some rectangle needs; `end` when none does.
int nextNeededRow(const PassPlan& plan, int from, int end) {
    int next = end;
    for (size_t i = 0; i < plan.count; ++i) {
        const QRect& r = plan.rects[i];
        if (r.bottom() >= from)
            next = std::min(next, std::max(from, r.top()));
    }
    return next;
}

// Returns false on a fatal libjpeg error; `errors.endOfData` tells of data cut short.
bool runPass(FILE* stream, const PassPlan& plan, JpegErrors& errors, uchar* scratch,
             size_t scratchBytes) {
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpOnError;
    errors.manager.emit_message = noteWarning;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, stream);
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = 1u << plan.level;
    info.dct_method = JDCT_ISLOW;
    info.out_color_space =
        plan.grey ? JCS_GRAYSCALE : (Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB);
    jpeg_start_decompress(&info);
    int left = int(info.output_width), right = 0, end = 0;
    for (size_t i = 0; i < plan.count; ++i) {
        left = std::min(left, plan.rects[i].left());
        right = std::max(right, plan.rects[i].right() + 1);
        end = std::max(end, plan.rects[i].bottom() + 1);
    }
    JDIMENSION cropLeft = JDIMENSION(left), cropWidth = JDIMENSION(right - left);
    if (cropWidth < info.output_width)
        jpeg_crop_scanline(&info, &cropLeft, &cropWidth);
    if (size_t(cropWidth) * size_t(plan.bytesPerPixel) > scratchBytes)
        ERREXIT(&info, JERR_BUFFER_SIZE);
    const int shift = left - int(cropLeft);
    end = std::min(end, int(info.output_height));
    int row = 0;
    while ((row = nextNeededRow(plan, int(info.output_scanline), end)) < end) {
        if (plan.cancelled && plan.cancelled->load(std::memory_order_relaxed))
            break;
        if (row > int(info.output_scanline))
            jpeg_skip_scanlines(&info, JDIMENSION(row - int(info.output_scanline)));
        JSAMPROW line = scratch;
        if (jpeg_read_scanlines(&info, &line, 1) != 1)
            break;
        for (size_t i = 0; i < plan.count; ++i) {
            const QRect& r = plan.rects[i];
            if (row < r.top() || row > r.bottom())
                continue;
            std::memcpy(plan.rows[i] + qsizetype(row - r.top()) * plan.lineBytes[i],
                        scratch + size_t(shift + r.left() - left) * size_t(plan.bytesPerPixel),
                        size_t(r.width()) * size_t(plan.bytesPerPixel));
            if (!errors.endOfData) // past the end of the data a row is painted grey
                plan.rowsDone[i] = row - r.top() + 1;
        }
    }
    jpeg_abort_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

class JpegRegionReader final : public StoredRegionReader {
public:
    JpegRegionReader(FilePath path, QSize stored, int orientation, QByteArray icc, bool grey,
                     DisplayProfile target)
        : StoredRegionReader(stored, orientation, 3, 3, icc, std::move(target))
        , path_(std::move(path))
        , grey_(grey) {}

protected:
    std::vector<Result<QImage>> readStored(const std::vector<QRect>& rects, int level,
                                           const std::atomic_bool* cancelled) const override {
        std::vector<Result<QImage>> results;
        const Failure damaged{FailureReason::damaged, QStringLiteral("the JPEG data ends early")};
        std::vector<size_t> order(rects.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(),
                  [&](size_t a, size_t b) { return rects[a].top() < rects[b].top(); });
        std::vector<QRect> sorted;
        std::vector<QImage> images;
        std::vector<uchar*> rows;
        std::vector<qsizetype> lineBytes;
        const auto format = grey_ ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
        for (size_t i : order) {
            sorted.push_back(rects[i]);
            images.push_back(allocateImage(rects[i].size(), format));
            if (images.back().isNull())
                return std::vector<Result<QImage>>(
                    rects.size(), Failure{FailureReason::tooLarge, QStringLiteral("tile")});
            rows.push_back(images.back().bits());
            lineBytes.push_back(images.back().bytesPerLine());
        }
        std::vector<int> done(rects.size(), 0);
        PassPlan plan;
        plan.rects = sorted.data();
        plan.rows = rows.data();
        plan.lineBytes = lineBytes.data();
        plan.rowsDone = done.data();
        plan.count = sorted.size();
        plan.bytesPerPixel = grey_ ? 1 : 4;
        plan.level = level;
        plan.grey = grey_;
        plan.cancelled = cancelled;
        // Wide enough for a whole row at this level plus an iMCU of crop alignment each side.
        std::vector<uchar> scratch(size_t(levelSize(storedSize(), level).width() + 64) *
                                   size_t(plan.bytesPerPixel));
        JpegErrors errors;
        Stream stream = openStream(path_);
        const bool ran =
            stream && runPass(stream.get(), plan, errors, scratch.data(), scratch.size());
        results.assign(rects.size(), damaged);
        for (size_t k = 0; k < order.size(); ++k) {
            if (ran && done[k] == sorted[k].height())
                results[order[k]] = std::move(images[k]);
            else if (cancelled && cancelled->load())
                results[order[k]] = Failure{FailureReason::unreadable, QStringLiteral("cancelled")};
        }
        return results;
    }

private:
    FilePath path_;
    bool grey_;
};

} // namespace

Result<RegionReaderPtr> openJpegRegions(const FilePath& path, const DisplayProfile& target,
                                        bool anySize) {
    Stream stream = openStream(path);
    if (!stream)
        return Failure{FailureReason::unreadable, QStringLiteral("cannot open")};
    // The markers before the first scan: size, components, progressive or not, EXIF and ICC.
    QByteArray head(256 * 1024, Qt::Uninitialized);
    head.resize(qsizetype(std::fread(head.data(), 1, size_t(head.size()), stream.get())));
    std::fseek(stream.get(), 0, SEEK_END);
    const qint64 fileBytes = std::ftell(stream.get());
    JpegHeader markers = readJpegHeader(head);
    if (!markers.frame)
        return RegionReaderPtr(); // markers past the first 256 KB: decoded whole as before
    const QSize stored(markers.frame->width, markers.frame->height);
    if (absurdPictureSize(stored.width(), stored.height()))
        return Failure{FailureReason::tooLarge, QStringLiteral("absurd declared size")};
    if (!anySize && !needsTiles(stored))
        return RegionReaderPtr();
    // As for a whole decode: a file far smaller than its declared size is forged or cut short.
    if (qint64(stored.width()) * stored.height() / 1024 > fileBytes)
        return Failure{FailureReason::damaged, QStringLiteral("far smaller than declared")};
    // Progressive JPEGs hold every coefficient of the picture for any region; CMYK goes
    // through its own conversion. Both are decoded whole, or refused, as before.
    const int components = markers.frame->components;
    if (markers.frame->progressive || markers.frame->precision != 8 ||
        (components != 1 && components != 3))
        return RegionReaderPtr();
    const bool greyWithProfile = components == 1 && !markers.icc.isEmpty();
    return RegionReaderPtr(std::make_shared<JpegRegionReader>(
        path, stored, exifOrientation(markers.exif),
        greyWithProfile || components == 3 ? markers.icc : QByteArray(), greyWithProfile, target));
}

} // namespace kivo
