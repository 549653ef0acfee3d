// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/pngrowindex.h"

#include "imaging/codecs/decodecore.h"
#include "imaging/tasks/cancellation.h"
#include "imaging/tasks/handoff.h"
#include "imaging/tasks/helperpool.h"

#include <QFile>
#include <QThread>
#include <QtEndian>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <unistd.h>
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
// Rows inflated ahead of the unfiltering at most.
constexpr int kRingRows = 32;
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
            // At the end of the data there is no more to give, but zlib may still hold output.
            if (stream_.avail_in == 0)
                refill();
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END)
                return stream_.avail_out == 0;
            if (status != Z_OK) // broken, or no progress: the data ends early
                return false;
        }
        return true;
    }

    // Whether the data ends after the last row, its checksum intact.
    bool endsHere() {
        uchar spare = 0;
        for (;;) {
            stream_.next_out = &spare;
            stream_.avail_out = 1;
            if (stream_.avail_in == 0)
                refill();
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END)
                return stream_.avail_out == 1;
            if (status != Z_OK || stream_.avail_out == 0) // more rows than the header says
                return false;
        }
    }

    // A copy of the inflater's state as it stands, at a row's start; the row above is the
    // caller's to add.
    std::shared_ptr<Checkpoint> keep() {
        auto checkpoint = std::make_shared<Checkpoint>();
        if (inflateCopy(&checkpoint->stream, &stream_) != Z_OK)
            return nullptr;
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
        const qint64 got =
            pread(file_.handle(), input_.data(), size_t(wanted), chunk->fileOffset + within);
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
    // Chunk headers are read one by one where they lie: through QFile's buffer each would read
    // a block of the data between them.
    const int fd = file.handle();
    const qint64 fileSize = file.size();
    char header[8];
    if (pread(fd, header, 8, 0) != 8 || std::memcmp(header, kSignature, 8) != 0)
        return nullptr;
    int width = 0, height = 0, channels = 0;
    std::vector<Chunk> chunks;
    qint64 streamOffset = 0;
    bool ended = false;
    for (qint64 at = 8; at + 12 <= fileSize && !ended;) {
        char head[8 + 13];
        if (pread(fd, head, sizeof head, at) < 8)
            return nullptr;
        const qint64 length = bigEndian(head);
        const QByteArray type(head + 4, 4);
        if (length > 0x7fffffff || at + 12 + length > fileSize)
            return nullptr;
        if (type == "IHDR") {
            const char* fields = head + 8;
            const quint32 w = bigEndian(fields), h = bigEndian(fields + 4);
            const int depth = fields[8], colour = fields[9], interlace = fields[12];
            if (length != 13 || w == 0 || h == 0 || w > 0x7fffffff || h > 0x7fffffff ||
                depth != 8 || (colour != 2 && colour != 6) || interlace != 0)
                return nullptr;
            width = int(w);
            height = int(h);
            channels = colour == 2 ? 3 : 4;
        } else if (type == "tRNS") {
            return nullptr; // a colour key: left to libspng, which applies it
        } else if (type == "IDAT") {
            if (!chunks.empty() && chunks.back().fileOffset + chunks.back().length + 4 != at)
                return nullptr; // the IDAT chunks must follow one another
            chunks.push_back({at + 8, streamOffset, length});
            streamOffset += length;
        }
        ended = type == "IEND";
        at += 12 + length;
    }
    // A file cut short before its end is left to libspng, which says what is wrong with it.
    if (!ended || channels == 0 || chunks.empty() || qint64(width) * channels > kLongestRow)
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

// One read's rows on their way through two rings: the reading thread inflates them into the
// first, they are unfiltered and converted into the second (on a helper, or on the reading thread
// when the helper has not started or is busy), and the reading thread hands them on from there.
// The helper touches nothing but this object and the index, so one that starts after the read is
// over finds it over and leaves.
struct PngRowIndex::Pipeline {
    Pipeline(const PngRowIndex& rowIndex, int firstRow, int wantedFrom, size_t slotCount,
             std::vector<uchar> above)
        : index(rowIndex)
        , wanted(wantedFrom)
        , filtered(slotCount, std::vector<uchar>(size_t(rowIndex.rowBytes()) + 1))
        , states(slotCount)
        , shown(slotCount, std::vector<QRgb>(size_t(rowIndex.width_)))
        , prior(std::move(above))
        , produced(firstRow)
        , unfiltered(firstRow)
        , taken(firstRow) {}

    const PngRowIndex& index;
    const int wanted; // rows above this are unfiltered only, for the rows below them
    std::vector<std::vector<uchar>> filtered;        // inflated rows, row r in slot r % size
    std::vector<std::shared_ptr<Checkpoint>> states; // the inflater's state kept before a row
    std::vector<std::vector<QRgb>> shown;            // converted rows, in the same slots
    std::vector<uchar> prior;                        // the last row unfiltered
    std::mutex mutex;
    std::condition_variable changed;
    int produced;           // the rows before this are inflated
    int unfiltered;         // ... unfiltered and converted
    int taken;              // ... handed on
    bool consuming = false; // a thread is unfiltering
    bool over = false;      // nothing more is unfiltered: done, failed, or the read returned
    bool failed = false;

    int slotCount() const { return int(filtered.size()); }
    bool unfilterable() const {
        return !over && !consuming && unfiltered < produced && unfiltered - taken < slotCount();
    }

    // Unfilters and converts one row; called only by the thread that set `consuming`.
    bool unfilterRow(int y) {
        const size_t slot = size_t(y) % filtered.size();
        if (auto& state = states[slot]) {
            state->prior = prior;
            index.keep(y, std::move(state));
            state.reset();
        }
        uchar* row = filtered[slot].data() + 1;
        const qint64 length = index.rowBytes();
        if (!unfilter(filtered[slot][0], row, prior.data(), length, index.channels_))
            return false;
        if (y >= wanted) {
            QRgb* words = shown[slot].data();
            const int width = index.width_;
            if (index.channels_ == 3)
                for (int x = 0; x < width; ++x)
                    words[x] = qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
            else
                for (int x = 0; x < width; ++x)
                    words[x] = qPremultiply(
                        qRgba(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]));
        }
        std::memcpy(prior.data(), row, size_t(length));
        return true;
    }

    // Unfilters the rows waiting while there is room for them, unless another thread is at it.
    void unfilterWaiting() {
        std::unique_lock lock(mutex);
        if (!unfilterable())
            return;
        consuming = true;
        while (!over && unfiltered < produced && unfiltered - taken < slotCount()) {
            const int y = unfiltered;
            lock.unlock();
            const bool ok = unfilterRow(y);
            lock.lock();
            if (ok) {
                ++unfiltered;
            } else {
                failed = true;
                over = true;
            }
            changed.notify_all();
        }
        consuming = false;
        changed.notify_all();
    }

    // A helper's part: unfilters while rows come, until the read is over.
    void help() {
        for (;;) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return over || unfilterable(); });
                if (over)
                    return;
            }
            unfilterWaiting();
        }
    }
};

