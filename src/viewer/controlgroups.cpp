// SPDX-License-Identifier: GPL-3.0-or-later
#include "controlgroups.h"

#include "applicationicon.h"
#include "model/appstate.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPointer>
#include <array>

namespace kivo {

namespace {

constexpr const char* kContext = "kivo::Menus";

QString translated(const char* text) {
    return QCoreApplication::translate(kContext, text);
}

bool isDisplayMode(const AppState& state, DisplayMode mode) {
    return state.displayMode() == mode;
}

// A display mode cannot be switched off, only replaced: choosing the marked item does nothing.
void chooseDisplayMode(AppState& state, bool newMark, DisplayMode mode) {
    if (newMark)
        state.setDisplayMode(mode);
}

void chooseOverlay(AppState& state, bool newMark, OverlayMode mode) {
    state.setOverlayMode(newMark ? mode : OverlayMode::none);
}

const std::array kDisplayModes = {
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Fit to Window"),
                true,
                Qt::CTRL | Qt::Key_1,
                {},
                [](const AppState& s) { return isDisplayMode(s, DisplayMode::fitToWindow); },
                [](AppState& s, bool m) { chooseDisplayMode(s, m, DisplayMode::fitToWindow); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Actual Size"),
                true,
                Qt::CTRL | Qt::Key_0,
                {},
                [](const AppState& s) { return isDisplayMode(s, DisplayMode::actualSize); },
                [](AppState& s, bool m) { chooseDisplayMode(s, m, DisplayMode::actualSize); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Auto-Size Window"),
                true,
                Qt::CTRL | Qt::Key_2,
                {},
                [](const AppState& s) { return isDisplayMode(s, DisplayMode::autoSizeWindow); },
                [](AppState& s, bool m) { chooseDisplayMode(s, m, DisplayMode::autoSizeWindow); }},
};

const std::array kZoom = {
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Zoom In"), false, Qt::CTRL | Qt::Key_Equal,
                Qt::CTRL | Qt::Key_Plus, nullptr,
                [](AppState& s, bool) { s.setZoomAction(ZoomAction::zoomIn); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Zoom Out"),
                false,
                Qt::CTRL | Qt::Key_Minus,
                {},
                nullptr,
                [](AppState& s, bool) { s.setZoomAction(ZoomAction::zoomOut); }},
};

const std::array kRotation = {
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Rotate Clockwise"),
                false,
                Qt::CTRL | Qt::Key_R,
                {},
                nullptr,
                [](AppState& s, bool) { s.rotate(+1); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Rotate Counter-Clockwise"),
                false,
                Qt::CTRL | Qt::SHIFT | Qt::Key_R,
                {},
                nullptr,
                [](AppState& s, bool) { s.rotate(-1); }},
};

const std::array kOverlays = {
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Metadata"),
                true,
                {},
                {},
                [](const AppState& s) { return s.overlayMode() == OverlayMode::metadata; },
                [](AppState& s, bool m) { chooseOverlay(s, m, OverlayMode::metadata); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Histogram"),
                true,
                {},
                {},
                [](const AppState& s) { return s.overlayMode() == OverlayMode::histogram; },
                [](AppState& s, bool m) { chooseOverlay(s, m, OverlayMode::histogram); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Thumbnails"),
                true,
                Qt::CTRL | Qt::Key_T,
                {},
                [](const AppState& s) { return s.showThumbnailBar(); },
                [](AppState& s, bool m) { s.setShowThumbnailBar(m); }},
};

// Backspace stays "previous image" in the viewer, so the Trash takes the Delete key.
const std::array kFileCommands = {
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Copy Image"),
                false,
                Qt::CTRL | Qt::SHIFT | Qt::Key_C,
                {},
                nullptr,
                [](AppState& s, bool) { s.copyImage(); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Show in File Manager"),
                false,
                {},
                {},
                nullptr,
                [](AppState& s, bool) { s.revealInFileManager(); }},
    ControlItem{QT_TRANSLATE_NOOP("kivo::Menus", "Delete Image"),
                false,
                QKeyCombination(Qt::Key_Delete),
                {},
                nullptr,
                [](AppState& s, bool) { s.setShowDeleteConfirmation(true); }},
};

QList<QKeySequence> shortcutsOf(const ControlItem& item) {
    QList<QKeySequence> keys;
    for (const QKeyCombination key : {item.shortcut, item.alternateShortcut})
        if (key.toCombined() != 0 && key.key() != Qt::Key_unknown)
            keys.append(QKeySequence(key));
    return keys;
}

// A check item's mark is read from the model; after a choice the model decides, not Qt's toggle.
void syncMark(QAction& action, const ControlItem& item, const AppState* state) {
    if (item.isCheck)
        action.setChecked(state && item.isMarked(*state));
}

QAction* addItem(QMenu& menu, const ControlItem& item, AppState* state) {
    auto* action = menu.addAction(translated(item.title));
    action->setCheckable(item.isCheck);
    action->setShortcuts(shortcutsOf(item));
    QPointer<AppState> model(state);
    syncMark(*action, item, state);
    QObject::connect(action, &QAction::triggered, action, [action, &item, model](bool checked) {
        const bool newMark = item.isCheck ? checked : true;
        if (model)
            item.choose(*model, newMark);
        syncMark(*action, item, model);
    });
    if (item.isCheck) {
        QObject::connect(&menu, &QMenu::aboutToShow, action,
                         [action, &item, model] { syncMark(*action, item, model); });
        if (state) {
            const auto sync = [action, &item, model] { syncMark(*action, item, model); };
            QObject::connect(state, &AppState::displayModeChanged, action, sync);
            QObject::connect(state, &AppState::overlayModeChanged, action, sync);
            QObject::connect(state, &AppState::showThumbnailBarChanged, action, sync);
        }
    }
    return action;
}

// Rebuilt each time the submenu opens, since the applications depend on the file shown.
void fillOpenWithMenu(QMenu& submenu, const QPointer<AppState>& model) {
    submenu.clear();
    const QList<OpenWithApp> apps = model ? model->openWithApps() : QList<OpenWithApp>{};
    for (const OpenWithApp& app : apps) {
        auto* action = submenu.addAction(applicationIcon(app.url), app.name);
        action->setData(app.url);
        QObject::connect(action, &QAction::triggered, action, [model, url = app.url] {
            if (model)
                model->openWith(url);
        });
    }
    submenu.addSeparator();
    auto* other = submenu.addAction(otherApplicationTitle());
    QObject::connect(other, &QAction::triggered, other, [model] {
        if (model)
            model->chooseOtherApp();
    });
}

void addOpenWithMenu(QMenu& menu, AppState* state) {
    auto* submenu = menu.addMenu(openWithTitle());
    submenu->menuAction()->setEnabled(state != nullptr);
    QPointer<AppState> model(state);
    fillOpenWithMenu(*submenu, model);
    QObject::connect(submenu, &QMenu::aboutToShow, submenu,
                     [submenu, model] { fillOpenWithMenu(*submenu, model); });
}

} // namespace

std::span<const ControlItem> controlItems(ControlGroup group) {
    switch (group) {
    case ControlGroup::displayModes:
        return kDisplayModes;
    case ControlGroup::zoom:
        return kZoom;
    case ControlGroup::rotation:
        return kRotation;
    case ControlGroup::overlays:
        return kOverlays;
    case ControlGroup::openWith:
        break;
    }
    return {};
}

const ControlItem& fileCommandItem(FileCommand command) {
    return kFileCommands[static_cast<size_t>(command)];
}

QString openWithTitle() {
    return translated(QT_TRANSLATE_NOOP("kivo::Menus", "Open With"));
}

QString otherApplicationTitle() {
    return translated(QT_TRANSLATE_NOOP("kivo::Menus", "Other..."));
}

void addControlGroup(QMenu& menu, ControlGroup group, AppState* state) {
    if (group == ControlGroup::openWith) {
        addOpenWithMenu(menu, state);
        return;
    }
    for (const ControlItem& item : controlItems(group))
        addItem(menu, item, state);
}

QAction* addFileCommand(QMenu& menu, FileCommand command, AppState* state) {
    QAction* action = addItem(menu, fileCommandItem(command), state);
    action->setEnabled(state != nullptr);
    return action;
}

void fillContextMenu(QMenu& menu, AppState& state) {
    menu.clear();
    if (!state.currentImage())
        return;
    addFileCommand(menu, FileCommand::copyImage, &state);
    addFileCommand(menu, FileCommand::showInFileManager, &state);
    addControlGroup(menu, ControlGroup::openWith, &state);
    menu.addSeparator();
    addControlGroup(menu, ControlGroup::displayModes, &state);
    menu.addSeparator();
    addControlGroup(menu, ControlGroup::rotation, &state);
    menu.addSeparator();
    addControlGroup(menu, ControlGroup::overlays, &state);
    menu.addSeparator();
    addFileCommand(menu, FileCommand::deleteImage, &state);
}

} // namespace kivo
