// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QSpinBox;
class QSettings;

namespace kivo {

// The settings window: whether every opened image gets a window of its own, whether pictures
// are shown in the screen's colour profile, and (under Advanced) the memory the tiles of a huge
// picture may take. A change is written to the preference store at once; the window mode
// applies from the next opened file on, the colour profile at once through
// `colourSettingChanged`, the tile memory from the next change of the picture or its zoom.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 340;
    static constexpr int kInset = 20;

    explicit SettingsWindow(QSettings& settings, std::function<void()> colourSettingChanged = {},
                            QWidget* parent = nullptr);

    QCheckBox* multiWindowToggle() const { return toggle_; }
    QLabel* caption() const { return caption_; }
    QCheckBox* displayProfileToggle() const { return displayProfile_; }
    QSpinBox* tileMemoryField() const { return tileMemory_; }

private:
    void apply(bool multiWindow);

    QSettings& settings_;
    QCheckBox* toggle_;
    QLabel* caption_;
    QCheckBox* displayProfile_;
    QSpinBox* tileMemory_;
};

} // namespace kivo
