#pragma once

#include "imaging/filepath.h"
#include "imaging/image.h"
#include "imaging/result.h"

#include <QObject>
#include <QSize>
#include <atomic>
#include <memory>

class QThreadPool;

namespace kivo {

// Brings the window's current picture on screen in levels: a level that fills the window,
// decoded cheaply where the format allows (a reduced JPEG, a raw file's preview), then the full
// resolution, decoded on a worker and handed over as a refinement of the same picture. A raw
// file's full demosaic is slow and large, so it is only decoded when asked for (zooming past
// the preview, Actual Size, copying); every other format's follows at once.
//
// Results arrive on the GUI thread as continuations bound to this object, and only the latest
// request's: stepping on, reloading or closing the window drops a decode still running, and one
// not yet started never starts.
class PictureLoader : public QObject {
    Q_OBJECT

public:
    explicit PictureLoader(QThreadPool& pool, QObject* parent = nullptr);
    ~PictureLoader() override;

    // Starts on `url`, decoding a level for `box` (device pixels; invalid: the full picture).
    // `preloaded`, when given, is already decoded and shown: only the full resolution follows.
    void load(const FilePath& url, ImagePtr preloaded, QSize box);
    // The full resolution is needed now; nothing to do when it is shown or on its way.
    void needFullResolution();
    // Forgets the current file: whatever is still decoding for it is dropped.
    void stop();

    bool isLoadingFull() const { return fullTicket_ != 0; }

Q_SIGNALS:
    // A level of the current file, or its full resolution, to show.
    void ready(ImagePtr image);
    // The file could not be decoded at all; nothing of it was shown.
    void failed(Failure why);

private:
    void levelArrived(quint64 ticket, Result<ImagePtr> level);
    void fullArrived(quint64 ticket, ImagePtr full);
    void startFull();

    QThreadPool& pool_;
    std::optional<FilePath> url_;
    ImagePtr shown_;            // the best level handed out for url_
    bool fullOnDemand_ = false; // a raw file: its full decode waits until asked for
    quint64 ticket_ = 0;        // the request results must carry to be taken
    quint64 fullTicket_ = 0;    // nonzero while a full decode of shown_ is on its way
    // Read by queued decodes before they start, so one the user has left never runs.
    std::shared_ptr<std::atomic<quint64>> latest_;
};

} // namespace kivo
