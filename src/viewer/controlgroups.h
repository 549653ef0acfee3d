// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeyCombination>
#include <span>

class QAction;
class QMenu;

namespace kivo {

class AppState;

// The groups of menu items that act on a viewer model. Each is written once, here, and placed
// both in the menu bar's Image menu and in the viewer's context menu, so the two behave alike.
enum class ControlGroup { displayModes, zoom, rotation, overlays, openWith };

// Items that act on the current file rather than on the view.
enum class FileCommand { copyImage, showInFileManager, deleteImage };

// One menu item of a group. A check item shows a mark while `isMarked` holds and, when chosen,
// is handed the opposite of its mark; a command item just runs.
struct ControlItem {
    const char* title; // the English text, also the translation key
    bool isCheck = false;
    QKeyCombination shortcut = {};
    QKeyCombination alternateShortcut = {};
    bool (*isMarked)(const AppState&) = nullptr;
    void (*choose)(AppState&, bool newMark) = nullptr;
};

// The items of a group in menu order (openWith has none: its submenu is built from the model).
std::span<const ControlItem> controlItems(ControlGroup group);
const ControlItem& fileCommandItem(FileCommand command);

// The title of the Open With submenu and of its last item, translated.
QString openWithTitle();
QString otherApplicationTitle();

// Appends the group's items to `menu` as actions it owns. `state` may be null: check items then
// show unmarked and do nothing, Open With is disabled. Marks follow the model while the menu
// lives.
void addControlGroup(QMenu& menu, ControlGroup group, AppState* state);

// Appends one file command; disabled without a model.
QAction* addFileCommand(QMenu& menu, FileCommand command, AppState* state);

// Fills the viewer's context menu: empty while no image is shown.
void fillContextMenu(QMenu& menu, AppState& state);

} // namespace kivo
