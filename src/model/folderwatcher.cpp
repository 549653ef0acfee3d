#include "folderwatcher.h"

#include "appstate.h"
#include "folderlisting.h"
#include "naturalorder.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
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

constexpr std::uint32_t kEvents =
    IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_ONLYDIR;

bool isListed(std::string_view name) {
    return !name.empty() && name.front() != '.' && isSupportedExtension(pathExtension(name));
}

std::string nameOf(const FilePath& file) {
    return file.filename().native();
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
    // Whatever the window shows now is the file as it is now, Kivo's own rewrites included.
    connect(&state_, &AppState::currentImageChanged, this, [this] {
        shown_ = state_.currentURL() ? stampOf(*state_.currentURL()) : std::nullopt;
    });
}

FolderWatcher::~FolderWatcher() {
    notifier_.reset();
    if (inotify_ >= 0)
        ::close(inotify_);
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
    const FilePath folder = state_.currentURL()->parent_path();
    if (folder == folder_ && watch_ >= 0)
        return;
    if (watch_ >= 0)
        ::inotify_rm_watch(inotify_, watch_);
    changedNames_.clear();
    overflowed_ = false;
    folder_ = folder;
    watch_ = ::inotify_add_watch(inotify_, folder.empty() ? "." : folder.c_str(), kEvents);
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
            if (event->wd != watch_ || event->len == 0)
                continue;
            const std::string name(event->name);
            if (!isListed(name))
                continue;
            changedNames_.insert(name);
            if (name == current)
                currentQuiet_.start(); // restarted by every write: reloads once they stop
        }
    }
    // Not restarted by later events, so a long burst still updates the list as it goes.
    if ((!changedNames_.empty() || overflowed_) && !batch_.isActive()) {
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

void FolderWatcher::applyChanges() {
    lastBatch_.start();
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
        return;
    }
    // The current file was removed by another program: on to the next, as after a delete.
    state_.takePreloadedImage(*current);
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
    const auto now = stampOf(*current);
    if (!now || now == shown_)
        return; // gone (the list update handles that), or what the window already shows
    state_.reloadCurrentImage();
    shown_ = now; // even if the new content does not decode, it is what was read
}

} // namespace kivo
