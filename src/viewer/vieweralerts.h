// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

namespace kivo {

class AppState;

// The two alerts of a viewer window, each shown while its model field asks for it: the
// move-to-Trash confirmation while showDeleteConfirmation is true, the error alert while
// deleteError holds a description. Dismissing an alert in any way clears its field.
class ViewerAlerts : public QObject {
    Q_OBJECT

public:
    ViewerAlerts(AppState& state, QWidget& host);

    QMessageBox* deleteConfirmation() const { return deleteConfirmation_; }
    QMessageBox* errorAlert() const { return errorAlert_; }

private:
    void syncDeleteConfirmation();
    void syncErrorAlert();

    AppState& state_;
    QWidget& host_;
    QPointer<QMessageBox> deleteConfirmation_;
    QPointer<QMessageBox> errorAlert_;
};

} // namespace kivo
