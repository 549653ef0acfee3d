// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QString>

namespace kivo {

// The icon an application names in its desktop entry, looked up in the icon theme (or loaded
// from the file when the entry gives a path). `application` is a desktop entry id such as
// "gimp.desktop" or the absolute path of an entry. A null icon when there is none.
QIcon applicationIcon(const QString& application);

} // namespace kivo
