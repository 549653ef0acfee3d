// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktopservices.h"

#include <QDBusConnection>

namespace kivo {

// Asks the running file manager over D-Bus (org.freedesktop.FileManager1.ShowItems, which
// Nautilus, Dolphin, Nemo, Caja and Thunar answer) to show the file selected. When none
// answers, the file's folder is opened instead, which every desktop can do.
class LinuxFileManager final : public FileManager {
public:
    explicit LinuxFileManager(QDBusConnection bus = QDBusConnection::sessionBus());
    void showItem(const FilePath& file) override;

private:
    QDBusConnection bus_;
};

} // namespace kivo
