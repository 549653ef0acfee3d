// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <QLocale>
#include <QString>
#include <optional>
#include <string_view>
#include <vector>

namespace kivo {

// The lower-case extensions of the formats the viewer shows.
bool isSupportedExtension(std::string_view extension);

// The text after the last dot of the file name, empty when there is none.
std::string_view pathExtension(std::string_view fileName);

// The supported images directly inside `folder` (no hidden entries, no recursion, entries not
// tested for being regular files) in the file manager's natural order. None when the folder
// cannot be read. Costs one directory read: no entry is stat'ed.
std::optional<std::vector<FilePath>> listSupportedImages(const FilePath& folder);

// Sorts file paths by their names in natural order: case-insensitive, runs of digits by value,
// collated for `locale` (the user's by default). The C/POSIX locale collates by code point, so
// there the rule falls back to English collation. Ties fall back to the raw bytes so the order
// is total.
void sortNaturally(std::vector<FilePath>& paths, const QLocale& locale = QLocale::system());

} // namespace kivo
