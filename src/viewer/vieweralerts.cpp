// SPDX-License-Identifier: GPL-3.0-or-later
#include "vieweralerts.h"

#include "model/appstate.h"

#include <QPushButton>
#include <filesystem>
#include <optional>

namespace kivo {

namespace {

// Window-modal and not blocking: the model, not a nested event loop, decides when it goes.
QMessageBox* openAlert(QWidget& host, const QString& title, const QString& message) {
    auto* box = new QMessageBox(&host);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message);
    box->setWindowModality(Qt::WindowModal);
    return box;
}

// Closes an alert whose field was cleared elsewhere, without it writing the field back.
void dismiss(QPointer<QMessageBox>& box, QObject* listener) {
    if (box) {
        QObject::disconnect(box, nullptr, listener, nullptr);
        box->close();
    }
    box = nullptr;
}

// Whether the named file is still in its folder; a link counts even when what it points to is gone.
bool stillThere(const FilePath& path) {
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() !=
               std::filesystem::file_type::not_found &&
           !error;
}

} // namespace

ViewerAlerts::ViewerAlerts(AppState& state, QWidget& host)
    : QObject(&host)
    , state_(state)
    , host_(host) {
    connect(&state, &AppState::showDeleteConfirmationChanged, this,
            &ViewerAlerts::syncDeleteConfirmation);
    connect(&state, &AppState::deleteErrorChanged, this, &ViewerAlerts::syncErrorAlert);
    syncDeleteConfirmation();
    syncErrorAlert();
}

void ViewerAlerts::syncDeleteConfirmation() {
    if (!state_.showDeleteConfirmation()) {
        dismiss(deleteConfirmation_, this);
        return;
    }
    if (deleteConfirmation_)
        return;
    // The dialog is bound to the file it names. Another file can become current behind it (a file
    // handed over from outside, the folder watcher stepping on after another program moved the
    // named one); "Delete" must never reach that file, so the dialog then goes unanswered.
    const std::optional<FilePath> named = state_.currentURL();
    const QString message =
        named ? tr("Move \"%1\" to the Trash?").arg(displayName(*named)) : QString();
    QMessageBox* box = openAlert(host_, tr("Delete Image"), message);
    QPushButton* deleteButton = box->addButton(tr("Delete"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    deleteConfirmation_ = box;
    connect(&state_, &AppState::currentURLChanged, box, [this, named] {
        if (state_.currentURL() != named)
            state_.setShowDeleteConfirmation(false);
    });
    // finished comes for every way out: either button, Escape, closing the window.
    connect(box, &QMessageBox::finished, this, [this, box, deleteButton, named] {
        const bool confirmed = box->clickedButton() == deleteButton;
        deleteConfirmation_ = nullptr;
        if (confirmed && named && state_.currentURL() == named && stillThere(*named))
            state_.deleteCurrentImage();
        state_.setShowDeleteConfirmation(false);
    });
    box->open();
}

void ViewerAlerts::syncErrorAlert() {
    if (!state_.deleteError()) {
        dismiss(errorAlert_, this);
        return;
    }
    dismiss(errorAlert_, this); // a newer description replaces the one shown
    // The description comes from the system and is shown as it stands.
    QMessageBox* box = openAlert(host_, tr("Error"), *state_.deleteError());
    box->setIcon(QMessageBox::Critical);
    QPushButton* ok = box->addButton(tr("OK"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    errorAlert_ = box;
    connect(box, &QMessageBox::finished, this, [this] {
        errorAlert_ = nullptr;
        state_.setDeleteError(std::nullopt);
    });
    box->open();
}

} // namespace kivo
