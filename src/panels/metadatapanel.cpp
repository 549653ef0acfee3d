// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadatapanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QSet>
#include <QVBoxLayout>
#include <memory>

namespace kivo {

namespace {

constexpr int kSpacing = 6;
constexpr int kSpaceBelowTitle = 4;

QLabel* captionLabel(const QString& text, const QString& colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(captionFont(parent->font()));
    label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(colour));
    label->setTextFormat(Qt::PlainText); // values come from files: never markup
    return label;
}

} // namespace

MetadataPanel::MetadataPanel(QWidget* parent)
    : OverlayCard(tr("Metadata"), kSpacing, kSpaceBelowTitle, parent)
    , rows_(new QGridLayout)
    , empty_(captionLabel(tr("No metadata available"), QStringLiteral("#9a9a9a"), this)) {
    setFixedWidth(kWidth);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setHorizontalSpacing(kLabelSpacing);
    rows_->setVerticalSpacing(kSpacing);
    rows_->setColumnMinimumWidth(0, kLabelWidth);
    rows_->setColumnStretch(1, 1);
    content()->addWidget(empty_);
    content()->addLayout(rows_);
}

QLabel* MetadataPanel::valueLabel(const QString& label) const {
    const auto it = rowsByLabel_.find(label);
    return it == rowsByLabel_.end() ? nullptr : it->second.value;
}

void MetadataPanel::setEntries(const QList<MetadataEntry>& entries) {
    entries_ = entries;
    QSet<QString> kept;
    for (const auto& entry : entries)
        kept.insert(entry.label);
    for (auto it = rowsByLabel_.begin(); it != rowsByLabel_.end();) {
        if (kept.contains(it->first)) {
            ++it;
            continue;
        }
        // Taken back from the card, which owns them, to go at once with their row.
        std::unique_ptr<QLabel>(it->second.label).reset();
        std::unique_ptr<QLabel>(it->second.value).reset();
        it = rowsByLabel_.erase(it);
    }
    // Lay the rows out again in list order, reusing the rows already there.
    while (rows_->count() > 0)
        std::unique_ptr<QLayoutItem>(rows_->takeAt(0)).reset(); // the item only; labels stay
    int line = 0;
    for (const auto& entry : entries) {
        auto [it, made] = rowsByLabel_.try_emplace(entry.label);
        Row& row = it->second;
        if (made) {
            row.label = captionLabel(entry.label, QStringLiteral("#9a9a9a"), this);
            row.label->setFixedWidth(kLabelWidth);
            row.label->setAlignment(Qt::AlignRight | Qt::AlignTop);
            row.label->setWordWrap(true);
            row.value = captionLabel(entry.value, QStringLiteral("white"), this);
            row.value->setWordWrap(true);
            // Selectable and copyable with the mouse, but never focused: a focused value
            // would take the arrow keys that step through the folder.
            row.value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            row.value->setFocusPolicy(Qt::NoFocus);
            row.value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            row.value->setMinimumWidth(1);
            // Not left to the layout, which shows new children only later: the fitted size
            // must count them at once.
            row.label->show();
            row.value->show();
        } else if (row.value->text() != entry.value) {
            row.value->setText(entry.value);
        }
        rows_->addWidget(row.label, line, 0, Qt::AlignTop);
        rows_->addWidget(row.value, line, 1, Qt::AlignTop);
        ++line;
    }
    empty_->setVisible(entries.isEmpty());
    adjustSize();
}

} // namespace kivo
