// SPDX-License-Identifier: GPL-3.0-or-later
#include "folderwatcher.h"

#include "appstate.h"
#include "folderlisting.h"
#include "logging.h"
#include "naturalorder.h"
#include "neighbourpreloader.h"
#include "pictureloader.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

// The list is updated at most this often: a lone new file shows up at once, and a burst (a
// camera import writes hundreds of files within a second) is taken in a few batches.
constexpr int kBatchMs = 40;
// A file still being written is touched every few milliseconds; this long without a write, it
// is taken as finished.
constexpr int kQuietMs = 250;
// Above this many changed names the list is rebuilt by one merge instead of name by name.
constexpr size_t kMergeAbove = 64;

constexpr std::uint32_t kEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_FROM |
                                  IN_MOVED_TO | IN_DELETE | IN_MOVE_SELF | IN_DELETE_SELF |
                                  IN_ONLYDIR;

bool isListed(std::string_view name) {
    return !name.empty() && name.front() != '.' && isSupportedExtension(pathExtension(name));
}

std::string nameOf(const FilePath& file) {
    return file.filename().native();
}

// A folder moved into a freedesktop Trash ($XDG_DATA_HOME/Trash/files, or .Trash-UID/files on
// another volume) was deleted as far as the user is concerned.
bool isInTrash(const FilePath& folder) {
    for (FilePath at = folder; at.has_relative_path(); at = at.parent_path()) {
        const std::string trash = at.parent_path().filename().native();
        if (at.filename() == "files" && (trash == "Trash" || trash.starts_with(".Trash")))
            return true;
    }
    return false;
}

} // namespace

FolderWatcher::FolderWatcher(AppState& state)
    : QObject(&state)
    , state_(state) {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0)
        return; // no watching: the folder is as fresh as its last listing, as before
    notifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &FolderWatcher::readEvents);
    batch_.setSingleShot(true);
    connect(&batch_, &QTimer::timeout, this, &FolderWatcher::applyChanges);
    currentQuiet_.setSingleShot(true);
    currentQuiet_.setInterval(kQuietMs);
    connect(&currentQuiet_, &QTimer::timeout, this, &FolderWatcher::reloadIfRewritten);
    connect(&state_, &AppState::currentURLChanged, this, &FolderWatcher::followCurrentFolder);
}

FolderWatcher::~FolderWatcher() {
    notifier_.reset();
    if (inotify_ >= 0)
        ::close(inotify_);
    if (folderHandle_ >= 0)
        ::close(folderHandle_);
}

void FolderWatcher::noteLoading(const FilePath& file) {
    shownPath_ = file;
    shown_ = stampOf(file);
}

std::optional<FolderWatcher::Stamp> FolderWatcher::stampOf(const FilePath& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return std::nullopt;
    const auto nanoseconds = [](const timespec& t) {
        return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return Stamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(st.st_size),
                 nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

void FolderWatcher::followCurrentFolder() {
    if (inotify_ < 0 || !state_.currentURL())
        return;
    // What the folder went through before this step counts: a neighbour rewritten a moment ago
    // must lose its preloaded picture before the step takes it.
    readEvents();
    const FilePath folder = state_.currentURL()->parent_path();
    if (folder == folder_ && watch_ >= 0)
        return;
    watch(folder);
}

void FolderWatcher::watch(const FilePath& folder) {
    if (watch_ >= 0)
        ::inotify_rm_watch(inotify_, watch_);
    if (folderHandle_ >= 0)
        ::close(folderHandle_);
    changedNames_.clear();
    overflowed_ = folderMoved_ = false;
    folder_ = folder;
    const char* path = folder.empty() ? "." : folder.c_str();
    watch_ = ::inotify_add_watch(inotify_, path, kEvents);
    folderHandle_ = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

void FolderWatcher::readEvents() {
    alignas(inotify_event) char buffer[16384];
    const std::string current = state_.currentURL() ? nameOf(*state_.currentURL()) : std::string();
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                overflowed_ = true;
                continue;
            }
            if (event->wd != watch_)
                continue;
            if (event->mask & (IN_MOVE_SELF | IN_IGNORED))
                folderMoved_ = true; // renamed, deleted, or its file system unmounted
            if (event->mask & IN_IGNORED)
                watch_ = -1; // the kernel dropped the watch; its number may be reused
            if (event->len == 0)
                continue;
            const std::string name(event->name);
            if (!isListed(name))
                continue;
            changedNames_.insert(name);
            // A preloaded picture of this file shows what it held before: never step onto it.
            state_.preloader_->forget(folder_ / name);
            preloadForgotten_ = preloadForgotten_ || name != current;
            if (name == current)
                currentQuiet_.start(); // restarted by every write: reloads once they stop
        }
    }
    // Not restarted by later events, so a long burst still updates the list as it goes.
    if ((!changedNames_.empty() || overflowed_ || folderMoved_) && !batch_.isActive()) {
        const qint64 since = lastBatch_.isValid() ? lastBatch_.elapsed() : kBatchMs;
        batch_.start(int(std::clamp<qint64>(kBatchMs - since, 0, kBatchMs)));
    }
}

