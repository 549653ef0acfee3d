// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>

namespace kivo {

// File names on Linux are bytes, not text: a name that is not valid UTF-8 must still round-trip
// from the folder listing to open(). So the model keeps paths as native byte strings and only
// turns them into text for display.
using FilePath = std::filesystem::path;

inline QString displayName(const FilePath& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.filename().native()));
}

inline QString displayPath(const FilePath& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

inline FilePath filePathFromText(const QString& text) {
    return FilePath(QFile::encodeName(text).toStdString());
}

} // namespace kivo
