#include "linuxappchooser.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QWindow>

namespace kivo {

namespace {

// The portal may have to be started by D-Bus first; after that it answers at once (the dialog
// itself runs after the reply).
constexpr int kPortalTimeoutMs = 10000;

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
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    if (parent) {
        dialog->winId(); // creates the dialog's window so it can be placed over the parent
        dialog->windowHandle()->setTransientParent(parent);
    }
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
    if (!bus_.isConnected()) {
        chooseApplicationEntry(parent, std::move(chosen));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenURI"));
    call << QString() // no parent window handle: the portal centres its dialog itself
         << fileUri(file) << QVariantMap{{QStringLiteral("ask"), true}};
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kPortalTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [parent = QPointer<QWindow>(parent),
                      chosen = std::move(chosen)](QDBusPendingCallWatcher* finished) mutable {
                         // A reply means the portal took over: it shows its chooser and opens the
                         // file.
                         if (finished->isError())
                             chooseApplicationEntry(parent, std::move(chosen));
                         finished->deleteLater();
                     });
}

} // namespace kivo
