// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A viewer window as the application builds one: a main window with the viewer as its content
// and the menu bar filled from the control groups, around a model with a private preference
// store and the real freedesktop Trash (under the test's XDG_DATA_HOME); given the worker pools,
// pictures load in levels as in the application.

#include "desktop/desktopservices.h"
#include "desktop/freedesktoptrash.h"
#include "imaging/tasks/workerpools.h"
#include "model/appstate.h"
#include "support/testsupport.h"
#include "viewer/imageviewer.h"
#include "viewer/menubar.h"

#include <QMainWindow>
#include <QMenuBar>

namespace kivo::test {

struct ViewerHost {
    explicit ViewerHost(const MenuCommands& commands = {}, WorkerPools* pools = nullptr) {
        desktop->trash = std::make_unique<FreedesktopTrash>();
        state = std::make_unique<AppState>(
            AppStateContext{.settings = settings.get(), .pools = pools, .desktop = desktop.get()});
        window = std::make_unique<QMainWindow>();
        viewer = new ImageViewer(*state, window.get());
        window->setCentralWidget(viewer);
        fillMenuBar(*window, state.get(), commands);
    }

    // Shows the window with the viewer exactly `size` big and waits until it is active.
    bool show(QSize size = {400, 300}) {
        window->show();
        window->resize(size.width(), size.height() + window->menuBar()->sizeHint().height());
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get()))
            return false;
        QTest::qWait(20);
        return viewer->size() == size;
    }

    QMenu* menu(const QString& title) const {
        for (QAction* action : window->menuBar()->actions())
            if (action->text() == title)
                return action->menu();
        return nullptr;
    }

    PrivateSettings settings;
    std::unique_ptr<DesktopServices> desktop = std::make_unique<DesktopServices>();
    std::unique_ptr<AppState> state;
    std::unique_ptr<QMainWindow> window;
    ImageViewer* viewer = nullptr;
};

} // namespace kivo::test