void FolderWatcher::relistFolder() {
    auto files = listSupportedImages(folder_);
    if (!files)
        return;
    state_.imageFiles_ = std::move(*files);
    Q_EMIT state_.imageFilesChanged();
}

void FolderWatcher::followMovedFolder() {
    folderMoved_ = false;
    struct stat st {};
    char link[PATH_MAX];
    const std::string handle = "/proc/self/fd/" + std::to_string(folderHandle_);
    const ssize_t length = folderHandle_ >= 0 ? ::readlink(handle.c_str(), link, sizeof link) : -1;
    const bool alive = folderHandle_ >= 0 && ::fstat(folderHandle_, &st) == 0 && st.st_nlink > 0;
    const FilePath now = alive && length > 0 && size_t(length) < sizeof link
                             ? FilePath(std::string(link, size_t(length)))
                             : FilePath();
    if (now.empty() || isInTrash(now)) {
        // Deleted, perhaps made again under the same name (a sync tool replacing it): what is
        // there now, if anything, is listed afresh.
        struct stat again {};
        if (::stat(folder_.c_str(), &again) == 0 && S_ISDIR(again.st_mode)) {
            watch(folder_);
            overflowed_ = true;
        } else {
            folderGone();
        }
        return;
    }
    if (now == folder_ || !state_.currentURL() || state_.currentURL()->parent_path() != folder_)
        return;
    qCDebug(lcModel) << "following the folder to" << QString::fromStdString(now.native());
    // Renamed: the same files under a new path. The watch follows the folder itself.
    for (FilePath& file : state_.imageFiles_)
        file = now / file.filename();
    const FilePath current = now / state_.currentURL()->filename();
    folder_ = now;
    shownPath_ = current;
    Q_EMIT state_.imageFilesChanged();
    state_.setCurrentURL(current);
    preloadForgotten_ = true;
}

void FolderWatcher::folderGone() {
    qCDebug(lcModel) << "the folder" << QString::fromStdString(folder_.native()) << "is gone";
    if (watch_ >= 0)
        ::inotify_rm_watch(inotify_, watch_);
    watch_ = -1;
    changedNames_.clear();
    overflowed_ = false;
    currentQuiet_.stop();
    if (!state_.currentURL() || state_.currentURL()->parent_path() != folder_)
        return;
    // The window keeps the name of what it showed, and says why it shows nothing.
    if (state_.loader_)
        state_.loader_->stop();
    state_.preloader_->setImages({});
    state_.imageFiles_.clear();
    Q_EMIT state_.imageFilesChanged();
    state_.setCurrentIndex(0);
    state_.showImage(nullptr);
    state_.setLoadError(Failure{FailureReason::unreadable, QStringLiteral("its folder is gone")});
    state_.setMetadata({});
}

