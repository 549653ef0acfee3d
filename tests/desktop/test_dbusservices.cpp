// Reveal in the file manager and the portal's application chooser, talking to a private
// dbus-daemon on which the test itself plays the file manager and the portal.
#include "desktop/linuxappchooser.h"
#include "desktop/linuxfilemanager.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace kivo;

namespace {

const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Stands in for a file manager: records what it was asked to show.
class RecordingFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shown.push_back(uris); }
};

// Behaves as the desktop portal's OpenURI does: a call returns the request's path at once and
// the outcome follows as that request's Response signal; local files are refused in OpenURI
// (through Response, not the reply) and only taken as a descriptor in OpenFile.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.OpenURI")
public:
    explicit FakePortal(QDBusConnection bus)
        : bus_(std::move(bus)) {}
    uint answer = 0;         // 0 the user picked an application, 1 cancelled, 2 failed
    QStringList openedFiles; // where the descriptors handed to OpenFile lead
    QList<bool> asked;
    QStringList refusedUris;
public Q_SLOTS:
    QDBusObjectPath OpenURI(const QString&, const QString& uri, const QVariantMap& options) {
        const bool local = uri.startsWith(QStringLiteral("file:"));
        if (local)
            refusedUris.push_back(uri);
        return respond(options, local ? 2 : answer);
    }
    QDBusObjectPath OpenFile(const QString&, const QDBusUnixFileDescriptor& fd,
                             const QVariantMap& options) {
        openedFiles.push_back(
            QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd.fileDescriptor())));
        asked.push_back(options.value(QStringLiteral("ask")).toBool());
        return respond(options, answer);
    }

private:
    QDBusObjectPath respond(const QVariantMap& options, uint response) {
        const QString sender = message().service().mid(1).replace(QLatin1Char('.'), '_');
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(sender,
                     options.value(QStringLiteral("handle_token"), QStringLiteral("t")).toString());
        QTimer::singleShot(20, this, [this, path, response] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << response << QVariantMap();
            bus_.send(signal);
        });
        return QDBusObjectPath(path);
    }

    QDBusConnection bus_;
};

// Catches what QDesktopServices::openUrl would hand to the desktop.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls.push_back(url); }
};

QFileDialog* openFileDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

} // namespace

class TestDBusServices : public QObject {
    Q_OBJECT

public:
    explicit TestDBusServices(const QByteArray& busAddress)
        : services_(QDBusConnection::connectToBus(QString::fromLatin1(busAddress),
                                                  QStringLiteral("test-services"))) {}

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(services_.isConnected(), "the private dbus-daemon did not start");
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QVERIFY(services_.registerObject(QStringLiteral("/org/freedesktop/FileManager1"),
                                         &fileManager_, QDBusConnection::ExportAllSlots));
        QVERIFY(services_.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"),
                                         &portal_, QDBusConnection::ExportAllSlots));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &urlRecorder_, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    void revealAsksTheFileManagerElseOpensTheFolder() {
        QVERIFY(services_.registerService(kFileManagerService));
        LinuxFileManager().showItem(FilePath("/photos/with space/caf\xe9.jpg"));
        QTRY_COMPARE(fileManager_.shown.size(), 1);
        QCOMPARE(fileManager_.shown.front(),
                 QStringList{QStringLiteral("file:///photos/with%20space/caf%E9.jpg")});
        QVERIFY(services_.unregisterService(kFileManagerService));

        // With no file manager on the bus the folder opens instead, and only then.
        LinuxFileManager().showItem(FilePath("/photos/trip/a.jpg"));
        QTRY_COMPARE(urlRecorder_.urls.size(), 1);
        QCOMPARE(urlRecorder_.urls.front(), QUrl(QStringLiteral("file:///photos/trip")));
        QCOMPARE(fileManager_.shown.size(), 1);
    }

    // The portal is handed the file itself and asked to let the user choose. Only a portal
    // that is missing or fails brings up our own chooser (accepting an entry there is covered
    // end to end by the file actions test); a choice cancelled in either does nothing.
    void otherApplicationGoesThroughThePortalElseAFileDialog_data() {
        QTest::addColumn<bool>("portalOnBus");
        QTest::addColumn<uint>("answer");
        QTest::addColumn<bool>("fallsBack");
        QTest::newRow("picked") << true << 0u << false;
        QTest::newRow("cancelled") << true << 1u << false;
        QTest::newRow("portal failed") << true << 2u << true;
        QTest::newRow("no portal") << false << 0u << true;
    }
    void otherApplicationGoesThroughThePortalElseAFileDialog() {
        QFETCH(bool, portalOnBus);
        QFETCH(uint, answer);
        QFETCH(bool, fallsBack);
        if (portalOnBus)
            QVERIFY(services_.registerService(kPortalService));
        const auto unregister = qScopeGuard([&] { services_.unregisterService(kPortalService); });
        portal_.answer = answer;
        portal_.openedFiles.clear();
        QTemporaryDir folder;
        const QString photo = folder.filePath(QStringLiteral("a b.jpg"));
        QFile(photo).open(QIODevice::WriteOnly);

        bool called = false;
        LinuxApplicationChooser chooser;
        chooser.choose(filePathFromText(photo), nullptr, [&](const QString&) { called = true; });
        if (portalOnBus) {
            QTRY_COMPARE(portal_.openedFiles, QStringList{photo});
            QCOMPARE(portal_.asked, QList<bool>{true});
            portal_.asked.clear();
        }
        if (fallsBack) {
            QTRY_VERIFY(openFileDialog());
            openFileDialog()->reject();
        }
        QTest::qWait(100);
        QVERIFY(!called && !openFileDialog());
        QCOMPARE(portal_.refusedUris, QStringList());
    }

private:
    QDBusConnection services_;
    RecordingFileManager fileManager_;
    FakePortal portal_{services_};
    UrlRecorder urlRecorder_;
};

int main(int argc, char** argv) {
    // The test runs again under dbus-run-session with a bus of its own (privatebus.conf), set up
    // before anything in the process first reaches for the session bus.
    if (!qEnvironmentVariableIsSet("KIVO_PRIVATE_BUS")) {
        qputenv("KIVO_PRIVATE_BUS", "1");
        std::vector<const char*> command{
            "dbus-run-session", "--config-file=" KIVO_SOURCE_DIR "/tests/desktop/privatebus.conf",
            "--"};
        command.insert(command.end(), argv, argv + argc);
        command.push_back(nullptr);
        ::execvp(command[0], const_cast<char* const*>(command.data()));
        std::perror("dbus-run-session");
        return 1;
    }
    QApplication app(argc, argv);
    TestDBusServices test(qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    return QTest::qExec(&test, argc, argv);
}

#include "test_dbusservices.moc"
