#include "kivoapplication.h"

#include "applogging.h"
#include "desktop/applicationid.h"
#include "desktop/desktopservices.h"
#include "panels/metadata.h"
#include "settingswindow.h"
#include "singleinstance.h"

#include <QApplication>
#include <QSettings>
#include <QWindow>

namespace kivo {

Q_LOGGING_CATEGORY(lcApp, "kivo.app", QtWarningMsg)

KivoApplication::KivoApplication(QSettings& settings, QObject* parent)
    : ApplicationCommands(parent)
    , settings_(settings)
    , desktop_(DesktopServices::createForThisDesktop(QString::fromLatin1(applicationId) +
                                                     QStringLiteral(".desktop")))
    , delegate_(settings) {
    connect(qApp, &QApplication::focusChanged, this, &KivoApplication::updateFocusedAppState);
    connect(qApp, &QGuiApplication::focusWindowChanged, this,
            &KivoApplication::updateFocusedAppState);
}

KivoApplication::~KivoApplication() {
    // Windows hold references to what this object owns, so they go first. They are picked out
    // before any goes: a window takes its own top-level children (its menus) with it.
    std::vector<QWidget*> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<ViewerWindow*>(window) || qobject_cast<SettingsWindow*>(window))
            windows.push_back(window);
    for (QWidget* window : windows)
        std::unique_ptr<QWidget>{window}.reset();
}

void KivoApplication::start(const std::vector<FilePath>& files, int listeningSocket,
                            const QString& socketPath, const std::optional<EarlyDecode>& early) {
    if (listeningSocket >= 0) {
        server_ = std::make_unique<SingleInstanceServer>(listeningSocket, socketPath);
        connect(server_.get(), &SingleInstanceServer::filesReceived, this,
                &KivoApplication::receiveHandoff);
    }
    delegate_.openURLs(files);
    openViewerWindow(std::nullopt, early);
    delegate_.applicationDidFinishLaunching();
}

ViewerWindow* KivoApplication::openViewerWindow(std::optional<FilePath> file,
                                                const std::optional<EarlyDecode>& early) {
    ViewerWindowContext context;
    context.model = {&settings_, &pools_, nullptr, desktop_.get(), extractMetadata};
    context.overlays = {&pools_.histogram, &thumbnails_};
    context.router = &delegate_;
    context.commands = this;
    context.openWindow = [this](const FilePath& url) { openViewerWindow(url); };
    auto* window = new ViewerWindow(context, file); // deletes itself when closed
    // The first picture decodes on a worker while the window is built and mapped.
    if (early)
        window->state().prefetch(*early);
    else if (file)
        window->prefetch(*file);
    window->show();
    return window;
}

void KivoApplication::receiveHandoff(const std::vector<FilePath>& paths) {
    if (!paths.empty()) {
        delegate_.openURLs(paths);
        if (AppState::isMultiWindowMode(settings_))
            return; // the new windows come forward by themselves
    }
    // The window that now shows the file, or the one last used, comes forward.
    if (lastActiveViewer_) {
        lastActiveViewer_->raise();
        lastActiveViewer_->activateWindow();
    }
}

void KivoApplication::updateFocusedAppState() {
    auto* viewer = qobject_cast<ViewerWindow*>(QApplication::activeWindow());
    if (viewer)
        lastActiveViewer_ = viewer;
    AppState* state = viewer ? &viewer->state() : nullptr;
    if (state == focused_.data())
        return;
    focused_ = state;
    Q_EMIT focusedAppStateChanged(state);
}

void KivoApplication::showAbout() {
    about_.show();
}

void KivoApplication::showSettings() {
    if (!settingsWindow_)
        settingsWindow_ = new SettingsWindow(settings_); // deletes itself when closed
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

void KivoApplication::openInFocusedWindow(const FilePath& file) {
    if (focused_)
        focused_->openFile(file);
}

void KivoApplication::quit() {
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

} // namespace kivo
