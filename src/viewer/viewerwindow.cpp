// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewerwindow.h"

#include "canvas/windowautosize.h"
#include "desktop/desktopservices.h"
#include "imageviewer.h"
#include "menubar.h"

#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWindow>

namespace kivo {

ViewerWindow::ViewerWindow(const ViewerWindowContext& context, std::optional<FilePath> fileURL,
                           QWidget* parent)
    : QMainWindow(parent)
    , context_(context)
    , fileURL_(std::move(fileURL))
    , state_(std::make_unique<AppState>(context.model)) {
    setAttribute(Qt::WA_DeleteOnClose);
    auto* content = new ImageViewer(*state_, this, context_.overlays);
    setCentralWidget(content);
    content->setFocus();
    ApplicationCommands* commands = context_.commands;
    fillMenuBar(*this, state_.get(),
                {[commands] { commands->showSettings(); }, [commands] { commands->showAbout(); },
                 [commands] { commands->quit(); }});

    // The remembered size is the window's client size, the one measure that is the same before
    // and after a window manager adds its frame, so a window never grows by a title bar per
    // launch.
    new WindowAccessor(
        content, [this](QWidget* window) { restoreWindowSize(window); },
        [this](QSizeF) { AppState::saveWindowSize(*context_.model.settings, width(), height()); });
    resizeWindowProgrammatically(this, kDefaultSize);

    if (DesktopServices* desktop = context_.model.desktop; desktop && desktop->displayProfiles)
        connect(desktop->displayProfiles.get(), &DisplayProfiles::changed, this,
                &ViewerWindow::updateDisplayProfile);
    connect(state_.get(), &AppState::currentURLChanged, this, &ViewerWindow::retitle);
    connect(state_.get(), &AppState::currentIndexChanged, this, &ViewerWindow::retitle);
    connect(state_.get(), &AppState::imageFilesChanged, this, &ViewerWindow::retitle);
    retitle();
}

ViewerWindow::~ViewerWindow() {
    // The content reads the model until it is gone, so it goes first.
    std::unique_ptr<QWidget> content(takeCentralWidget());
}

void ViewerWindow::retitle() {
    setWindowTitle(state_->windowTitle());
}

void ViewerWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!std::exchange(followsScreen_, true) && windowHandle())
        connect(windowHandle(), &QWindow::screenChanged, this, &ViewerWindow::updateDisplayProfile);
    updateDisplayProfile();
    // Once the window is on screen: the windows it opens for queued files must come after it.
    QTimer::singleShot(0, this, &ViewerWindow::attachViewerWindow);
}

void ViewerWindow::attachViewerWindow() {
    if (fileURL_ && !state_->currentURL())
        state_->openFile(*fileURL_);
    context_.router->registerState(*state_);
    context_.router->setOpenWindowAction(context_.openWindow);
    context_.router->flushPendingURLs();
    context_.router->closeEmptyWindows();
}

void ViewerWindow::updateDisplayProfile() {
    DesktopServices* desktop = context_.model.desktop;
    DisplayProfiles* profiles = desktop ? desktop->displayProfiles.get() : nullptr;
    const bool use =
        profiles && windowHandle() && PreferenceStore::useDisplayProfile(*context_.model.settings);
    state_->setDisplayProfile(use ? profiles->profileFor(windowHandle()->screen())
                                  : DisplayProfile());
}

void ViewerWindow::prefetch(const FilePath& url) {
    const auto saved = AppState::savedWindowSize(*context_.model.settings);
    const QSize size = saved ? saved->toSize() : kDefaultSize;
    state_->prefetch(url, size * devicePixelRatioF());
}

void ViewerWindow::restoreWindowSize(QWidget* window) {
    state_->setWindow(window->windowHandle());
    if (state_->displayMode() == DisplayMode::autoSizeWindow)
        return;
    const auto saved = AppState::savedWindowSize(*context_.model.settings);
    if (!saved)
        return;
    // A top-level's position is its top-left corner, so resizing keeps the left and top edges.
    resizeWindowProgrammatically(window, saved->toSize());
}

} // namespace kivo
