// SPDX-License-Identifier: GPL-3.0-or-later
#include "menubar.h"

#include "controlgroups.h"
#include "imaging/formats.h"
#include "model/appstate.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <memory>

namespace kivo {

namespace {

constexpr const char* kContext = "kivo::Menus";

QString translated(const char* text) {
    return QCoreApplication::translate(kContext, text);
}

QAction* addCommand(QMenu& menu, const char* title, QKeySequence shortcut,
                    const std::function<void()>& run) {
    auto* action = menu.addAction(translated(title));
    action->setShortcut(shortcut);
    action->setEnabled(static_cast<bool>(run));
    if (run)
        QObject::connect(action, &QAction::triggered, action, [run] { run(); });
    return action;
}

// The desktop's own file dialog (the portal's where the platform theme uses it), one file. The
// choice opens in this window's model, whichever window is active when the dialog returns. The
// dialog is window-modal but runs no event loop of its own: a window closed under it (the user,
// or a file routed elsewhere closing an empty window) takes the dialog with it.
void runOpenDialog(QWidget& parent, AppState* state) {
    auto dialog = std::make_unique<QFileDialog>(
        &parent, translated(QT_TRANSLATE_NOOP("kivo::Menus", "Open Image")), QString(),
        openDialogFilter());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setWindowModality(Qt::WindowModal);
    QPointer<AppState> model(state);
    QObject::connect(dialog.get(), &QFileDialog::fileSelected, &parent,
                     [model](const QString& chosen) {
                         if (model && !chosen.isEmpty())
                             model->openFile(filePathFromText(chosen));
                     });
    dialog.release()->open(); // the window owns it now
}

// Undoing a move to the Trash is offered once the model can restore the file; a model without
// that ability keeps the item disabled.
template <class State> void wireUndoMoveToTrash(QAction& action, State* state) {
    if constexpr (requires(State & s) {
                      { s.canUndoMoveToTrash() } -> std::convertible_to<bool>;
                      s.undoMoveToTrash();
                  }) {
        QPointer<State> model(state);
        const auto sync = [&action, model] {
            action.setEnabled(model && model->canUndoMoveToTrash());
        };
        sync();
        if (state)
            QObject::connect(state, &State::trashUndoChanged, &action, sync);
        QObject::connect(&action, &QAction::triggered, &action, [model] {
            if (model && model->canUndoMoveToTrash())
                model->undoMoveToTrash();
        });
    } else {
        action.setEnabled(false);
    }
}

void fillFileMenu(QMenu& menu, QMainWindow& window, AppState* state, const MenuCommands& commands) {
    QPointer<QMainWindow> host(&window);
    QPointer<AppState> model(state);
    addCommand(menu, QT_TRANSLATE_NOOP("kivo::Menus", "Open..."),
               QKeySequence(Qt::CTRL | Qt::Key_O), [host, model] {
                   if (host)
                       runOpenDialog(*host, model);
               });
    menu.addSeparator();
    addCommand(menu, QT_TRANSLATE_NOOP("kivo::Menus", "Close Window"),
               QKeySequence(Qt::CTRL | Qt::Key_W), [host] {
                   if (host)
                       host->close();
               });
    addCommand(menu, QT_TRANSLATE_NOOP("kivo::Menus", "Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q),
               commands.quit);
}

void fillEditMenu(QMenu& menu, AppState* state, const MenuCommands& commands) {
    auto* undo = menu.addAction(translated(QT_TRANSLATE_NOOP("kivo::Menus", "Undo Move to Trash")));
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    wireUndoMoveToTrash(*undo, state);
    menu.addSeparator();
    addFileCommand(menu, FileCommand::copyImage, state);
    addFileCommand(menu, FileCommand::showInFileManager, state);
    menu.addSeparator();
    addCommand(menu, QT_TRANSLATE_NOOP("kivo::Menus", "Settings..."),
               QKeySequence(Qt::CTRL | Qt::Key_Comma), commands.showSettings);
}

void fillImageMenu(QMenu& menu, QMainWindow& window, AppState* state) {
    bool first = true;
    for (const ControlGroup group :
         {ControlGroup::displayModes, ControlGroup::zoom, ControlGroup::rotation,
          ControlGroup::overlays, ControlGroup::openWith}) {
        if (!first)
            menu.addSeparator();
        first = false;
        addControlGroup(menu, group, state);
    }
    menu.addSeparator();
    addFileCommand(menu, FileCommand::deleteImage, state);
    menu.addSeparator();
    QPointer<QMainWindow> host(&window);
    addCommand(menu, QT_TRANSLATE_NOOP("kivo::Menus", "Full Screen"), QKeySequence(Qt::Key_F11),
               [host] {
                   if (host)
                       toggleFullScreen(*host);
               });
}

} // namespace

QString openDialogFilter() {
    QStringList patterns;
    for (const QString& extension : supportedExtensions())
        patterns.append(QStringLiteral("*.") + extension);
    return translated(QT_TRANSLATE_NOOP("kivo::Menus", "Images")) + QStringLiteral(" (") +
           patterns.join(u' ') + QStringLiteral(");;") +
           translated(QT_TRANSLATE_NOOP("kivo::Menus", "All Files")) + QStringLiteral(" (*)");
}

void toggleFullScreen(QWidget& window) {
    // Qt's full-screen state replaces a maximised one, and window managers drop it too: it is
    // noted here, so that leaving full screen returns the window to the state it had before.
    static const char* const kMaximisedBefore = "kivoMaximisedBeforeFullScreen";
    if (!window.isFullScreen()) {
        window.setProperty(kMaximisedBefore, window.isMaximized());
        window.showFullScreen();
    } else if (window.property(kMaximisedBefore).toBool()) {
        window.showMaximized();
    } else {
        window.showNormal();
    }
}

void fillMenuBar(QMainWindow& window, AppState* state, const MenuCommands& commands) {
    QMenuBar* bar = window.menuBar();
    bar->clear();
    fillFileMenu(*bar->addMenu(translated(QT_TRANSLATE_NOOP("kivo::Menus", "File"))), window, state,
                 commands);
    fillEditMenu(*bar->addMenu(translated(QT_TRANSLATE_NOOP("kivo::Menus", "Edit"))), state,
                 commands);
    fillImageMenu(*bar->addMenu(translated(QT_TRANSLATE_NOOP("kivo::Menus", "Image"))), window,
                  state);
    auto* help = bar->addMenu(translated(QT_TRANSLATE_NOOP("kivo::Menus", "Help")));
    addCommand(*help, QT_TRANSLATE_NOOP("kivo::Menus", "About Kivo"), {}, commands.showAbout);
}

} // namespace kivo
