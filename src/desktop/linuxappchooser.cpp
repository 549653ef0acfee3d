// SPDX-License-Identifier: GPL-3.0-or-later
#include "linuxappchooser.h"

#include "applicationid.h"
#include "portalrequest.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QStandardPaths>
#include <QWindow>
#include <fcntl.h>
#include <unistd.h>

namespace kivo {

namespace {

// The system-wide applications folder when there is one: the user's own folder usually holds
// only a few entries.
QString applicationsFolder() {
    const QStringList locations =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (qsizetype i = 1; i < locations.size(); ++i)
        if (QFileInfo(locations[i]).isDir())
            return locations[i];
    return locations.isEmpty() ? QString() : locations.front();
}

// How the portal names the window its dialog belongs to. Only X11 windows can be named without
// a handshake; elsewhere the portal centres its dialog on its own.
QString portalParentHandle(QWindow* parent) {
    if (!parent || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return QStringLiteral("x11:") + QString::number(parent->winId(), 16);
}

} // namespace

void chooseApplicationEntry(QWindow* parent, std::function<void(const QString&)> chosen) {
    auto* dialog = new QFileDialog(
        nullptr, QCoreApplication::translate("ApplicationChooser", "Choose Application"),
        applicationsFolder(),
        QCoreApplication::translate("ApplicationChooser", "Applications (*.desktop)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // This runs when no portal answered, and Qt's native dialog on Linux is the portal's.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setLabelText(QFileDialog::Accept,
                         QCoreApplication::translate("ApplicationChooser", "Open"));
    if (parent) {
        dialog->winId(); // makes the dialog's window so it can be tied to the viewer's
        dialog->windowHandle()->setTransientParent(parent);
    }
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [chosen = std::move(chosen)](const QString& path) {
                         if (!path.isEmpty())
                             chosen(path);
                     });
    dialog->open();
}

LinuxApplicationChooser::LinuxApplicationChooser(QDBusConnection bus)
    : bus_(std::move(bus)) {}

void LinuxApplicationChooser::choose(const FilePath& file, QWindow* parent,
                                     std::function<void(const QString&)> chosen) {
    // Non-blocking, so a FIFO named like an image cannot hold the window; the portal reads the
    // file through its own copy of the descriptor.
    const int fd = bus_.isConnected() && QDBusUnixFileDescriptor::isSupported()
                       ? ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)
                       : -1;
    if (fd < 0) {
        chooseApplicationEntry(parent, std::move(chosen));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenFile"));
    call << portalParentHandle(parent) << QVariant::fromValue(QDBusUnixFileDescriptor(fd))
         << QVariantMap{{QStringLiteral("ask"), true}};
    ::close(fd); // the message holds its own duplicate
    const QString token = QStringLiteral("%1_%2")
                              .arg(QString::fromLatin1(applicationId))
                              .replace(QLatin1Char('.'), QLatin1Char('_'))
                              .arg(++lastToken_);
    PortalRequest::start(
        bus_, call, token,
        [parent = QPointer<QWindow>(parent), chosen = std::move(chosen)](PortalOutcome outcome) {
            // On success the portal opened the file itself; a cancelled choice is the user's.
            if (outcome == PortalOutcome::failed)
                chooseApplicationEntry(parent, chosen);
        },
        &requests_);
}

} // namespace kivo
