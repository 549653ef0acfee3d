// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop services against the real thing: the freedesktop.org Trash on real folders (a
// private $XDG_DATA_HOME for the home trash and, where the machine has one, a second volume,
// /dev/shm, for a volume's own trash), and reveal in the file manager and the portal's application
// chooser over a private dbus-daemon on which the test itself plays the file manager and the
// portal.
#include "desktop/freedesktoptrash.h"
#include "desktop/linuxappchooser.h"
#include "desktop/linuxfilemanager.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QScopeGuard>
#include <QSettings>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
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

// Read by its bytes, for names that are not UTF-8.
QByteArray readFile(const FilePath& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path).rdbuf();
    return QByteArray::fromStdString(bytes.str());
}

// /dev/shm is a separate tmpfs on most Linux machines, mounted at its own top.
bool secondVolume() {
    struct stat shm {
    }, tmp{};
    return ::stat("/dev/shm", &shm) == 0 && ::access("/dev/shm", W_OK) == 0 &&
           ::stat(QFile::encodeName(QDir::tempPath()).constData(), &tmp) == 0 &&
           shm.st_dev != tmp.st_dev &&
           QStorageInfo(QStringLiteral("/dev/shm")).rootPath() == "/dev/shm";
}

// The value of one key of a .trashinfo record.
QString infoValue(const QString& infoPath, const QString& key) {
    QSettings info(infoPath, QSettings::IniFormat);
    return info.value(QStringLiteral("Trash Info/") + key).toString();
}

} // namespace

class TestDesktopServices : public QObject {
    Q_OBJECT

public:
    explicit TestDesktopServices(const QByteArray& busAddress)
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

    void init() {
        dataHome_ = std::make_unique<QTemporaryDir>();
        files_ = std::make_unique<QTemporaryDir>();
        // Set before every use: the home trash is looked up anew for each file.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_->path()));
    }

    void movesIntoHomeTrashWithRestorableRecordAndKeepsBothOfOneName() {
        const QString path = files_->filePath(QStringLiteral("holiday photo.jpg"));
        FreedesktopTrash trash;
        for (const QByteArray content : {"first", "second"}) {
            QVERIFY(test::writeFile(path, content));
            QCOMPARE(trash.moveToTrash(filePathFromText(path)), std::nullopt);
            QVERIFY(!QFile::exists(path));
        }
        const QString trashDir = dataHome_->filePath(QStringLiteral("Trash"));
        QCOMPARE(test::readFile(trashDir + QStringLiteral("/files/holiday photo.jpg")), "first");
        QCOMPARE(test::readFile(trashDir + QStringLiteral("/files/holiday photo.2.jpg")), "second");
        QVERIFY(QFile::exists(trashDir + QStringLiteral("/info/holiday photo.2.jpg.trashinfo")));
        // The home trash records the absolute path, URL-escaped, and a local time without zone.
        const QString info = trashDir + QStringLiteral("/info/holiday photo.jpg.trashinfo");
        QVERIFY(test::readFile(info).contains("Path=" + QUrl::toPercentEncoding(path, "/") + "\n"));
        const QString date = infoValue(info, QStringLiteral("DeletionDate"));
        QVERIFY2(QDateTime::fromString(date, QStringLiteral("yyyy-MM-ddTHH:mm:ss")).isValid(),
                 qPrintable(date));
    }

    // A move that cannot happen says why in the system's words (a Trash that cannot be made
    // is the file actions test's).
    void missingFileIsExplained() {
        const auto missing =
            FreedesktopTrash().moveToTrash(filePathFromText(files_->filePath("gone.jpg")));
        QCOMPARE(missing, qt_error_string(ENOENT));
    }

