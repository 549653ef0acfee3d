// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <functional>

class QMainWindow;
class QWidget;

namespace kivo {

class AppState;

// What the menus ask of the application rather than of one window's model. Any of them may be
// empty; its menu item is then disabled. The window's own commands (Open among them) act on the
// model the menu bar was filled with, never on whichever window happens to be active.
struct MenuCommands {
    std::function<void()> showSettings;
    std::function<void()> showAbout;
    std::function<void()> quit;
};

// Fills the window's menu bar: File, Edit, Image and Help. The Image menu holds the five control
// groups acting on `state` (null: a window without a model, where they show unmarked and the
// file commands are disabled). The shortcuts act on this window only.
void fillMenuBar(QMainWindow& window, AppState* state, const MenuCommands& commands);

// The Open dialog's file-type filter: the image types Kivo shows, then all files.
QString openDialogFilter();

// Enters full screen, or leaves it.
void toggleFullScreen(QWidget& window);

} // namespace kivo
