// SPDX-License-Identifier: GPL-3.0-or-later
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

using Names = std::vector<std::string>;

void touch(const FilePath& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.c_str());
    ::close(fd);
}

Names names(const std::vector<FilePath>& paths) {
    Names out;
    for (const FilePath& p : paths)
        out.push_back(p.filename().native());
    return out;
}

} // namespace

class FolderListingTest : public QObject {
    Q_OBJECT

    test::PrivateSettings settings_;

private Q_SLOTS:
    void keepsSupportedVisibleEntriesInNaturalOrder() {
        QTemporaryDir dir;
        const FilePath folder = dir.path().toStdString();
        for (const char* name : {"a.jpg", "B.PNG", ".hidden.jpg", "c.txt", "d10.gif", "d9.gif",
                                 "archive.jpg.zip", "noextension", "e.Tiff", "f.", "g.jpe"})
            touch(folder / name);
        QDir(dir.path()).mkdir("x.jpg");       // a folder with an image's name is listed...
        touch(folder / "x.jpg" / "inner.jpg"); // ...but not descended into

        AppState state({settings_.get()});
        state.loadFolder(folder / "B.PNG");
        QCOMPARE(names(state.imageFiles()),
                 (Names{"a.jpg", "B.PNG", "d9.gif", "d10.gif", "e.Tiff", "x.jpg"}));
        QCOMPARE(state.currentIndex(), 1);

        // An opened file the listing skips leaves the list at its start.
        state.loadFolder(folder / "g.jpe");
        QCOMPARE(names(state.imageFiles()).size(), size_t(6));
        QCOMPARE(state.currentIndex(), 0);
    }

    void naturalOrderInEveryLocale_data() {
        QTest::addColumn<QString>("locale");
        // The suite runs once more with LC_ALL=C: the process's locale must not change the rule.
        QTest::newRow("process") << QLocale::system().name();
        for (const char* locale : {"C", "en_US", "sv_SE", "ja_JP"})
            QTest::newRow(locale) << QString::fromLatin1(locale);
    }
    void naturalOrderInEveryLocale() {
        QFETCH(QString, locale);
        std::vector<FilePath> paths = {"/p/img10.jpg", "/p/C.png",   "/p/img2.jpg", "/p/b.png",
                                       "/p/IMG1.jpg",  "/p/a 2.jpg", "/p/a 10.jpg"};
        sortNaturally(paths, QLocale(locale));
        QCOMPARE(names(paths), (Names{"a 2.jpg", "a 10.jpg", "b.png", "C.png", "IMG1.jpg",
                                      "img2.jpg", "img10.jpg"}));
    }

    void unreadableOrEmptyFolders() {
        QTemporaryDir dir;
        const FilePath notes = FilePath(dir.path().toStdString()) / "notes.txt";
        touch(notes);
        // A folder that cannot be listed gives the opened file alone.
        for (const FilePath& opened : {FilePath("/no/such/folder/a.jpg"), notes / "a.jpg"}) {
            AppState state({settings_.get()});
            state.setCurrentIndex(3);
            state.loadFolder(opened);
            QCOMPARE(state.imageFiles(), std::vector<FilePath>{opened});
            QCOMPARE(state.currentIndex(), 0);
        }
        AppState state({settings_.get()});
        state.loadFolder(notes);
        QVERIFY(state.imageFiles().empty());
        QCOMPARE(state.currentIndex(), 0);
    }

    void nonUtf8NamesAreListedFoundAndOpened() {
        QTemporaryDir dir;
        const FilePath folder = dir.path().toStdString();
        const FilePath latin1 = folder / std::string("caf\xe9.png"); // "café" in ISO-8859-1
        QImage pixels(3, 2, QImage::Format_RGB32);
        pixels.fill(Qt::green);
        const QString staging = dir.filePath("staging.png");
        QVERIFY(test::writeImage(pixels, staging, "png"));
        QVERIFY(::rename(QFile::encodeName(staging).constData(), latin1.c_str()) == 0);
        touch(folder / "b.png");

        AppState state({settings_.get()});
        state.loadFolder(latin1);
        QCOMPARE(state.imageFiles().size(), size_t(2));
        QCOMPARE(state.imageFiles()[static_cast<size_t>(state.currentIndex())], latin1);
        const auto imageDecoded = decodeImage(latin1);
        const ImagePtr image = imageDecoded ? *imageDecoded : nullptr;
        ::unlink(latin1.c_str()); // QTemporaryDir cannot name it to remove it
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(3, 2));
    }
};

QTEST_MAIN(FolderListingTest)
#include "test_folderlisting.moc"
