// Listing the opened file's folder: which entries count, their natural order in any locale, and
// the quiet fall-backs when the folder cannot be read.
#include "imaging/decode.h"
#include "model/appstate.h"
#include "model/folderlisting.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

using namespace kivo;

namespace {

void touch(const FilePath& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.c_str());
    ::close(fd);
}

std::vector<std::string> names(const std::vector<FilePath>& paths) {
    std::vector<std::string> out;
    for (const FilePath& p : paths)
        out.push_back(p.filename().native());
    return out;
}

using Names = std::vector<std::string>;

} // namespace

class FolderListingTest : public QObject {
    Q_OBJECT

    test::PrivateSettings settings_;

private Q_SLOTS:
    void keepsSupportedVisibleEntriesInNaturalOrder() {
        QTemporaryDir dir;
        const FilePath folder = dir.path().toStdString();
        for (const char* name : {"a.jpg", "B.PNG", ".hidden.jpg", "c.txt", "d10.gif", "d9.gif",
                                 "archive.jpg.zip", "noextension", "e.Tiff", "f."})
            touch(folder / name);
        QDir(dir.path()).mkdir("x.jpg");       // a folder with an image's name is listed...
        touch(folder / "x.jpg" / "inner.jpg"); // ...but not descended into

        AppState state({settings_.get()});
        state.loadFolder(folder / "B.PNG");
        QCOMPARE(names(state.imageFiles()),
                 (Names{"a.jpg", "B.PNG", "d9.gif", "d10.gif", "e.Tiff", "x.jpg"}));
        QCOMPARE(state.currentIndex(), 1);
        QCOMPARE(state.imageFiles()[1], folder / "B.PNG");
    }

    void everySupportedExtensionInAnyCase() {
        const char* all[] = {"jpg",  "jpeg", "png",  "gif",  "bmp", "tiff", "tif",
                             "heic", "heif", "webp", "avif", "ico", "psd",  "cr2",
                             "nef",  "arw",  "dng",  "orf",  "rw2"};
        for (const char* ext : all) {
            QVERIFY(isSupportedExtension(ext));
            QVERIFY(isSupportedExtension(QByteArray(ext).toUpper().toStdString()));
        }
        for (const char* ext : {"", "jpe", "txt", "jpgx", "svg", "raw", "pdf"})
            QVERIFY2(!isSupportedExtension(ext), ext);
        QCOMPARE(pathExtension("archive.jpg.zip"), std::string_view("zip"));
        QCOMPARE(pathExtension("noextension"), std::string_view());
        QCOMPARE(pathExtension("trailing."), std::string_view());
    }

    void naturalOrderInEveryLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::newRow("C") << QStringLiteral("C");
        QTest::newRow("en_US") << QStringLiteral("en_US");
        QTest::newRow("de_DE") << QStringLiteral("de_DE");
        QTest::newRow("sv_SE") << QStringLiteral("sv_SE");
        QTest::newRow("ja_JP") << QStringLiteral("ja_JP");
    }

    void naturalOrderInEveryLocale() {
        QFETCH(QString, locale);
        std::vector<FilePath> paths = {"/p/img10.jpg", "/p/C.png",   "/p/img2.jpg", "/p/b.png",
                                       "/p/IMG1.jpg",  "/p/a 2.jpg", "/p/a 10.jpg", "/p/img02.jpg"};
        sortNaturally(paths, QLocale(locale));
        const Names got = names(paths);
        auto before = [&](const std::string& x, const std::string& y) {
            return std::find(got.begin(), got.end(), x) < std::find(got.begin(), got.end(), y);
        };
        QVERIFY(before("img2.jpg", "img10.jpg"));
        QVERIFY(before("IMG1.jpg", "img2.jpg"));
        QVERIFY(before("b.png", "C.png"));
        QVERIFY(before("a 2.jpg", "a 10.jpg"));
        QVERIFY(before("C.png", "img2.jpg"));
    }

    void naturalOrderUnderTheProcessLocale() {
        // The suite runs once more with LC_ALL=C: the user's locale must not change the rule.
        std::vector<FilePath> paths = {"/p/d10.gif", "/p/B.PNG", "/p/d9.gif", "/p/a.jpg"};
        sortNaturally(paths);
        QCOMPARE(names(paths), (Names{"a.jpg", "B.PNG", "d9.gif", "d10.gif"}));
    }

    void unsupportedOpenedFileListsTheFolderAtIndexZero() {
        QTemporaryDir dir;
        const FilePath folder = dir.path().toStdString();
        for (const char* name : {"a.jpg", "b.jpg", "photo.jpe"})
            touch(folder / name);
        AppState state({settings_.get()});
        state.setCurrentIndex(5);
        state.loadFolder(folder / "photo.jpe");
        QCOMPARE(names(state.imageFiles()), (Names{"a.jpg", "b.jpg"}));
        QCOMPARE(state.currentIndex(), 0);
    }

    void folderThatCannotBeListedGivesTheOpenedFileAlone() {
        QTemporaryDir dir;
        const FilePath notAFolder = FilePath(dir.path().toStdString()) / "plain.txt";
        touch(notAFolder);
        for (const FilePath& opened : {FilePath("/no/such/folder/a.jpg"), notAFolder / "a.jpg"}) {
            AppState state({settings_.get()});
            state.setCurrentIndex(3);
            state.loadFolder(opened);
            QCOMPARE(state.imageFiles(), std::vector<FilePath>{opened});
            QCOMPARE(state.currentIndex(), 0);
        }
    }

    void emptyFolderGivesAnEmptyList() {
        QTemporaryDir dir;
        const FilePath folder = dir.path().toStdString();
        touch(folder / "notes.txt");
        AppState state({settings_.get()});
        state.loadFolder(folder / "notes.txt");
        QVERIFY(state.imageFiles().empty());
        QCOMPARE(state.currentIndex(), 0);
    }

    void nonUtf8NamesAreListedFoundAndOpened() {
        QTemporaryDir dir;
        const FilePath folder = dir.path().toStdString();
        const FilePath latin1 = folder / std::string("caf\xe9.png"); // "café" in ISO-8859-1
        QImage pixels(3, 2, QImage::Format_RGB32);
        pixels.fill(Qt::green);
        {
            const QString staging = dir.filePath("staging.png");
            QVERIFY(test::writeImage(pixels, staging, "png"));
            QVERIFY(::rename(QFile::encodeName(staging).constData(), latin1.c_str()) == 0);
        }
        touch(folder / "b.png");

        AppState state({settings_.get()});
        state.loadFolder(latin1);
        QCOMPARE(state.imageFiles().size(), size_t(2));
        QCOMPARE(state.imageFiles()[static_cast<size_t>(state.currentIndex())], latin1);
        const ImagePtr image = decodeImage(latin1);
        ::unlink(latin1.c_str()); // QTemporaryDir cannot name it to remove it
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(3, 2));
    }

    void relativeNamesWithoutAFolder() {
        QTemporaryDir dir;
        touch(FilePath(dir.path().toStdString()) / "one.jpg");
        touch(FilePath(dir.path().toStdString()) / "two.jpg");
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        AppState state({settings_.get()});
        state.loadFolder("two.jpg");
        QDir::setCurrent(previous);
        QCOMPARE(state.imageFiles(), (std::vector<FilePath>{"one.jpg", "two.jpg"}));
        QCOMPARE(state.currentIndex(), 1);
    }
};

QTEST_MAIN(FolderListingTest)
#include "test_folderlisting.moc"
