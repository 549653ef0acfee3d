// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Rows of a large PNG read from anywhere in its data. PNG compresses all its rows as one zlib
// stream, so reaching a row means inflating every row above it. The first read that passes a
// row keeps the inflater's state there (zlib's inflateCopy: its 32 KB window and bit position)
// every so many rows, with the row before, which the next row's filter refers to; a later read
// starts at the nearest kept row above the first one it wants.

#include "imaging/filepath.h"

#include <QImage>
#include <QtGlobal>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace kivo {

class PngRowIndex {
public:
    // An index for `path` when its rows are of the kinds it decodes itself (8-bit RGB or RGBA,
    // not interlaced, without a colour key: what large PNGs are); null otherwise, or when the
    // file's chunks cannot be walked.
    static std::unique_ptr<PngRowIndex> open(const FilePath& path);
    ~PngRowIndex();

    // Hands rows first..last to `take` as display words (opaque, or premultiplied with alpha), in
    // order. Stops at broken or missing data and once `cancelled` is set or the decode running
    // on this thread is cancelled: whether every row came.
    // How a read goes about it. `keepStates`: the rows passed keep their decoder states for later
    // reads; a read that will not come back (a whole picture, once) does without. `helped`: the
    // rows are unfiltered on a helper thread while the next ones inflate, for a read someone waits
    // for with the machine otherwise idle (a picture opening); tiles read while the user pans
    // leave the other core to the view.
    struct Mode {
        bool keepStates = true;
        bool helped = true;
    };
    bool read(int first, int last, const std::function<void(int, const QRgb*)>& take,
              const std::atomic_bool* cancelled, Mode mode) const;

    // How many rows apart the kept states are.
    int interval() const { return interval_; }

private:
    struct Chunk {
        qint64 fileOffset;   // of the chunk's data
        qint64 streamOffset; // of its first byte in the concatenated data of the IDAT chunks
        qint64 length;
    };
    struct Checkpoint;
    class Inflater;
    struct Pipeline;

    PngRowIndex(FilePath path, int width, int height, int channels, std::vector<Chunk> chunks);
    qint64 rowBytes() const { return qint64(width_) * channels_; }
    void handOn(Pipeline& pipeline, const std::function<void(int, const QRgb*)>& take) const;
    // The kept state nearest above or at `row`, and its row; none, and row 0, before any.
    std::pair<int, std::shared_ptr<const Checkpoint>> nearestAtOrAbove(int row) const;
    bool kept(int row) const;
    void keep(int row, std::shared_ptr<const Checkpoint> checkpoint) const;

    FilePath path_;
    int width_;
    int height_;
    int channels_; // 3 or 4
    int interval_;
    std::vector<Chunk> chunks_;
    mutable std::mutex mutex_;
    mutable std::map<int, std::shared_ptr<const Checkpoint>> checkpoints_; // by row
};

} // namespace kivo
