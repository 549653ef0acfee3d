// SPDX-License-Identifier: GPL-3.0-or-later
#include "linuxfilemanager.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QUrl>

namespace kivo {

namespace {

// Long enough for a file manager that D-Bus has to start first, short enough that the folder
// still opens while the user waits for something to happen.
constexpr int kReplyTimeoutMs = 10000;

void openContainingFolder(const FilePath& file) {
    QDesktopServices::openUrl(QUrl(fileUri(file.parent_path())));
}

} // namespace

LinuxFileManager::LinuxFileManager(QDBusConnection bus)
    : bus_(std::move(bus)) {}

void LinuxFileManager::showItem(const FilePath& file) {
    if (!bus_.isConnected()) {
        openContainingFolder(file);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileUri(file)} << QString(); // no startup-notification id
    // Asynchronous, so a slow or absent file manager never freezes the window.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kReplyTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [file](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             openContainingFolder(file);
                         finished->deleteLater();
                     });
}

} // namespace kivo
