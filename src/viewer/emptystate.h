// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/result.h"

#include <QWidget>
#include <optional>

class QLabel;

namespace kivo {

class AppState;

// The sentence a user reads for why a file cannot be shown.
QString failureText(FailureReason reason);

// What the viewer shows without a picture: an invitation to open one, or, when the file the
// window stands on cannot be shown, its name and why, so a damaged file is never mistaken for
// the picture before it.
class EmptyState : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSpacing = 12;
    static constexpr int kSymbolSize = 48;

    EmptyState(AppState& state, QWidget* parent);

    QString fileNameText() const;
    QString messageText() const;
    QString hintText() const;

private:
    void refresh();

    AppState& state_;
    QLabel* symbol_;
    QLabel* fileName_;
    QLabel* message_;
    QLabel* hint_;
};

} // namespace kivo
