// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "viewer/viewerwindow.h"

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <vector>

class QSettings;
class QWidget;

namespace kivo {

class AppState;

// Routes the files opened from outside into viewer windows: into empty windows or new ones in
// multi-window mode, into the one showing window in single-window mode (closing empty windows
// there, and opening a window when none is left). It never creates windows itself: it calls the
// open-window action the latest viewer window to come on screen handed it, and until one has, it
// only queues. GUI thread only.
class AppDelegate : public QObject, public WindowRouter {
    Q_OBJECT

public:
    static constexpr QSize kInitialSize{400, 300};

    explicit AppDelegate(QSettings& settings, QObject* parent = nullptr);

    // Files opened with the application, in the order given (at launch and from later launches).
    void openURLs(const std::vector<FilePath>& urls);
    // Once, when start-up has finished: sizes and centres the first window of a launch without
    // files.
    void applicationDidFinishLaunching();

    void registerState(AppState& state) override;
    void setOpenWindowAction(std::function<void(const FilePath&)> action) override;
    void flushPendingURLs() override;
    void closeEmptyWindows() override;
    void centerInitialWindow();

    const std::deque<FilePath>& pendingURLs() const { return pendingURLs_; }
    // The registered models still alive, in the order they were registered.
    std::vector<AppState*> states() const;

Q_SIGNALS:
    // An existing window's model was given an opened file; a new window opened for a file goes
    // through the open-window action instead.
    void fileShown(kivo::AppState& state);

private:
    void flushMultiWindow();
    void flushSingleWindow();
    void placeInitialWindow();

    QSettings& settings_;
    mutable std::vector<QPointer<AppState>> states_;
    std::deque<FilePath> pendingURLs_;
    std::function<void(const FilePath&)> openWindowAction_;
    bool isFlushing_ = false;
};

// Whether the windowing system lets a client place its own windows (Wayland does not).
bool platformPlacesWindows();

} // namespace kivo
