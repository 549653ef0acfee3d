// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingswindow.h"

#include "model/appstate.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
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
    , displayProfile_(new QCheckBox(tr("Use the display's colour profile"), this))
    , tileMemory_(new QSpinBox(this)) {
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
    layout->addSpacing(kInset / 2);
    auto* advanced = new QLabel(tr("Advanced"), this);
    QFont heading = advanced->font();
    heading.setBold(true);
    advanced->setFont(heading);
    layout->addWidget(advanced);
    auto* memoryRow = new QHBoxLayout;
    auto* memoryLabel = new QLabel(tr("Memory for large images:"), this);
    memoryLabel->setBuddy(tileMemory_);
    memoryRow->addWidget(memoryLabel);
    memoryRow->addWidget(tileMemory_);
    layout->addLayout(memoryRow);
    auto* memoryCaption = new QLabel(
        tr("Pictures too large to hold whole are read in tiles within this memory. It also "
           "limits the size of such a picture that can be copied."),
        this);
    memoryCaption->setFont(small);
    memoryCaption->setForegroundRole(QPalette::PlaceholderText);
    memoryCaption->setWordWrap(true);
    layout->addWidget(memoryCaption);
    // The inset form is 340 wide; its height follows the content.
    setFixedWidth(kWidth);
    setFixedHeight(layout->hasHeightForWidth() ? layout->totalHeightForWidth(kWidth)
                                               : layout->totalSizeHint().height());

    const bool multiWindow = AppState::isMultiWindowMode(settings_);
    toggle_->setChecked(multiWindow);
    apply(multiWindow);
    displayProfile_->setChecked(PreferenceStore::useDisplayProfile(settings_));
    tileMemory_->setRange(PreferenceStore::kTileCacheMinMB, PreferenceStore::kTileCacheMaxMB);
    tileMemory_->setSingleStep(64);
    tileMemory_->setSuffix(tr(" MB"));
    tileMemory_->setValue(PreferenceStore::tileCacheMegabytes(settings_));
    connect(tileMemory_, &QSpinBox::valueChanged, this, [this](int megabytes) {
        PreferenceStore::setTileCacheMegabytes(settings_, megabytes);
    });
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
