// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/pngrowindex.h"

#include "imaging/codecs/decodecore.h"
#include "imaging/tasks/cancellation.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace kivo {

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
// The kept states together stay under this; each holds zlib's state and window and one row.
constexpr qint64 kIndexBytes = qint64(16) << 20;
constexpr qint64 kInflaterStateBytes = 48 * 1024;
constexpr int kFewestRowsApart = 16;
// A row wider than this is left to the plain streaming decode.
constexpr qint64 kLongestRow = qint64(64) << 20;
constexpr int kRowsPerCancelCheck = 32;
constexpr size_t kInputBytes = 64 * 1024;

quint32 bigEndian(const char* bytes) {
    return qFromBigEndian<quint32>(bytes);
}

// The PNG filters undone on one row in place, `prior` being the row above (zeros for the first).
bool unfilter(int type, uchar* row, const uchar* prior, qint64 length, int bpp) {
    switch (type) {
    case 0:
        return true;
    case 1:
        for (qint64 i = bpp; i < length; ++i)
            row[i] = uchar(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (qint64 i = 0; i < length; ++i)
            row[i] = uchar(row[i] + prior[i]);
        return true;
    case 3:
        for (qint64 i = 0; i < length; ++i)
            row[i] = uchar(row[i] + ((i >= bpp ? row[i - bpp] : 0) + prior[i]) / 2);
        return true;
    case 4:
        for (qint64 i = 0; i < length; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = prior[i],
                      c = i >= bpp ? prior[i - bpp] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                      pc = std::abs(p - c);
            row[i] = uchar(row[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
        }
        return true;
    default:
        return false;
    }
}

} // namespace

struct PngRowIndex::Checkpoint {
    z_stream stream{};
    std::vector<uchar> prior; // the unfiltered row above the kept one
    qint64 consumed = 0;      // where in the IDAT data the inflater reads next
    Checkpoint() = default;
    Checkpoint(const Checkpoint&) = delete;
    Checkpoint& operator=(const Checkpoint&) = delete;
    ~Checkpoint() { inflateEnd(&stream); }
};

// zlib's inflater over the concatenated data of the IDAT chunks, from the top or from a kept
// state, a row at a time.
class PngRowIndex::Inflater {
public:
    Inflater(const PngRowIndex& index, QFile& file)
        : index_(index)
        , file_(file)
        , input_(kInputBytes) {}
    ~Inflater() {
        if (started_)
            inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool start(const Checkpoint* from) {
        const int status = from ? inflateCopy(&stream_, const_cast<z_stream*>(&from->stream))
                                : inflateInit(&stream_);
        started_ = status == Z_OK;
        stream_.next_in = nullptr;
        stream_.avail_in = 0;
        next_ = from ? from->consumed : 0;
        return started_;
    }

    // The next row, its filter byte first, into `row`; false when the data is broken or ends.
    bool nextRow(uchar* row, qint64 length) {
        stream_.next_out = row;
        stream_.avail_out = uInt(length);
        while (stream_.avail_out > 0) {
            if (stream_.avail_in == 0 && !refill())
                return false;
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END)
                return stream_.avail_out == 0;
            if (status != Z_OK)
                return false;
        }
        return true;
    }

    // A copy of the inflater's state as it stands, at a row's start, with `prior` above it.
    std::shared_ptr<const Checkpoint> keep(const std::vector<uchar>& prior) {
        auto checkpoint = std::make_shared<Checkpoint>();
        if (inflateCopy(&checkpoint->stream, &stream_) != Z_OK)
            return nullptr;
        checkpoint->prior = prior;
        checkpoint->consumed = next_ - qint64(stream_.avail_in);
        return checkpoint;
    }

private:
    bool refill() {
        const auto& chunks = index_.chunks_;
        auto chunk =
            std::upper_bound(chunks.begin(), chunks.end(), next_,
                             [](qint64 at, const Chunk& c) { return at < c.streamOffset; });
        if (chunk == chunks.begin())
            return false;
        --chunk;
        const qint64 within = next_ - chunk->streamOffset;
        if (within >= chunk->length)
            return false; // past the last chunk
        const qint64 wanted = std::min<qint64>(qint64(input_.size()), chunk->length - within);
        if (!file_.seek(chunk->fileOffset + within))
            return false;
        const qint64 got = file_.read(reinterpret_cast<char*>(input_.data()), wanted);
        if (got <= 0)
            return false;
        stream_.next_in = input_.data();
        stream_.avail_in = uInt(got);
        next_ += got;
        return true;
    }

    const PngRowIndex& index_;
    QFile& file_;
    std::vector<uchar> input_;
    z_stream stream_{};
    bool started_ = false;
    qint64 next_ = 0; // where in the IDAT data the next read starts
};

std::unique_ptr<PngRowIndex> PngRowIndex::open(const FilePath& path) {
    QFile file;
    if (!openForReading(file, path))
        return nullptr;
    char header[8];
    if (file.read(header, 8) != 8 || std::memcmp(header, kSignature, 8) != 0)
        return nullptr;
    const qint64 fileSize = file.size();
    int width = 0, height = 0, channels = 0;
    std::vector<Chunk> chunks;
    qint64 streamOffset = 0;
    for (qint64 at = 8; at + 12 <= fileSize;) {
        char head[8];
        if (!file.seek(at) || file.read(head, 8) != 8)
            return nullptr;
        const qint64 length = bigEndian(head);
        const QByteArray type(head + 4, 4);
        if (length > 0x7fffffff || at + 12 + length > fileSize)
            return nullptr;
        if (type == "IHDR") {
            char fields[13];
            if (length != 13 || file.read(fields, 13) != 13)
                return nullptr;
            const quint32 w = bigEndian(fields), h = bigEndian(fields + 4);
            const int depth = fields[8], colour = fields[9], interlace = fields[12];
            if (w == 0 || h == 0 || w > 0x7fffffff || h > 0x7fffffff || depth != 8 ||
                (colour != 2 && colour != 6) || interlace != 0)
                return nullptr;
            width = int(w);
            height = int(h);
            channels = colour == 2 ? 3 : 4;
        } else if (type == "tRNS") {
            return nullptr; // a colour key: left to libspng, which applies it
        } else if (type == "IDAT") {
            if (!chunks.empty() && chunks.back().fileOffset + chunks.back().length + 4 != at)
                return nullptr; // IDAT chunks must follow one another
            chunks.push_back({at + 8, streamOffset, length});
            streamOffset += length;
        } else if (!chunks.empty() || type == "IEND") {
            break;
        }
        at += 12 + length;
    }
    if (channels == 0 || chunks.empty() || qint64(width) * channels > kLongestRow)
        return nullptr;
    return std::unique_ptr<PngRowIndex>(
        new PngRowIndex(path, width, height, channels, std::move(chunks)));
}

PngRowIndex::PngRowIndex(FilePath path, int width, int height, int channels,
                         std::vector<Chunk> chunks)
    : path_(std::move(path))
    , width_(width)
    , height_(height)
    , channels_(channels)
    , chunks_(std::move(chunks)) {
    const qint64 perCheckpoint = kInflaterStateBytes + qint64(width) * channels;
    const qint64 count = std::max<qint64>(1, kIndexBytes / perCheckpoint);
    interval_ = int(std::max<qint64>(kFewestRowsApart, (height + count - 1) / count));
}

PngRowIndex::~PngRowIndex() = default;

std::pair<int, std::shared_ptr<const PngRowIndex::Checkpoint>>
PngRowIndex::nearestAtOrAbove(int row) const {
    const std::lock_guard lock(mutex_);
    auto found = checkpoints_.upper_bound(row);
    if (found == checkpoints_.begin())
        return {0, nullptr};
    --found;
    return {found->first, found->second};
}

bool PngRowIndex::kept(int row) const {
    const std::lock_guard lock(mutex_);
    return checkpoints_.contains(row);
}

void PngRowIndex::keep(int row, std::shared_ptr<const Checkpoint> checkpoint) const {
    const std::lock_guard lock(mutex_);
    checkpoints_.try_emplace(row, std::move(checkpoint));
}

bool PngRowIndex::read(int first, int last, const std::function<void(int, const QRgb*)>& take,
                       const std::atomic_bool* cancelled) const {
    first = std::max(first, 0);
    last = std::min(last, height_ - 1);
    if (first > last)
        return true;
    QFile file;
    if (!openForReading(file, path_))
        return false;
    const qint64 length = qint64(width_) * channels_;
    std::vector<uchar> filtered(size_t(length) + 1), prior(size_t(length), 0), display;
    display.resize(size_t(width_) * 4);
    Inflater inflater(*this, file);
    auto [y, checkpoint] = nearestAtOrAbove(first);
    if (!inflater.start(checkpoint.get()))
        return false;
    if (checkpoint)
        prior = checkpoint->prior;
    for (; y <= last; ++y) {
        if (y % kRowsPerCancelCheck == 0 &&
            ((cancelled && cancelled->load()) || CancelScope::requested()))
            return false;
        if (y % interval_ == 0 && y > 0 && !kept(y))
            if (auto state = inflater.keep(prior))
                keep(y, std::move(state));
        if (!inflater.nextRow(filtered.data(), length + 1))
            return false;
        uchar* row = filtered.data() + 1;
        if (!unfilter(filtered[0], row, prior.data(), length, channels_))
            return false;
        if (y >= first) {
            auto* words = reinterpret_cast<QRgb*>(display.data());
            if (channels_ == 3)
                for (int x = 0; x < width_; ++x)
                    words[x] = qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
            else
                for (int x = 0; x < width_; ++x)
                    words[x] = qPremultiply(
                        qRgba(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]));
            take(y, words);
        }
        std::memcpy(prior.data(), row, size_t(length));
    }
    return true;
}

} // namespace kivo
