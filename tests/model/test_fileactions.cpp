// SPDX-License-Identifier: GPL-3.0-or-later
// The file actions against the real desktop services: the freedesktop Trash in a private
// $XDG_DATA_HOME (moves and their undo), GIO's application registry over a private
// $XDG_DATA_DIRS of test entries, the clipboard of the offscreen platform; and turning the file.
#include "desktop/desktopservices.h"
#include "imaging/dngwriter.h"
#include "imaging/pixels/pixelbuffer.h"
#include "imaging/tasks/workerpools.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImageReader>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <sys/stat.h>
#include <unistd.h>

using namespace kivo;

namespace {

// The desktop's folders for this test process (home, share, config, markers), made before
// anything reads them.
QTemporaryDir* desktopRoot = nullptr;
QString desktopFolder(const char* name) {
    return desktopRoot->filePath(QString::fromLatin1(name));
}

// An application entry whose command (markers/record.sh) records the file it was given in
// markers/<id>.
void writeApplication(const QString& path, const QString& name, const QString& mimeTypes) {
    QVERIFY(test::writeFile(
        path,
        QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nMimeType=%2\n"
                       "Exec=%3/record.sh %4 %f\n")
            .arg(name, mimeTypes, desktopFolder("markers"), QFileInfo(path).completeBaseName())
            .toUtf8()));
}

