// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "appdelegate.h"
#include "desktop/windowactivation.h"
#include "imaging/tasks/workerpools.h"
#include "model/pictureloader.h"
#include "thumbnails/thumbnailcache.h"
#include "viewer/aboutwindow.h"
#include "viewer/viewerwindow.h"

#include <QPointer>
#include <memory>
#include <optional>
#include <vector>

class QSettings;

namespace kivo {

class DesktopServices;
class SettingsWindow;
class SingleInstanceServer;

// The running application: owns the delegate, the worker pools, the desktop services and the
// single-instance channel, opens viewer windows for the delegate, keeps the one settings window
// and remembers the viewer window last used. Create it after the QApplication.
class KivoApplication : public ApplicationCommands {
    Q_OBJECT

public:
    explicit KivoApplication(QSettings& settings, QObject* parent = nullptr);
    ~KivoApplication() override;

    // Serves the channel (when `listeningSocket` is one), queues the launch's files and opens
    // the first viewer window, which takes over `early`, the first file's decode when the
    // launch started one.
    void start(const std::vector<FilePath>& files, int listeningSocket, const QString& socketPath,
               const std::optional<EarlyDecode>& early = std::nullopt);

    AppDelegate& delegate() { return delegate_; }

    void showSettings() override;
    void showAbout() override;
    void quit() override;

private:
    ViewerWindow* openViewerWindow(std::optional<FilePath> file,
                                   const std::optional<EarlyDecode>& early = std::nullopt);
    void receiveHandoff(const std::vector<FilePath>& paths, const LaunchCredentials& launch);
    void noteActiveViewer();

    QSettings& settings_;
    WorkerPools pools_;
    ThumbnailCache thumbnails_{pools_.thumbnails};
    AboutWindowPresenter about_;
    std::unique_ptr<DesktopServices> desktop_;
    AppDelegate delegate_;
    std::unique_ptr<SingleInstanceServer> server_;
    QPointer<SettingsWindow> settingsWindow_;
    QPointer<ViewerWindow> lastActiveViewer_;
    QPointer<ViewerWindow> routedTo_; // the window the latest opened file went to
    QPointer<AboutWindow> aboutWithKeys_;
};

} // namespace kivo
