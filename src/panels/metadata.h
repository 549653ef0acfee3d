// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/metadata/metadataentry.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace kivo {

// The rows the metadata panel shows for a file, from its file-system attributes and the
// properties of its first image only (no pixels are decoded). Never fails: whatever cannot be
// read yields fewer rows.
QList<MetadataEntry> extractMetadata(const FilePath& path);

// The rows for a file of `fileSize` bytes (none when unknown) whose first image has the property
// dictionary `properties` (keys as in imaging/source.h). A value that is missing, of another
// type than its row expects, or that has no sensible text (a zero exposure time, an infinite
// focal length) leaves its row out.
QList<MetadataEntry> metadataRows(std::optional<qint64> fileSize,
                                  const std::optional<QVariantMap>& properties);

} // namespace kivo
