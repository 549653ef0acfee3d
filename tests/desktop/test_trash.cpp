// The freedesktop.org Trash, on real folders: a private $XDG_DATA_HOME for the home trash and,
// where the machine has one, a second volume for a volume's own trash.
#include "desktop/freedesktoptrash.h"

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

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
            writeFile(path, content);
            QCOMPARE(trash.moveToTrash(filePathFromText(path)), std::nullopt);
            QVERIFY(!QFile::exists(path));
        }
        const QString trashDir = dataHome_->filePath(QStringLiteral("Trash"));
        QCOMPARE(readFile(trashDir + QStringLiteral("/files/holiday photo.jpg")), "first");
        QCOMPARE(readFile(trashDir + QStringLiteral("/files/holiday photo.2.jpg")), "second");
        QVERIFY(QFile::exists(trashDir + QStringLiteral("/info/holiday photo.2.jpg.trashinfo")));
        // The home trash records the absolute path, URL-escaped, and a local time without zone.
        const QString info = trashDir + QStringLiteral("/info/holiday photo.jpg.trashinfo");
        QVERIFY(readFile(info).contains("Path=" + QUrl::toPercentEncoding(path, "/") + "\n"));
        const QString date = infoValue(info, QStringLiteral("DeletionDate"));
        QVERIFY2(QDateTime::fromString(date, QStringLiteral("yyyy-MM-ddTHH:mm:ss")).isValid(),
                 qPrintable(date));
    }

    void nameThatIsNotUtf8() {
        const QByteArray name = QFile::encodeName(files_->path()) + "/caf\xe9.jpg";
        const FilePath path(name.toStdString());
        std::ofstream{path};
        QCOMPARE(FreedesktopTrash().moveToTrash(path), std::nullopt);
        QVERIFY(!std::filesystem::exists(path));
        const std::string trash = QFile::encodeName(dataHome_->path()).toStdString() + "/Trash";
        const std::string trashed = trash + "/files/caf\xe9.jpg";
        const std::string info = trash + "/info/caf\xe9.jpg.trashinfo";
        QVERIFY(std::filesystem::exists(trashed));
        // The record names the file by its bytes, escaped, so it can be put back.
        std::ostringstream record;
        record << std::ifstream(info).rdbuf();
        QVERIFY(record.str().find("/caf%E9.jpg\n") != std::string::npos);
        // QTemporaryDir cannot remove names that are not UTF-8.
        std::filesystem::remove(trashed);
        std::filesystem::remove(info);
    }

    // A move that cannot happen leaves the file in place and says why in the system's words.
    void failuresLeaveTheFileAndExplain() {
        FreedesktopTrash trash;
        const auto missing = trash.moveToTrash(filePathFromText(files_->filePath("gone.jpg")));
        QVERIFY(missing.has_value());
        QCOMPARE(*missing, qt_error_string(ENOENT));

        // A Trash that cannot be made into a folder: a plain file stands in its place.
        writeFile(dataHome_->filePath(QStringLiteral("Trash")), "not a folder");
        const QString path = files_->filePath(QStringLiteral("keep.jpg"));
        writeFile(path, "original");
        const auto blocked = trash.moveToTrash(filePathFromText(path));
        QCOMPARE(blocked, qt_error_string(ENOTDIR));
        QCOMPARE(readFile(path), "original");
    }

    // A file on another volume goes to that volume's own .Trash-$uid, with a path relative to
    // the volume's top. /dev/shm is a separate tmpfs on most Linux machines.
    void otherVolumeUsesItsTopDirectoryTrash() {
        const QString shm = QStringLiteral("/dev/shm");
        struct stat shmStat {
        }, homeStat{};
        if (::stat("/dev/shm", &shmStat) != 0 || ::access("/dev/shm", W_OK) != 0 ||
            ::stat(QFile::encodeName(dataHome_->path()).constData(), &homeStat) != 0 ||
            shmStat.st_dev == homeStat.st_dev || QStorageInfo(shm).rootPath() != shm)
            QSKIP("no writable second volume mounted at /dev/shm");
        const QString userTrash = shm + QStringLiteral("/.Trash-") + QString::number(::getuid());
        const bool trashExisted = QFileInfo::exists(userTrash);

        QTemporaryDir folder(shm + QStringLiteral("/kivo-trash-test-XXXXXX"));
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(QStringLiteral("far.jpg"));
        writeFile(path, "elsewhere");
        FreedesktopTrash trash;
        QCOMPARE(trash.moveToTrash(filePathFromText(path)), std::nullopt);

        const QString trashed = userTrash + QStringLiteral("/files/far.jpg");
        const QString info = userTrash + QStringLiteral("/info/far.jpg.trashinfo");
        const QByteArray content = readFile(trashed);
        const QString recorded = infoValue(info, QStringLiteral("Path"));
        const QFile::Permissions permissions = QFileInfo(userTrash).permissions();
        QFile::remove(trashed);
        QFile::remove(info);
        if (!trashExisted)
            QDir(userTrash).removeRecursively();

        QCOMPARE(content, "elsewhere");
        QCOMPARE(recorded, QDir(shm).relativeFilePath(path));
        QVERIFY(!(permissions & (QFile::ReadOther | QFile::WriteOther | QFile::ExeOther)));
        QVERIFY(!QDir(dataHome_->filePath(QStringLiteral("Trash/files"))).exists("far.jpg"));
    }

    // Putting a file back: a rename to exactly where it was, the record removed; across volumes
    // a copy that takes the name whole. When it cannot be done nothing is overwritten and the
    // reason is given.
    void restorePutsBackOrExplains_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("home trash") << "home" << QByteArray("beach 2.jpg") << ""
                                    << "";
        QTest::newRow("not UTF-8") << "home" << QByteArray("caf\xe9.jpg") << ""
                                   << "";
        QTest::newRow("volume trash") << "volume" << QByteArray("far.jpg") << ""
                                      << "";
        QTest::newRow("across volumes") << "across" << QByteArray("far.png") << ""
                                        << "";
        QTest::newRow("name taken") << "home" << QByteArray("a.jpg") << "taken"
                                    << "another file now has its name";
        QTest::newRow("emptied") << "home" << QByteArray("a.jpg") << "emptied"
                                 << "is no longer in the Trash";
        QTest::newRow("restored elsewhere") << "home" << QByteArray("a.jpg") << "restored"
                                            << "is no longer in the Trash";
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
        }
        QVERIFY(!std::filesystem::exists(original));
        if (meanwhile == QLatin1String("taken"))
            std::ofstream(original) << "a new photo";
        if (meanwhile != QLatin1String("taken") && !meanwhile.isEmpty())
            std::filesystem::remove(trashed.record);
        if (meanwhile == QLatin1String("emptied"))
            std::filesystem::remove(trashed.stored);
        if (meanwhile == QLatin1String("restored"))
            std::filesystem::rename(trashed.stored, original.native() + ".restored");

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
