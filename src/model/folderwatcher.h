// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

class QSocketNotifier;

namespace kivo {

class AppState;

// Keeps a window's folder current while other programs change it. Watches the folder of the
// current file through inotify and, once a burst of changes has passed, brings the list of
// images up to date one entry at a time (each changed name is looked up on disk and placed by a
// binary search in natural order; nothing is listed or sorted again). When the current file is
// removed the next one is shown; when it is rewritten it is reloaded once the writing has
// settled, whether the writer renamed a finished file over it or wrote it in place. Kivo's own
// writes change nothing further: the list already holds what they did, and a file the window
// has just loaded is recognised by its identity and times.
//
// A neighbour that changes on disk loses its preloaded picture at once, before a step could show
// it. A renamed folder is followed; a deleted one leaves the window with nothing to show.
class FolderWatcher final : public QObject {
    Q_OBJECT

public:
    explicit FolderWatcher(AppState& state);
    ~FolderWatcher() override;

    // The window starts reading `file`: what it will show is the file as it is now. Called before
    // a decode starts, so a write that lands while it runs is still seen as a change, and Kivo's
    // own write (a rotation) is never taken for another program's.
    void noteLoading(const FilePath& file);

private:
    // The identity and times of a file.
    struct Stamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modified = 0, changed = 0; // nanoseconds
        bool operator==(const Stamp&) const = default;
    };
    static std::optional<Stamp> stampOf(const FilePath& file);

    void followCurrentFolder();
    void watch(const FilePath& folder);
    void readEvents();
    void applyChanges();
    void reloadIfRewritten();
    void relistFolder();
    void followMovedFolder();
    void folderGone();

    AppState& state_;
    int inotify_ = -1;
    int watch_ = -1;
    int folderHandle_ = -1; // O_PATH: where the watched folder is now, after a rename
    FilePath folder_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer batch_;            // gathers a burst of changes into one update of the list
    QElapsedTimer lastBatch_; // since the last update
    QTimer currentQuiet_;     // waits for the writes to the current file to stop
    std::set<std::string> changedNames_;
    bool overflowed_ = false;
    bool folderMoved_ = false;
    bool preloadForgotten_ = false;
    // The file the window last started to read, and its stamp then.
    FilePath shownPath_;
    std::optional<Stamp> shown_;
};

} // namespace kivo