void FolderWatcher::applyChanges() {
    lastBatch_.start();
    if (folderMoved_)
        followMovedFolder();
    if (watch_ < 0)
        return;
    const std::optional<FilePath> current = state_.currentURL();
    std::vector<FilePath>& files = state_.imageFiles_;
    const NaturalOrder order;
    const auto currentIndex = state_.currentIndex();
    const bool currentListed = current && currentIndex >= 0 &&
                               currentIndex < qsizetype(files.size()) &&
                               files[size_t(currentIndex)].native() == current->native();

    if (overflowed_) {
        // The kernel dropped events: only a new listing knows what the folder holds now.
        overflowed_ = false;
        changedNames_.clear();
        relistFolder();
    } else {
        // The file system says what each changed name is now; the events only said which.
        std::vector<FilePath> added;
        std::set<std::string> removed;
        for (const std::string& name : changedNames_) {
            FilePath path = folder_ / name;
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0)
                added.push_back(std::move(path));
            else
                removed.insert(name);
        }
        changedNames_.clear();
        bool changed = false;
        if (added.size() + removed.size() > kMergeAbove) {
            changed = std::erase_if(files, [&](const FilePath& file) {
                          return removed.count(nameOf(file)) > 0;
                      }) > 0;
            std::sort(added.begin(), added.end(),
                      [&](const FilePath& a, const FilePath& b) { return order.before(a, b); });
            std::vector<FilePath> merged;
            merged.reserve(files.size() + added.size());
            std::merge(std::make_move_iterator(files.begin()), std::make_move_iterator(files.end()),
                       std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()),
                       std::back_inserter(merged),
                       [&](const FilePath& a, const FilePath& b) { return order.before(a, b); });
            // A name both listed and added is there twice, side by side.
            merged.erase(std::unique(merged.begin(), merged.end(),
                                     [](const FilePath& a, const FilePath& b) {
                                         return a.native() == b.native();
                                     }),
                         merged.end());
            changed = changed || merged.size() != files.size();
            files = std::move(merged);
        } else {
            for (const std::string& name : removed) {
                const auto place = order.placeOf(files, folder_ / name);
                if (place.present) {
                    files.erase(files.begin() + std::ptrdiff_t(place.index));
                    changed = true;
                }
            }
            for (FilePath& path : added) {
                const auto place = order.placeOf(files, path);
                if (!place.present) {
                    files.insert(files.begin() + std::ptrdiff_t(place.index), std::move(path));
                    changed = true;
                }
            }
        }
        if (changed)
            Q_EMIT state_.imageFilesChanged();
    }

    if (!current || !currentListed)
        return;
    const auto place = order.placeOf(files, *current);
    if (place.present) {
        state_.setCurrentIndex(qsizetype(place.index));
        if (std::exchange(preloadForgotten_, false))
            state_.preloadNeighbors(); // the changed neighbour as it is now
        return;
    }
    // The current file was removed by another program: on to the next, as after a delete.
    state_.takePreloadedImage(*current);
    struct stat folder {};
    if (files.empty() && ::stat(folder_.c_str(), &folder) != 0) {
        folderGone(); // removed with everything in it
        return;
    }
    if (files.empty()) {
        state_.setCurrentURL(std::nullopt);
        state_.setCurrentImage(nullptr);
        state_.setMetadata({});
        return;
    }
    state_.setCurrentIndex(std::min(qsizetype(place.index), qsizetype(files.size()) - 1));
    state_.loadCurrentImage();
}

void FolderWatcher::reloadIfRewritten() {
    if (batch_.isActive() || !changedNames_.empty()) {
        currentQuiet_.start(); // the list first: a removed file is stepped past, not reloaded
        return;
    }
    const std::optional<FilePath> current = state_.currentURL();
    if (!current)
        return;
    if (*current != shownPath_)
        return; // not read yet: the window reads it as it is now
    const auto now = stampOf(*current);
    if (!now || now == shown_)
        return; // gone (the list update handles that), or what the window already shows
    qCDebug(lcModel) << displayName(*current) << "was rewritten by another program: reloading";
    state_.reloadCurrentImage();
}

} // namespace kivo
