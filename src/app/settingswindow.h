// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QSettings;

namespace kivo {

// The settings window: whether every opened image gets a window of its own. A change is written
// to the preference store at once and applies from the next opened file on.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 340;
    static constexpr int kInset = 20;

    explicit SettingsWindow(QSettings& settings, QWidget* parent = nullptr);

    QCheckBox* multiWindowToggle() const { return toggle_; }
    QLabel* caption() const { return caption_; }

private:
    void apply(bool multiWindow);

    QSettings& settings_;
    QCheckBox* toggle_;
    QLabel* caption_;
};

} // namespace kivo
