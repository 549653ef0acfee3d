// The freedesktop.org Trash, on real folders: a private $XDG_DATA_HOME for the home trash and,
// where the machine has one, a second volume (/dev/shm) for a volume's own trash.
#include "desktop/freedesktoptrash.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

using namespace kivo;

namespace {

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

class TestTrash : public QObject {
    Q_OBJECT

private Q_SLOTS:
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

private:
    std::unique_ptr<QTemporaryDir> dataHome_;
    std::unique_ptr<QTemporaryDir> files_;
};

QTEST_GUILESS_MAIN(TestTrash)
#include "test_trash.moc"
