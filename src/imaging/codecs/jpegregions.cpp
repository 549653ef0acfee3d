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

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
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
    const int fd = openOwnDescriptor(path);
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

// Where the restart intervals that start whole MCU rows begin, found once by scanning the
// data, so that a read can start at the interval above its first row instead of at the top
// of the file: libjpeg then gets the header with the picture's height reduced to the rows from
// there down, followed by the data from there on.
struct RestartIndex {
    QByteArray header;             // the file up to its scan data
    int heightAt = -1;             // where the frame header's height is in it
    int height = 0;                // stored rows
    int mcuHeight = 0;             // stored rows per MCU row
    std::vector<qint64> rowStart;  // per MCU row, the file offset of its interval; -1: none
    std::vector<quint8> rowNumber; // per MCU row, its interval's number, modulo 8
};

// Serves a reduced picture: the patched header, then the file from one interval on, its
// restart markers renumbered as if that interval were the first.
struct RestartSource {
    jpeg_source_mgr manager;
    FILE* file;
    const QByteArray* header;
    bool headerServed;
    bool afterFF;
    int renumber;
    JOCTET buffer[64 * 1024];
};

boolean fillFromRestart(j_decompress_ptr info) {
    auto* source = reinterpret_cast<RestartSource*>(info->src);
    if (!source->headerServed) {
        source->headerServed = true;
        source->manager.next_input_byte =
            reinterpret_cast<const JOCTET*>(source->header->constData());
        source->manager.bytes_in_buffer = size_t(source->header->size());
        return TRUE;
    }
    size_t got = std::fread(source->buffer, 1, sizeof source->buffer, source->file);
    if (got == 0) { // as libjpeg's own sources: warn and end the picture there
        WARNMS(info, JWRN_JPEG_EOF);
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        got = 2;
    } else {
        for (size_t i = 0; i < got; ++i) {
            JOCTET& byte = source->buffer[i];
            if (source->afterFF && byte >= JPEG_RST0 && byte <= JPEG_RST0 + 7)
                byte = JOCTET(JPEG_RST0 + ((byte - JPEG_RST0 - source->renumber) & 7));
            source->afterFF = byte == 0xFF;
        }
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = got;
    return TRUE;
}

void skipFromRestart(j_decompress_ptr info, long count) {
    jpeg_source_mgr* source = info->src;
    while (count > long(source->bytes_in_buffer)) {
        count -= long(source->bytes_in_buffer);
        source->bytes_in_buffer = 0;
        fillFromRestart(info);
    }
    if (count > 0) {
        source->next_input_byte += count;
        source->bytes_in_buffer -= size_t(count);
    }
}

void noSourceAction(j_decompress_ptr) {}

// Where a pass starts: the top of the file, or an MCU row's restart interval.
struct PassStart {
    const RestartIndex* index = nullptr;
    int mcuRow = 0;
    QByteArray* header = nullptr; // scratch for the patched header
    RestartSource* source = nullptr;
};

// Returns false on a fatal libjpeg error; `errors.endOfData` tells of data cut short.
bool runPass(FILE* stream, const PassPlan& plan, const PassStart& start, JpegErrors& errors,
             uchar* scratch, size_t scratchBytes) {
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
    if (start.mcuRow > 0) {
        RestartSource* source = start.source;
        std::memset(&source->manager, 0, sizeof source->manager);
        source->manager.init_source = noSourceAction;
        source->manager.fill_input_buffer = fillFromRestart;
        source->manager.skip_input_data = skipFromRestart;
        source->manager.resync_to_restart = jpeg_resync_to_restart;
        source->manager.term_source = noSourceAction;
        source->file = stream;
        source->header = start.header;
        source->headerServed = false;
        source->afterFF = false;
        source->renumber = start.index->rowNumber[size_t(start.mcuRow)];
        info.src = &source->manager;
    } else {
        jpeg_stdio_src(&info, stream);
    }
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
    // Chroma upsampling blends each pixel with its neighbours: a crop keeps an iMCU column
    // beyond each side of the rectangles, so their edge pixels come out as in a full decode.
    const int margin = info.max_h_samp_factor * info.min_DCT_scaled_size;
    const int cropFrom = std::max(0, left - margin);
    const int cropTo = std::min(int(info.output_width), right + margin);
    JDIMENSION cropLeft = JDIMENSION(cropFrom), cropWidth = JDIMENSION(cropTo - cropFrom);
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

// The frame header's height field in `header`, or -1.
int frameHeightOffset(const QByteArray& header) {
    qsizetype at = 2;
    while (at + 9 <= header.size()) {
        if (uchar(header[at]) != 0xFF)
            return -1;
        const uchar marker = uchar(header[at + 1]);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const int length = (uchar(header[at + 2]) << 8) | uchar(header[at + 3]);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return int(at + 5);
        at += 2 + length;
    }
    return -1;
}

// The index of a sequential JPEG in one interleaved scan with restart markers; null for any
// other, or a file that cannot be read.
std::unique_ptr<RestartIndex> buildRestartIndex(FILE* stream) {
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpOnError;
    errors.manager.emit_message = noteWarning;
    long scanStart = 0;
    int restartInterval = 0, mcuWidth = 8, mcuHeight = 8, width = 0, height = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return nullptr;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, stream);
    jpeg_read_header(&info, TRUE);
    const bool single = info.comps_in_scan == info.num_components && !info.progressive_mode;
    restartInterval = single ? int(info.restart_interval) : 0;
    if (info.comps_in_scan > 1) {
        mcuWidth = 8 * info.max_h_samp_factor;
        mcuHeight = 8 * info.max_v_samp_factor;
    }
    width = int(info.image_width);
    height = int(info.image_height);
    scanStart = std::ftell(stream) - long(info.src->bytes_in_buffer);
    jpeg_destroy_decompress(&info);
    if (restartInterval <= 0 || scanStart <= 0)
        return nullptr;

    auto index = std::make_unique<RestartIndex>();
    index->height = height;
    index->mcuHeight = mcuHeight;
    index->header.resize(scanStart);
    std::rewind(stream);
    if (std::fread(index->header.data(), 1, size_t(scanStart), stream) != size_t(scanStart))
        return nullptr;
    index->heightAt = frameHeightOffset(index->header);
    if (index->heightAt < 0)
        return nullptr;
    const qint64 mcusPerRow = (width + mcuWidth - 1) / mcuWidth;
    const int mcuRows = (height + mcuHeight - 1) / mcuHeight;
    index->rowStart.assign(size_t(mcuRows), -1);
    index->rowNumber.assign(size_t(mcuRows), 0);
    index->rowStart[0] = scanStart;
    std::vector<uchar> chunk(1024 * 1024);
    qint64 offset = scanStart, interval = 0;
    bool afterFF = false;
    for (size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), stream)) > 0;
         offset += qint64(got)) {
        for (size_t i = 0; i < got; ++i) {
            const uchar byte = chunk[i];
            if (afterFF && byte != 0 && byte != 0xFF) {
                if (byte < JPEG_RST0 || byte > JPEG_RST0 + 7)
                    return index; // the end of the scan
                const qint64 mcu = ++interval * restartInterval;
                if (mcu % mcusPerRow == 0 && mcu / mcusPerRow < mcuRows) {
                    index->rowStart[size_t(mcu / mcusPerRow)] = offset + qint64(i) + 1;
                    index->rowNumber[size_t(mcu / mcusPerRow)] = quint8(interval % 8);
                }
            }
            afterFF = byte == 0xFF;
        }
    }
    return index;
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
        // Start at the restart interval an MCU row above the first row wanted (the row above
        // gives the chroma upsampling the context it has in a decode from the top).
        PassStart start;
        QByteArray header;
        std::unique_ptr<RestartSource> source;
        std::call_once(indexOnce_, [&] {
            if (Stream scan = openStream(path_))
                index_ = buildRestartIndex(scan.get());
        });
        const int firstStoredRow = sorted.empty() ? 0 : (sorted.front().top() << level);
        if (stream && index_) {
            start.index = index_.get();
            int row =
                std::min(firstStoredRow / index_->mcuHeight - 1, int(index_->rowStart.size()) - 1);
            while (row > 0 && index_->rowStart[size_t(row)] < 0)
                --row;
            if (row > 0 &&
                std::fseek(stream.get(), long(index_->rowStart[size_t(row)]), SEEK_SET) == 0) {
                start.mcuRow = row;
                const int skipped = row * index_->mcuHeight;
                header = index_->header;
                const int rest = index_->height - skipped;
                header[index_->heightAt] = char((rest >> 8) & 0xFF);
                header[index_->heightAt + 1] = char(rest & 0xFF);
                start.header = &header;
                source = std::make_unique<RestartSource>();
                start.source = source.get();
                for (QRect& rect : sorted)
                    rect.translate(0, -(skipped >> level));
            }
        }
        const bool ran =
            stream && runPass(stream.get(), plan, start, errors, scratch.data(), scratch.size());
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
    mutable std::once_flag indexOnce_;
    mutable std::unique_ptr<RestartIndex> index_; // set once, under indexOnce_
};

} // namespace

Result<RegionReaderPtr> openJpegRegions(const FilePath& path, const DisplayProfile& target,
                                        bool anySize) {
    Stream stream = openStream(path);
    if (!stream) // the whole-picture path says why
        return RegionReaderPtr();
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
