// SPDX-License-Identifier: GPL-3.0-or-later
#include "kivoapplication.h"

#include "applogging.h"
#include "desktop/applicationid.h"
#include "desktop/desktopservices.h"
#include "panels/metadata.h"
#include "settingswindow.h"
#include "singleinstance.h"

#include <QApplication>
#include <QSettings>
#include <QShortcut>
#include <QWindow>

namespace kivo {

Q_LOGGING_CATEGORY(lcApp, "kivo.app", QtWarningMsg)

namespace {

// The keys a viewer window's menus give it, for the windows that have no menus: Ctrl+W and
// Escape close the window, Ctrl+Q quits.
void addWindowKeys(QWidget& window, KivoApplication& kivo) {
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)})
        QObject::connect(new QShortcut(keys, &window), &QShortcut::activated, &window,
                         &QWidget::close);
    QObject::connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &window),
                     &QShortcut::activated, &kivo, &KivoApplication::quit);
}

// Brings a window in front of the others and gives it the keyboard, minimised or not, on the
// credentials of the launch that handed the file over.
void bringForward(QWidget& window, const LaunchCredentials& launch, WindowActivation* activation) {
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    if (activation && window.windowHandle())
        activation->activate(*window.windowHandle(), launch);
    else
        window.activateWindow();
}

} // namespace

KivoApplication::KivoApplication(QSettings& settings, QObject* parent)
    : ApplicationCommands(parent)
    , settings_(settings)
    , desktop_(DesktopServices::createForThisDesktop(QString::fromLatin1(applicationId) +
                                                     QStringLiteral(".desktop")))
    , delegate_(settings) {
    connect(qApp, &QApplication::focusChanged, this, &KivoApplication::noteActiveViewer);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &KivoApplication::noteActiveViewer);
    connect(&delegate_, &AppDelegate::fileShown, this, [this](AppState& state) {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* viewer = qobject_cast<ViewerWindow*>(window);
                viewer && &viewer->state() == &state)
                routedTo_ = viewer;
    });
}

KivoApplication::~KivoApplication() {
    // Windows hold references to what this object owns, so they go first.
    // Deleting a window deletes the dialogs and menus it owns, which are top-levels too.
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<ViewerWindow*>(window) || qobject_cast<SettingsWindow*>(window))
            windows.emplace_back(window);
    for (const QPointer<QWidget>& window : windows)
        if (window)
            std::unique_ptr<QWidget>{window.data()}.reset();
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
    context.overlays = {&pools_.histogram, &thumbnails_, &pools_.tiles};
    context.router = &delegate_;
    context.commands = this;
    context.openWindow = [this](const FilePath& url) { routedTo_ = openViewerWindow(url); };
    auto* window = new ViewerWindow(context, file); // deletes itself when closed
    // The first picture decodes on a worker while the window is built and mapped.
    if (early)
        window->state().prefetch(*early);
    else if (file)
        window->prefetch(*file);
    window->show();
    return window;
}

void KivoApplication::receiveHandoff(const std::vector<FilePath>& paths,
                                     const LaunchCredentials& launch) {
    routedTo_ = nullptr;
    delegate_.openURLs(paths);
    // The window that now shows the file comes forward, also one that was behind another (a
    // reused empty window) or not the last one used; without a file, the last one used does.
    if (ViewerWindow* target = routedTo_ ? routedTo_.data() : lastActiveViewer_.data())
        bringForward(*target, launch, desktop_->activation.get());
}

// The viewer window last used: a hand-off with no file brings it forward.
void KivoApplication::noteActiveViewer() {
    if (auto* viewer = qobject_cast<ViewerWindow*>(QApplication::activeWindow()))
        lastActiveViewer_ = viewer;
}

void KivoApplication::showAbout() {
    AboutWindow& about = about_.show();
    if (aboutWithKeys_ != &about) {
        addWindowKeys(about, *this);
        aboutWithKeys_ = &about;
    }
}

void KivoApplication::showSettings() {
    if (!settingsWindow_) {
        // Deletes itself when closed. Each viewer window picks the profile up again.
        settingsWindow_ = new SettingsWindow(settings_, [] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* viewer = qobject_cast<ViewerWindow*>(window))
                    viewer->updateDisplayProfile();
        });
        addWindowKeys(*settingsWindow_, *this);
    }
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

void KivoApplication::quit() {
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

} // namespace kivo
