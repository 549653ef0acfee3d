// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace kivo {

// One row of the metadata panel: what the model holds for the current file and the panel shows.
// Its identity is its label: no two rows of a list share one.
struct MetadataEntry {
    QString label;
    QString value;

    const QString& id() const { return label; }
    friend bool operator==(const MetadataEntry&, const MetadataEntry&) = default;
};

} // namespace kivo
