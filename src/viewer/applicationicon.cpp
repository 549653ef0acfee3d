// SPDX-License-Identifier: GPL-3.0-or-later
#include "applicationicon.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace kivo {

namespace {

// Desktop entry ids name sub-folders with dashes: "kde4-okular.desktop" may live at
// applications/kde4/okular.desktop.
QString locateEntry(const QString& application) {
    if (QFileInfo(application).isAbsolute())
        return application;
    QString relative = application;
    while (true) {
        const QString found =
            QStandardPaths::locate(QStandardPaths::ApplicationsLocation, relative);
        if (!found.isEmpty())
            return found;
        const qsizetype dash = relative.indexOf(u'-');
        if (dash < 0)
            return {};
        relative[dash] = u'/';
    }
}

// The Icon key of the [Desktop Entry] group. Read by hand: QSettings' INI reader would treat
// the entry's list separators and escapes its own way.
QString iconKey(const QString& entryPath) {
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() > 1024 * 1024)
        return {};
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.startsWith(QLatin1String("Icon=")))
            return line.mid(5).trimmed();
    }
    return {};
}

} // namespace

QIcon applicationIcon(const QString& application) {
    const QString entry = locateEntry(application);
    if (entry.isEmpty())
        return {};
    const QString name = iconKey(entry);
    if (name.isEmpty())
        return {};
    if (QFileInfo(name).isAbsolute())
        return QFileInfo::exists(name) ? QIcon(name) : QIcon();
    return QIcon::fromTheme(name);
}

} // namespace kivo
