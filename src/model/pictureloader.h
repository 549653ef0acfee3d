// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/image.h"
#include "imaging/pixels/displayprofile.h"
#include "imaging/result.h"
#include "imaging/tasks/pendingresult.h"

#include <QFuture>
#include <QObject>
#include <QSize>
#include <atomic>
#include <functional>
#include <memory>

class QThreadPool;

namespace kivo {

// The first level of a file for a view of `box` device pixels, ready to draw: what a window
// decodes first. A file may carry a preview smaller than the box (a HEIF thumbnail item): with
// `preview` given, that gets it as soon as it is decoded, and the level that fills the box
// follows as the result, a level of the same picture (the preview itself when the rest of the
// file cannot be decoded); without, the preview is the result, which PictureLoader follows with
// the level that fills the box. Safe on any thread.
Result<ImagePtr> decodeFirstLevel(const FilePath& url, QSize box, const DisplayProfile& target = {},
                                  const std::function<void(ImagePtr)>& preview = {});

// A first level decoding on a pool, and the preview the file may show meanwhile (a future that
// finishes with no result when there is none).
struct FirstLevelDecode {
    QFuture<Result<ImagePtr>> level;
    QFuture<ImagePtr> preview;
};

// Starts decodeFirstLevel on `pool`; `wanted` (asked on the worker) skips a decode no longer
// needed.
FirstLevelDecode startFirstLevel(QThreadPool& pool, const FilePath& url, QSize box,
                                 const DisplayProfile& target, std::function<bool()> wanted,
                                 int priority = 0);

// A first level already decoding when the window that shows it does not exist yet: a launch
// starts it before the display connection is made.
struct EarlyDecode {
    FilePath url;
    QSize box;
    FirstLevelDecode decode;
};

// Brings the window's current picture on screen in levels: first a level that fills the
// window, decoded cheaply where the format allows (a reduced JPEG or WebP, a raw file's
// preview), then, when the model asks for it, a sharper one: a level for a window grown
// larger, or the full resolution when the view looks closer than a level can show (zoomed in,
// Actual Size, Copy Image, the histogram). Each is decoded on a worker and handed over as a
// refinement of the same picture. A fitted picture never needs more than its level, so
// flicking through a folder decodes and holds only what the window shows.
//
// Results arrive on the GUI thread through watchers this object owns, and only the latest
// request's: stepping on, reloading or closing the window drops a decode still running, and one
// not yet started never starts.
class PictureLoader : public QObject {
    Q_OBJECT

public:
    explicit PictureLoader(QThreadPool& pool, QObject* parent = nullptr);
    ~PictureLoader() override;

    // Starts on `url`, decoding a level for `box` (device pixels; invalid: the full picture).
    // `preloaded`, when given, is already decoded and shown.
    void load(const FilePath& url, ImagePtr preloaded, QSize box);
    // Starts decoding the first level of a file a window is about to open (while the window
    // itself is still being built and shown); the load() that follows for it takes it over.
    void prefetch(const FilePath& url, QSize box);
    void prefetch(const EarlyDecode& early);
    // Starts on `url` by waiting for a decode already running for it (a neighbour's preload that
    // the user stepped onto), rather than decoding it a second time.
    void adopt(const FilePath& url, QFuture<ImagePtr> running, QSize box);
    // A level that fills `box` is needed now (invalid: the full resolution); nothing happens
    // when one as good is shown or on its way.
    void needLevel(QSize box);
    // Pictures from now on are converted to `target`. The picture shown is decoded again for it
    // and handed over as a level of the same picture, so the view changes colour, not place.
    void setTarget(const DisplayProfile& target);
    // Forgets the current file: whatever is still decoding for it is dropped.
    void stop();
    // Whether what is shown is a preview whose level for the window is still decoding.
    bool isCompletingLevel() const { return completing_; }

Q_SIGNALS:
    // A level of the current file, or its full resolution, to show.
    void ready(ImagePtr image);
    // The file could not be decoded at all; nothing of it was shown.
    void failed(Failure why);
    // The full resolution was asked for, or a preview's level for the window followed it, and
    // cannot be decoded (over the memory budget, a raw file or HEIF whose body is damaged
    // although its preview shows): the level shown is the best there is.
    void fullResolutionFailed(Failure why);

private:
    void follow(const FirstLevelDecode& decode);
    void previewArrived(quint64 ticket, ImagePtr preview);
    void levelArrived(quint64 ticket, Result<ImagePtr> level);
    void sharperArrived(quint64 ticket, bool full, Result<ImagePtr> result);
    void completeLevel();
    void decodeSharper(QSize box, bool full, int priority);
    void releaseLater(ImagePtr image);

    QThreadPool& pool_;
    DisplayProfile target_;
    std::optional<FilePath> url_;
    ImagePtr shown_;     // the best level handed out for url_
    quint64 ticket_ = 0; // the file's request, which results must carry to be taken
    QSize requestedBox_; // the largest box a level was decoded or asked for
    QSize renderedBox_;  // the largest box a vector picture was rendered again for
    bool requestedFull_ = false;
    std::optional<Failure> fullFailure_; // why the full resolution cannot be had
    bool ahead_ = false;                 // decoding for prefetch(), not yet taken over by load()
    bool completing_ = false;            // a preview is shown, its window's level decoding
    // Read by queued decodes before they start, so one the user has left never runs.
    std::shared_ptr<std::atomic<quint64>> latest_;
    std::shared_ptr<std::atomic<quint64>> latestSharper_; // the sharper level last asked for
    PendingResult<Result<ImagePtr>> level_{this, &pool_};
    PendingResult<ImagePtr> preview_{this, &pool_};
    PendingResult<ImagePtr> adopted_{this, &pool_};
    PendingResult<Result<ImagePtr>> sharper_{this, &pool_};
};

} // namespace kivo
