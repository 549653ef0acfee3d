// SPDX-License-Identifier: GPL-3.0-or-later
#include "appdelegate.h"

#include "canvas/windowautosize.h"
#include "model/appstate.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace kivo {

namespace {

bool showsFile(const AppState* state) {
    return state->currentURL().has_value();
}

} // namespace

bool platformPlacesWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

AppDelegate::AppDelegate(QSettings& settings, QObject* parent)
    : QObject(parent)
    , settings_(settings) {}

std::vector<AppState*> AppDelegate::states() const {
    std::erase_if(states_, [](const QPointer<AppState>& state) { return state.isNull(); });
    std::vector<AppState*> alive;
    for (const auto& state : states_)
        alive.push_back(state.data());
    return alive;
}

void AppDelegate::openURLs(const std::vector<FilePath>& urls) {
    pendingURLs_.insert(pendingURLs_.end(), urls.begin(), urls.end());
    flushPendingURLs();
}

void AppDelegate::applicationDidFinishLaunching() {
    centerInitialWindow();
}

void AppDelegate::registerState(AppState& state) {
    const auto known = states();
    if (std::find(known.begin(), known.end(), &state) == known.end())
        states_.emplace_back(&state);
}

void AppDelegate::setOpenWindowAction(std::function<void(const FilePath&)> action) {
    openWindowAction_ = std::move(action);
}

void AppDelegate::flushPendingURLs() {
    // Without a window on screen nobody can show the files yet; the first one to come flushes.
    if (!openWindowAction_ || isFlushing_)
        return;
    // Opening a file or a window can bring a window on screen at once, whose own flush must not
    // start a second pass over the queue.
    isFlushing_ = true;
    if (AppState::isMultiWindowMode(settings_))
        flushMultiWindow();
    else
        flushSingleWindow();
    isFlushing_ = false;
}

void AppDelegate::flushMultiWindow() {
    while (!pendingURLs_.empty()) {
        const FilePath url = pendingURLs_.front();
        pendingURLs_.pop_front();
        // openFile marks the model as showing a file at once, so each empty window takes at
        // most one file of the batch.
        const auto snapshot = states();
        const auto empty = std::find_if(snapshot.begin(), snapshot.end(),
                                        [](const AppState* state) { return !showsFile(state); });
        if (empty != snapshot.end()) {
            (*empty)->openFile(url);
            Q_EMIT fileShown(**empty);
        } else if (openWindowAction_) {
            openWindowAction_(url);
        }
    }
}

void AppDelegate::flushSingleWindow() {
    if (pendingURLs_.empty())
        return;
    // One window shows one file: the rest of the batch is dropped.
    const FilePath url = pendingURLs_.front();
    pendingURLs_.clear();
    const auto snapshot = states();
    if (snapshot.empty()) {
        // Only the Settings or About window is left, and nothing on this desktop would ever
        // bring a viewer window back for a queued file: the file gets a window of its own.
        openWindowAction_(url);
        return;
    }
    const auto showing = std::find_if(snapshot.begin(), snapshot.end(), showsFile);
    AppState* target = showing != snapshot.end() ? *showing : snapshot.front();
    target->openFile(url);
    Q_EMIT fileShown(*target);
    closeEmptyWindows();
}

void AppDelegate::closeEmptyWindows() {
    if (AppState::isMultiWindowMode(settings_))
        return;
    const auto snapshot = states();
    if (std::none_of(snapshot.begin(), snapshot.end(), showsFile))
        return; // never close the last way to show a file
    for (AppState* state : snapshot) {
        if (showsFile(state) || !state->window())
            continue;
        // In a later turn: this may run inside the window's own show event.
        QWindow* window = state->window();
        QTimer::singleShot(0, window, [window] { window->close(); });
    }
}

void AppDelegate::centerInitialWindow() {
    if (!pendingURLs_.empty())
        return;
    const auto snapshot = states();
    if (std::any_of(snapshot.begin(), snapshot.end(), showsFile))
        return;
    // After the current pass of the event loop, once the first window exists.
    QTimer::singleShot(0, this, &AppDelegate::placeInitialWindow);
}

void AppDelegate::placeInitialWindow() {
    QWidget* window = QApplication::activeWindow();
    for (AppState* state : states())
        for (QWidget* candidate : QApplication::topLevelWidgets())
            if (!window && state->window() && candidate->windowHandle() == state->window())
                window = candidate;
    for (QWidget* candidate : QApplication::topLevelWidgets())
        if (!window && candidate->isVisible())
            window = candidate;
    if (!window || !window->screen())
        return;
    const auto saved = AppState::savedWindowSize(settings_);
    const QSize size = saved ? saved->toSize() : kInitialSize;
    resizeWindowProgrammatically(window, size);
    if (!platformPlacesWindows())
        return; // sizes still apply where positions are the compositor's
    // Centre the whole frame, title bar included, on the screen's usable area.
    const QSize frame = size + (window->frameGeometry().size() - window->geometry().size());
    const QRect area = window->screen()->availableGeometry();
    window->move(area.x() + (area.width() - frame.width()) / 2,
                 area.y() + (area.height() - frame.height()) / 2);
}

} // namespace kivo
