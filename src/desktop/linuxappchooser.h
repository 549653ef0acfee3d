// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktopservices.h"

#include <QDBusConnection>
#include <QObject>

namespace kivo {

// The desktop's own application chooser, reached through the XDG desktop portal: OpenURI's
// OpenFile with "ask" set, handed a descriptor of the file (the portal refuses file:// URIs),
// lists the applications, lets the user pick one and opens the file with it. The portal answers
// later, through the Response signal of the request it returns. Where no portal is on the bus
// or it reports a failure, a file dialog over the installed application entries (*.desktop)
// stands in and the picked entry is handed back; a choice the user cancelled does nothing.
class LinuxApplicationChooser final : public ApplicationChooser {
public:
    explicit LinuxApplicationChooser(QDBusConnection bus = QDBusConnection::sessionBus());
    void choose(const FilePath& file, QWindow* parent,
                std::function<void(const QString& application)> chosen) override;

private:
    QDBusConnection bus_;
    QObject requests_; // parent of the portal requests still waiting for their answer
    unsigned lastToken_ = 0;
};

// Asks the user for an application entry in a file dialog over the folders where the desktop
// keeps them; `chosen` gets the entry's path unless the dialog is cancelled.
void chooseApplicationEntry(QWindow* parent, std::function<void(const QString&)> chosen);

} // namespace kivo
