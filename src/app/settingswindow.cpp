// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingswindow.h"

#include "model/appstate.h"

#include <QCheckBox>
#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>

namespace kivo {

namespace {
const QString kMultiWindowModeKey = QStringLiteral("multiWindowMode");
} // namespace

SettingsWindow::SettingsWindow(QSettings& settings, std::function<void()> colourSettingChanged,
                               QWidget* parent)
    : QWidget(parent, Qt::Window)
    , settings_(settings)
    , toggle_(new QCheckBox(tr("Open each image in its own window"), this))
    , caption_(new QLabel(this))
    , displayProfile_(new QCheckBox(tr("Use the display's colour profile"), this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Settings"));

    // The caption look: a smaller font in the dimmed text colour.
    QFont small = caption_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    caption_->setFont(small);
    caption_->setForegroundRole(QPalette::PlaceholderText);
    caption_->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kInset, kInset, kInset, kInset);
    layout->addWidget(toggle_);
    layout->addWidget(caption_);
    layout->addSpacing(kInset / 2);
    layout->addWidget(displayProfile_);
    // The inset form is 340 wide; its height follows the content.
    setFixedWidth(kWidth);
    setFixedHeight(layout->hasHeightForWidth() ? layout->totalHeightForWidth(kWidth)
                                               : layout->totalSizeHint().height());

    const bool multiWindow = AppState::isMultiWindowMode(settings_);
    toggle_->setChecked(multiWindow);
    apply(multiWindow);
    displayProfile_->setChecked(PreferenceStore::useDisplayProfile(settings_));
    connect(displayProfile_, &QCheckBox::toggled, this,
            [this, changed = std::move(colourSettingChanged)](bool on) {
                PreferenceStore::setUseDisplayProfile(settings_, on);
                if (changed)
                    changed();
            });
    connect(toggle_, &QCheckBox::toggled, this, [this](bool on) {
        settings_.setValue(kMultiWindowModeKey, on);
        settings_.sync();
        apply(on);
    });
}

void SettingsWindow::apply(bool multiWindow) {
    caption_->setText(multiWindow ? tr("Every opened image gets a separate window.")
                                  : tr("Opened images reuse the existing window."));
}

} // namespace kivo
