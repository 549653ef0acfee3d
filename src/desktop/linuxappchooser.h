#pragma once

#include "desktopservices.h"

#include <QDBusConnection>

namespace kivo {

// The desktop's own application chooser, reached through the XDG desktop portal
// (org.freedesktop.portal.OpenURI with "ask"), which lists the applications, lets the user pick
// one and opens the file with it. Where no portal answers, a file dialog over the installed
// application entries (*.desktop) stands in, and the picked entry is handed back.
class LinuxApplicationChooser final : public ApplicationChooser {
public:
    explicit LinuxApplicationChooser(QDBusConnection bus = QDBusConnection::sessionBus());
    void choose(const FilePath& file, QWindow* parent,
                std::function<void(const QString& application)> chosen) override;

private:
    QDBusConnection bus_;
};

// Asks the user for an application entry in a file dialog over the folders where the desktop
// keeps them; `chosen` gets the entry's path unless the dialog is cancelled.
void chooseApplicationEntry(QWindow* parent, std::function<void(const QString&)> chosen);

} // namespace kivo