QString marker(const QString& id) {
    QFile file(desktopFolder("markers") + QLatin1Char('/') + id);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The EXIF orientation as Qt's reader applies it (1 when there is none).
long exifOrientation(const QString& path) {
    static constexpr long byTransformation[8] = {1, 2, 4, 3, 6, 7, 5, 8};
    return byTransformation[QImageReader(path).transformation()];
}

// The colour at the centre of the picture's top-left quadrant, within what lossy coding and a
// demosaic leave.
bool topLeftIs(const ImagePtr& image, QColor expected) {
    return test::colourDistance(image->bitmap().pixelColor(image->width() / 4, image->height() / 4),
                                expected) < 60;
}

// Takes away the right to write into `folder` for as long as it lives. Root ignores permission
// bits, so as root the process's effective identity becomes nobody's meanwhile.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder)
        : folder_(QFile::encodeName(folder)) {
        ::chmod(folder_.constData(), 0555);
        if (::geteuid() == 0)
            dropped_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~ReadOnlyFolder() {
        if (dropped_) {
            [[maybe_unused]] const int ignored = ::seteuid(0) + ::setegid(0);
        }
        ::chmod(folder_.constData(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    QByteArray folder_;
    bool dropped_ = false;
};

} // namespace

class TestFileActions : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_; // for the rotation cases

    QString fixture(const QString& name, const char* format) {
        const QString path = dir_->filePath(name);
        test::writeImage(test::quadrantImage(300, 200), path, format);
        ::chmod(QFile::encodeName(path), 0644);
        return path;
    }

    bool noHiddenFiles() const {
        return QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).filter("^\\.").isEmpty();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir().mkpath(desktopFolder("markers")));
        const QString recorder = desktopFolder("markers") + QStringLiteral("/record.sh");
        QVERIFY(test::writeFile(recorder,
                                "#!/bin/sh\nprintf '%s' \"$2\" > \"$(dirname \"$0\")/$1\"\n"));
        QVERIFY(QFile::setPermissions(recorder, QFile::ReadOwner | QFile::ExeOwner));
        const QString apps = desktopFolder("share") + QStringLiteral("/applications");
        QVERIFY(QDir().mkpath(apps));
        QVERIFY(QDir().mkpath(desktopFolder("config")));
        // GIO needs the MIME database to tell a JPEG's type.
        QVERIFY(QFile::link(QStringLiteral("/usr/share/mime"),
                            desktopFolder("share") + QStringLiteral("/mime")));
        for (const auto& [id, name, types] : {std::tuple{"kivo", "Kivo", "image/jpeg;image/png;"},
                                              {"preview", "Preview", "image/jpeg;"},
                                              {"editor", "photo editor", "image/jpeg;image/png;"},
                                              {"zed", "Zed Viewer", ""},
                                              {"notes", "Notes", "text/plain;"}})
            writeApplication(apps + QStringLiteral("/%1.desktop").arg(id), name, types);
        // The index update-desktop-database keeps from the MimeType lines, and a user's own
        // association in mimeapps.list.
        QVERIFY(test::writeFile(
            apps + QStringLiteral("/mimeinfo.cache"),
            "[MIME Cache]\nimage/jpeg=kivo.desktop;preview.desktop;editor.desktop;\n"
            "image/png=kivo.desktop;editor.desktop;\ntext/plain=notes.desktop;\n"));
        QVERIFY(test::writeFile(desktopFolder("config") + QStringLiteral("/mimeapps.list"),
                                "[Added Associations]\nimage/jpeg=zed.desktop;\n"));
    }

    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        // Searchable by the unprivileged identity ReadOnlyFolder takes on.
        ::chmod(QFile::encodeName(dir_->path()), 0755);
        services_ = DesktopServices::createForThisDesktop(QStringLiteral("kivo.desktop"));
        state_ = std::make_unique<AppState>(
            AppStateContext{settings_.get(), &pools_, nullptr, services_.get()});
    }
    void cleanup() {
        pools_.preload.waitForDone();
        state_.reset();
        QDir(desktopFolder("home") + QStringLiteral("/Trash")).removeRecursively();
    }

    void deletingShowsTheFollowingFile_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("shown"); // empty: the window is left empty
        const QStringList abc{"a.jpg", "b.jpg", "c.jpg"};
        QTest::newRow("middle") << abc << "b.jpg" << QStringList{"a.jpg", "c.jpg"} << "c.jpg";
        QTest::newRow("last, no wrap-around")
            << abc << "c.jpg" << QStringList{"a.jpg", "b.jpg"} << "b.jpg";
        QTest::newRow("only") << QStringList{"only.jpg"} << "only.jpg" << QStringList() << "";
        // Opened directly although the listing skips its extension: the list keeps every file.
        QTest::newRow("outside the list") << QStringList{"a.jpg", "b.jpg", "odd.jpe"} << "odd.jpe"
                                          << QStringList{"a.jpg", "b.jpg"} << "a.jpg";
    }
    void deletingShowsTheFollowingFile() {
        QFETCH(QStringList, files);
        QFETCH(QString, current);
        QFETCH(QStringList, remaining);
        QFETCH(QString, shown);
        test::PhotoFolder folder(files);
        state_->openFile(folder.path(current));
        test::settle(pools_.preload);
        state_->deleteCurrentImage();

        QVERIFY(!QFile::exists(folder.text(current)));
        QVERIFY(QFile::exists(desktopFolder("home") + QStringLiteral("/Trash/files/") + current));
        QCOMPARE(state_->imageFiles(), folder.paths(remaining));
        QCOMPARE(state_->deleteError(), std::nullopt);
        if (shown.isEmpty()) {
            QCOMPARE(state_->currentURL(), std::nullopt);
            QVERIFY(!state_->currentImage());
            QCOMPARE(state_->windowTitle(), QStringLiteral("Kivo"));
            return;
        }
        QCOMPARE(state_->currentURL(), folder.path(shown));
        test::settle(pools_.preload); // a decode of the deleted file is not stored
        QVERIFY(state_->currentImage());
        QVERIFY(!state_->preloadedImages().count(folder.path(current)));
    }

    void failedDeleteReportsAndChangesNothing() {
        test::PhotoFolder folder({"a.jpg", "b.jpg"});
        state_->openFile(folder.path("a.jpg"));
        test::settle(pools_.preload);
        const ImagePtr shown = state_->currentImage();
        QFile blocker(desktopFolder("home") + QStringLiteral("/Trash"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the Trash folder belongs
        blocker.close();

        state_->deleteCurrentImage();
        blocker.remove();
        QCOMPARE(state_->deleteError(), qt_error_string(ENOTDIR));
        QVERIFY(QFile::exists(folder.text("a.jpg")));
        QCOMPARE(state_->imageFiles().size(), size_t(2));
        QCOMPARE(state_->currentImage(), shown);
    }

    // Every pixel of the picture, although the window shows a level that only fills it; the
    // level itself when the full resolution cannot be had (over the memory budget), asked once
    // or twice.
    void copyPutsExactlyTheImageOnTheClipboard_data() {
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<int>("copies");
        QTest::addColumn<QSize>("copied");
        QTest::newRow("full resolution") << qint64(0) << 1 << QSize(1600, 1200);
        QTest::newRow("over the budget") << qint64(1 << 20) << 1 << QSize(400, 300);
        QTest::newRow("over the budget, twice") << qint64(1 << 20) << 2 << QSize(400, 300);
    }
    void copyPutsExactlyTheImageOnTheClipboard() {
        QFETCH(qint64, budget);
        QFETCH(int, copies);
        QFETCH(QSize, copied);
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("earlier"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.jpg"));
        QVERIFY(test::writeImage(test::quadrantImage(1600, 1200), path, "jpeg"));
        QWindow window;
        window.resize(400, 300);
        state_->setWindow(&window);
        state_->openFile(filePathFromText(path));
        test::settle(pools_.preload);
        QTRY_VERIFY(state_->currentImage());
        QVERIFY(!state_->currentImage()->isFullResolution());
        setDecodeBudgetBytes(budget);
        for (int copy = 0; copy < copies; ++copy) {
            clipboard->setText(QStringLiteral("earlier"));
            state_->copyImage();
            test::settle(pools_.preload);
        }
        setDecodeBudgetBytes(0);
        QVERIFY(clipboard->mimeData()->hasImage() && !clipboard->mimeData()->hasText());
        QCOMPARE(clipboard->image().size(), copied);
        QCOMPARE(clipboard->image().convertToFormat(QImage::Format_RGB32),
                 state_->currentImage()->bitmap().convertToFormat(QImage::Format_RGB32));
    }

    void openWithListsOthersByNameAndLaunchesWithTheFile() {
        QVERIFY(state_->openWithApps().isEmpty()); // no file
        test::PhotoFolder folder({"with space.jpg"});
        state_->openFile(folder.path("with space.jpg"));
        QStringList names;
        for (const OpenWithApp& app : state_->openWithApps())
            names.push_back(app.name + QLatin1Char('=') + app.url);
        QCOMPARE(names, (QStringList{"photo editor=editor.desktop", "Preview=preview.desktop",
                                     "Zed Viewer=zed.desktop"}));
        state_->openWith(QStringLiteral("preview.desktop"));
        QTRY_COMPARE(marker(QStringLiteral("preview")), folder.text("with space.jpg"));
    }

    // Undo puts back the most recent move first, at the file's place in natural order; a file
    // that took the name meanwhile stays, and the entry is dropped with an error.
    void undoPutsBackMostRecentFirstOrSaysWhy() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c 2.jpg", "c 10.jpg"});
        state_->openFile(folder.path("b.jpg"));
        QVERIFY(!state_->canUndoMoveToTrash());
        state_->deleteCurrentImage(); // b.jpg, then c 2.jpg, which followed it
        state_->deleteCurrentImage();
        QCOMPARE(state_->imageFiles(), folder.paths({"a.jpg", "c 10.jpg"}));
        QVERIFY(state_->canUndoMoveToTrash());

        state_->undoMoveToTrash();
        QCOMPARE(state_->imageFiles(), folder.paths({"a.jpg", "c 2.jpg", "c 10.jpg"}));
        QCOMPARE(state_->currentURL(), folder.path("c 2.jpg"));
        QCOMPARE(state_->deleteError(), std::nullopt);

        folder.write("b.jpg", Qt::red);
        state_->undoMoveToTrash();
        QVERIFY(state_->deleteError() &&
                state_->deleteError()->contains(QStringLiteral("another file now has its name")));
        QVERIFY(!state_->canUndoMoveToTrash());
    }

    // Rotating the current image: the file rewritten in place and shown turned after the reload,
    // and the on-screen fall-back when it cannot be rewritten. (The arithmetic of the tags and
    // the safety of the replacement: the image service's tests.)

    void jpegTagIsRewrittenAndTheReloadShowsIt() {
        const QString path = fixture("photo.jpg", "jpeg");
        QVERIFY(test::setExifTags(path, {{"Exif.Image.Orientation", "2"}}));
        state_->openFile(filePathFromText(path));
        test::settle(pools_.preload);
        state_->rotate(+1);
        test::settle(pools_.preload);
        QCOMPARE(state_->rotation(), 0.0);
        QCOMPARE(exifOrientation(path), 5L);
        QCOMPARE(state_->currentImage()->size(), QSize(200, 300));
        state_->rotate(-1);
        test::settle(pools_.preload);
        QCOMPARE(exifOrientation(path), 2L);
        QCOMPARE(state_->currentImage()->size(), QSize(300, 200));
        QVERIFY(noHiddenFiles()); // (what the replacement keeps: test_imagewriter)
    }

    // What the reload shows is what LibRaw makes of the rewritten file (its flip), for the
    // demosaic and for an embedded preview stored without a tag of its own.
    void cameraRawIsShownTurnedAfterTheReload_data() {
        QTest::addColumn<bool>("withPreview");
        QTest::newRow("mosaic") << false;
        QTest::newRow("embedded preview") << true;
    }
    void cameraRawIsShownTurnedAfterTheReload() {
        QFETCH(bool, withPreview);
        test::DngContent dng;
        dng.picture = test::quadrantImage(256, 128);
        if (withPreview)
            dng.preview = dng.picture;
        const QString path = dir_->filePath("camera.dng");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(test::makeDng(dng)) > 0);
        file.close();

        state_->openFile(filePathFromText(path));
        test::settle(pools_.preload);
        QVERIFY(state_->currentImage());
        const QSize before = state_->currentImage()->size();
        QVERIFY(topLeftIs(state_->currentImage(), Qt::red));
        state_->rotate(+1);
        test::settle(pools_.preload);
        QCOMPARE(state_->rotation(), 0.0); // written, not only turned on screen
        QCOMPARE(state_->currentImage()->size(), before.transposed());
        QVERIFY(topLeftIs(state_->currentImage(), Qt::blue)); // the former bottom-left
    }

    void readOnlyFolderTurnsOnScreenThenTheFileTakesTheWholeTurn() {
        const QString path = fixture("drawing.png", "png");
        const QByteArray before = test::readFile(path);
        state_->openFile(filePathFromText(path));
        test::settle(pools_.preload);
        {
            const ReadOnlyFolder readOnly(dir_->path());
            state_->rotate(+1);
            test::settle(pools_.preload);
            QCOMPARE(state_->rotation(), 90.0);
            state_->rotate(-1);
            test::settle(pools_.preload);
            state_->rotate(-1);
            test::settle(pools_.preload);
            QCOMPARE(state_->rotation(), 270.0);
            state_->rotate(+1);
            test::settle(pools_.preload);
            state_->rotate(+1);
            test::settle(pools_.preload);
            QCOMPARE(state_->rotation(), 90.0);
        }
        QCOMPARE(test::readFile(path), before);
        QVERIFY(noHiddenFiles());
        // Writable again: the file takes the quarter turn on screen plus this one, so the
        // picture stays where it was turned to, upside down, and nothing is left on screen.
        state_->rotate(+1);
        test::settle(pools_.preload);
        QCOMPARE(state_->rotation(), 0.0);
        QCOMPARE(state_->currentImage()->size(), QSize(300, 200));
        QVERIFY(topLeftIs(state_->currentImage(), Qt::white));
    }

private:
    test::PrivateSettings settings_;
    WorkerPools pools_;
    std::unique_ptr<DesktopServices> services_;
    std::unique_ptr<AppState> state_;
};

int main(int argc, char** argv) {
    // GIO reads the application folders once, on first use, so they are set before anything
    // can touch them; the bus address leads nowhere, as on a desktop without a session bus.
    QTemporaryDir root;
    desktopRoot = &root;
    qputenv("XDG_DATA_HOME", QFile::encodeName(desktopFolder("home")));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(desktopFolder("share")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(desktopFolder("config")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kivo-test-bus");
    QApplication app(argc, argv);
    TestFileActions test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_fileactions.moc"
