#pragma once

#include "imaging/filepath.h"

#include <QList>
#include <QString>

namespace kivo {

// One row of the metadata panel. Its identity is its label: no two rows of a list share one.
struct MetadataEntry {
    QString label;
    QString value;

    const QString& id() const { return label; }
    friend bool operator==(const MetadataEntry&, const MetadataEntry&) = default;
};

// The rows the metadata panel shows for a file, from its file-system attributes and the
// properties of its first image only (no pixels are decoded). Never fails: whatever cannot be
// read yields fewer rows.
QList<MetadataEntry> extractMetadata(const FilePath& path);

} // namespace kivo
