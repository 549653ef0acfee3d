// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "model/appstate.h"
#include "vieweroverlays.h"

#include <QMainWindow>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

namespace kivo {

// What menus and windows ask of the application, so they never reach for it themselves.
class ApplicationCommands : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void showSettings() = 0;
    virtual void showAbout() = 0;
    virtual void quit() = 0;
};

// The application's router of opened files, as a viewer window sees it when it comes on screen.
class WindowRouter {
public:
    virtual ~WindowRouter() = default;
    virtual void registerState(AppState& state) = 0;
    virtual void setOpenWindowAction(std::function<void(const FilePath&)> action) = 0;
    virtual void flushPendingURLs() = 0;
    virtual void closeEmptyWindows() = 0;
};

// Everything a viewer window is handed by the application.
struct ViewerWindowContext {
    AppStateContext model;
    WindowRouter* router = nullptr;          // required
    ApplicationCommands* commands = nullptr; // required
    OverlayServices overlays;                // the histogram pool and the thumbnail cache
    // Opens a new viewer window that shows the file once it is on screen.
    std::function<void(const FilePath&)> openWindow;
};

// One top-level viewer window: it owns its model, connects itself to the router each time it
// comes on screen, and remembers and restores its size. Deletes itself when closed.
class ViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr QSize kDefaultSize{400, 300};

    // `fileURL` is the file the window was opened for; none for the window of a launch.
    ViewerWindow(const ViewerWindowContext& context, std::optional<FilePath> fileURL,
                 QWidget* parent = nullptr);
    ~ViewerWindow() override;

    AppState& state() { return *state_; }
    const std::optional<FilePath>& fileURL() const { return fileURL_; }

    // Loads the window's file unless its model shows one, then registers the model with the
    // router, hands it this window's open-window action, routes queued files and lets the router
    // close empty windows, in that order.
    void attachViewerWindow();

    // Starts decoding a file this window is about to show, at the size the window will have,
    // so the picture decodes while the window is built and mapped.
    void prefetch(const FilePath& url);

    // Keeps the window's left and top edges and gives it the remembered size, unless the window
    // is sized to its image or nothing usable is remembered.
    void restoreWindowSize(QWidget* window);
    // Hands the model the colour profile of the screen the window is on (sRGB when the setting
    // is off): again when the window moves to another screen or the desktop's profiles change.
    void updateDisplayProfile();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void retitle();

    ViewerWindowContext context_;
    std::optional<FilePath> fileURL_;
    std::unique_ptr<AppState> state_;
    bool followsScreen_ = false;
};

} // namespace kivo