// The reading thread hands on the rows converted so far, in order; the helper may be converting
// the next ones meanwhile, into other slots.
void PngRowIndex::handOn(Pipeline& p, const std::function<void(int, const QRgb*)>& take) const {
    std::unique_lock lock(p.mutex);
    while (p.taken < p.unfiltered) {
        const int y = p.taken;
        lock.unlock();
        if (y >= p.wanted)
            take(y, p.shown[size_t(y) % p.shown.size()].data());
        lock.lock();
        ++p.taken;
        p.changed.notify_all();
    }
}

bool PngRowIndex::read(int first, int last, const std::function<void(int, const QRgb*)>& take,
                       const std::atomic_bool* cancelled, Mode mode) const {
    first = std::max(first, 0);
    last = std::min(last, height_ - 1);
    if (first > last)
        return true;
    QFile file;
    if (!openForReading(file, path_))
        return false;
    Inflater inflater(*this, file);
    auto [start, checkpoint] = nearestAtOrAbove(first);
    if (!inflater.start(checkpoint.get()))
        return false;
    const int rows = last - start + 1;
    auto pipeline = std::make_shared<Pipeline>(
        *this, start, first, size_t(std::clamp(rows, 1, kRingRows)),
        checkpoint ? checkpoint->prior : std::vector<uchar>(size_t(rowBytes()), 0));
    Pipeline& p = *pipeline;
    const int slots = p.slotCount();
    // Worth a helper when there are rows enough for both threads to be busy.
    if (mode.helped && rows >= kRingRows && QThread::idealThreadCount() > 1)
        startOnPool(decodeHelperPool(), [pipeline] { pipeline->help(); });

    bool inflated = true;
    for (int y = start; y <= last && inflated; ++y) {
        handOn(p, take);
        {
            // A full ring is emptied by whoever is free, this thread included.
            std::unique_lock lock(p.mutex);
            while (!p.over && y - p.unfiltered >= slots) {
                if (p.unfilterable()) {
                    lock.unlock();
                    p.unfilterWaiting();
                    lock.lock();
                } else if (p.taken < p.unfiltered) {
                    lock.unlock();
                    handOn(p, take);
                    lock.lock();
                } else {
                    p.changed.wait(lock);
                }
            }
            if (p.over)
                break;
        }
        if (y % kRowsPerCancelCheck == 0 &&
            ((cancelled && cancelled->load()) || CancelScope::requested())) {
            inflated = false;
            break;
        }
        const size_t slot = size_t(y) % size_t(slots);
        if (mode.keepStates && y % interval_ == 0 && y > 0 && !kept(y))
            p.states[slot] = inflater.keep();
        inflated = inflater.nextRow(p.filtered[slot].data(), rowBytes() + 1);
        // The whole picture read: its data must end with it, its checksum intact.
        if (inflated && y == height_ - 1)
            inflated = inflater.endsHere();
        if (inflated) {
            const std::lock_guard lock(p.mutex);
            p.produced = y + 1;
            p.changed.notify_all();
        }
    }
    // The rows inflated are unfiltered (a helper may still be at it) and handed on; then the
    // read is over for any helper that has yet to start.
    for (;;) {
        handOn(p, take);
        std::unique_lock lock(p.mutex);
        if (p.over || p.taken == p.produced) {
            p.over = true;
            p.changed.notify_all();
            p.changed.wait(lock, [&] { return !p.consuming; });
            break;
        }
        if (p.unfilterable()) {
            lock.unlock();
            p.unfilterWaiting();
        } else if (p.taken == p.unfiltered) {
            p.changed.wait(lock);
        }
    }
    return inflated && !p.failed && p.taken == last + 1;
}

} // namespace kivo
