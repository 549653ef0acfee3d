// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panels/metadata.h"
#include "panels/overlaycard.h"

#include <map>

class QGridLayout;
class QLabel;

namespace kivo {

// The 280-point card titled "Metadata" over the top-left of the picture: one row per entry, the
// label grey and right-aligned in a 90-point column, the value white beside it, wrapping and
// selectable so that it can be copied (labels cannot be selected). Rows are keyed by label: a new
// list keeps the rows whose labels it still has, with any selection in them.
class MetadataPanel : public OverlayCard {
    Q_OBJECT

public:
    static constexpr int kWidth = 280;
    static constexpr int kLabelWidth = 90;
    static constexpr int kLabelSpacing = 8;

    explicit MetadataPanel(QWidget* parent = nullptr);

    void setEntries(const QList<MetadataEntry>& entries);
    const QList<MetadataEntry>& entries() const { return entries_; }

    // The value shown beside `label`, none when there is no such row (for tests and tools).
    QLabel* valueLabel(const QString& label) const;

private:
    struct Row {
        QLabel* label;
        QLabel* value;
    };

    QList<MetadataEntry> entries_;
    QGridLayout* rows_;
    QLabel* empty_;
    std::map<QString, Row> rowsByLabel_;
};

} // namespace kivo