    // Putting a file back: a rename to exactly where it was, the record removed; across volumes
    // a copy that takes the name whole. When it cannot be done nothing is overwritten and the
    // reason is given.
    void restorePutsBackOrExplains_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("refusal");
        const auto row = [](const char* tag, const char* where, const char* name,
                            const char* meanwhile = "", const char* refusal = "") {
            QTest::newRow(tag) << QString(where) << QByteArray(name) << QString(meanwhile)
                               << QString(refusal);
        };
        row("home trash", "home", "beach 2.jpg");
        row("not UTF-8", "home", "caf\xe9.jpg");
        row("volume trash", "volume", "far.jpg");
        row("across volumes", "across", "far.png");
        row("name taken", "home", "a.jpg", "taken", "another file now has its name");
        row("emptied", "home", "a.jpg", "emptied", "is no longer in the Trash");
    }
    void restorePutsBackOrExplains() {
        QFETCH(QString, where);
        QFETCH(QByteArray, name);
        QFETCH(QString, meanwhile);
        QFETCH(QString, refusal);
        std::unique_ptr<QTemporaryDir> volumeFolder;
        QByteArray folder = QFile::encodeName(files_->path());
        if (where != QLatin1String("home")) {
            if (!secondVolume())
                QSKIP("no writable second volume mounted at /dev/shm");
            volumeFolder = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/kivo-XXXXXX"));
            folder = QFile::encodeName(volumeFolder->path());
        }
        const FilePath original((folder + "/" + name).toStdString());
        std::ofstream(original) << "the photo";
        QVERIFY(::chmod(original.c_str(), 0640) == 0);
        FreedesktopTrash trash;
        TrashedFile trashed;
        if (where == QLatin1String("across")) {
            // As a file manager leaves it when it copied the file to the home trash.
            const std::string home = QFile::encodeName(dataHome_->path()).toStdString() + "/Trash";
            std::filesystem::create_directories(home + "/files");
            std::filesystem::create_directories(home + "/info");
            trashed = {original, FilePath(home + "/files/" + name.toStdString()),
                       FilePath(home + "/info/" + name.toStdString() + ".trashinfo")};
            std::filesystem::copy_file(original, trashed.stored);
            std::filesystem::remove(original);
            std::ofstream(trashed.record) << "[Trash Info]\nPath=" << original.native() << "\n";
            struct stat st {};
            QVERIFY(::stat(trashed.stored.c_str(), &st) == 0);
            trashed.device = st.st_dev;
            trashed.inode = st.st_ino;
        } else {
            auto moved = trash.trash(original);
            QVERIFY(std::holds_alternative<TrashedFile>(moved));
            trashed = std::get<TrashedFile>(moved);
            // The record names the file by its bytes, escaped, so a file manager can put it back.
            QVERIFY(readFile(trashed.record).contains("/" + name.toPercentEncoding() + "\n"));
        }
        if (where == QLatin1String("volume")) {
            // The volume's own .Trash-$uid, closed to others, with a path relative to its top.
            const QString userTrash = QStringLiteral("/dev/shm/.Trash-%1").arg(::getuid());
            QVERIFY(QFile::decodeName(trashed.stored.c_str()).startsWith(userTrash + "/files/"));
            QVERIFY(!(QFileInfo(userTrash).permissions() &
                      (QFile::ReadOther | QFile::WriteOther | QFile::ExeOther)));
            QCOMPARE(infoValue(QFile::decodeName(trashed.record.c_str()), "Path"),
                     QDir("/dev/shm").relativeFilePath(QFile::decodeName(original.c_str())));
        }
        QVERIFY(!std::filesystem::exists(original));
        if (meanwhile == QLatin1String("taken"))
            std::ofstream(original) << "a new photo";
        if (meanwhile == QLatin1String("emptied")) {
            std::filesystem::remove(trashed.record);
            std::filesystem::remove(trashed.stored);
        }

        const auto error = trash.restore(trashed);
        QCOMPARE(error.has_value(), !refusal.isEmpty());
        if (error) {
            QVERIFY2(error->contains(refusal), qPrintable(*error));
            if (meanwhile == QLatin1String("taken")) {
                QCOMPARE(readFile(original), QByteArray("a new photo"));
                QCOMPARE(readFile(trashed.stored), QByteArray("the photo"));
            }
            return;
        }
        QCOMPARE(readFile(original), QByteArray("the photo"));
        struct stat st {};
        QVERIFY(::stat(original.c_str(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        // A rename keeps the file itself; only across volumes is it a new one.
        QCOMPARE(st.st_ino == trashed.inode, where != QLatin1String("across"));
        QVERIFY(!std::filesystem::exists(trashed.stored));
        QVERIFY(!std::filesystem::exists(trashed.record));
        std::filesystem::remove(original); // QTemporaryDir cannot remove names that are not UTF-8
    }

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
    std::unique_ptr<QTemporaryDir> dataHome_;
    std::unique_ptr<QTemporaryDir> files_;
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
    TestDesktopServices test(qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktopservices.moc"
