// Rotating the current image: the orientation arithmetic, the file rewritten through a hidden
// temporary file, and the on-screen fall-back when the file cannot be rewritten.
#include "model/appstate.h"
#include "model/rotation.h"
#include "support/testsupport.h"

#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kivo;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList hiddenFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\."));
}

// The EXIF orientation as Qt's reader applies it (1 when there is none).
long exifOrientation(const QString& path) {
    static constexpr long byTransformation[8] = {1, 2, 4, 3, 6, 7, 5, 8};
    return byTransformation[QImageReader(path).transformation()];
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

class TestRotation : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::PrivateSettings settings_;

    QString fixture(const QString& name, const char* format) {
        const QString path = dir_->filePath(name);
        test::writeImage(test::quadrantImage(300, 200), path, format);
        ::chmod(QFile::encodeName(path), 0644);
        return path;
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        // Searchable by the unprivileged identity ReadOnlyFolder takes on.
        ::chmod(QFile::encodeName(dir_->path()), 0755);
    }

    void orientationTable() {
        // Where one clockwise quarter turn takes each EXIF orientation.
        const int clockwise[9] = {0, 6, 5, 8, 7, 4, 3, 2, 1};
        for (int tag = 1; tag <= 8; ++tag) {
            QCOMPARE(int(rotatedOrientation(tag, 1)), clockwise[tag]);
            QCOMPARE(int(rotatedOrientation(clockwise[tag], -1)), tag);
            QCOMPARE(int(rotatedOrientation(tag, 4)), tag);
        }
        QCOMPARE(int(rotatedOrientation(3, -2)), 1);
        // No tag, 0 as real files carry it, and values beyond the table all count as 1.
        for (const auto tag : {std::optional<std::int64_t>(), std::optional<std::int64_t>(0),
                               std::optional<std::int64_t>(9), std::optional<std::int64_t>(70000)})
            QCOMPARE(int(rotatedOrientation(tag, 1)), 6);
    }

    void jpegIsRewrittenAndReloaded() {
        const QString path = fixture("photo.jpg", "jpeg");
        QVERIFY(test::setExifTags(path, {{"Exif.Image.Orientation", "2"}}));
        ::chmod(QFile::encodeName(path), 0604);
        AppState state({settings_.get()});
        state.openFile(filePathFromText(path));
        state.rotate(+1);
        QCOMPARE(state.rotation(), 0.0);
        QCOMPARE(exifOrientation(path), 5L);
        QVERIFY(state.currentImage());
        QCOMPARE(state.currentImage()->size(), QSize(200, 300));
        state.rotate(-1);
        QCOMPARE(exifOrientation(path), 2L);
        QCOMPARE(state.currentImage()->size(), QSize(300, 200));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path), &st) == 0);
        QCOMPARE(st.st_mode & 07777, 0604u);
        QVERIFY(hiddenFiles(dir_->path()).isEmpty());
    }

    void pngInReadOnlyFolderTurnsOnScreen() {
        const QString path = fixture("drawing.png", "png");
        const QByteArray before = fileBytes(path);
        AppState state({settings_.get()});
        state.openFile(filePathFromText(path));
        {
            const ReadOnlyFolder readOnly(dir_->path());
            state.rotate(+1);
            QCOMPARE(state.rotation(), 90.0);
            state.rotate(-1);
            state.rotate(-1);
            QCOMPARE(state.rotation(), 270.0);
        }
        QCOMPARE(fileBytes(path), before);
        QVERIFY(hiddenFiles(dir_->path()).isEmpty());
        // Writable again: the file itself turns, and the on-screen turn is dropped.
        state.rotate(+1);
        QCOMPARE(state.rotation(), 0.0);
        QCOMPARE(state.currentImage()->size(), QSize(200, 300));
    }

    void taggedPngIsWrittenAsShownTurnedFurther() {
        // Shown turned clockwise by its tag; one more clockwise turn shows it upside down, and
        // so the pixels must stand, with the tag gone.
        const QString path = fixture("tagged.png", "png");
        QVERIFY(test::setExifTags(path, {{"Exif.Image.Orientation", "6"}}));
        QCOMPARE(saveRotatedFile(filePathFromText(path), 1), RotationOutcome::pixelsRewritten);
        QImageReader reader(path);
        reader.setAutoTransform(false);
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(300, 200));
        QCOMPARE(QColor(image.pixel(0, 0)), QColor(Qt::white));
        QCOMPARE(QColor(image.pixel(299, 199)), QColor(Qt::red));
    }

    void failureAtEachReplaceStepKeepsTheFile() {
        const QString path = fixture("steps.png", "png");
        const QByteArray before = fileBytes(path);
        for (const ReplaceStep failing :
             {ReplaceStep::create, ReplaceStep::write, ReplaceStep::permissions, ReplaceStep::sync,
              ReplaceStep::close, ReplaceStep::rename}) {
            const auto outcome = saveRotatedFile(filePathFromText(path), 1,
                                                 [&](ReplaceStep step) { return step != failing; });
            QCOMPARE(outcome, RotationOutcome::notRewritten);
            QCOMPARE(fileBytes(path), before);
            QVERIFY(hiddenFiles(dir_->path()).isEmpty());
        }
    }

    void saveCutShortByFileSizeLimitKeepsTheFile() {
        // The child may write only 1 KiB per file: the turned JPEG cannot be written whole.
        const QString path = fixture("limited.jpg", "jpeg");
        const QByteArray before = fileBytes(path);
        QVERIFY(before.size() > 2048);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const auto outcome = saveRotatedFile(filePathFromText(path), 1);
            ::_exit(outcome == RotationOutcome::notRewritten ? 3 : 0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 3);
        QCOMPARE(fileBytes(path), before);
        QVERIFY(hiddenFiles(dir_->path()).isEmpty());
    }

    void unreadableAndUnturnableFilesAreNotRewritten() {
        const QString text = dir_->filePath("notes.png");
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not an image at all") > 0);
        file.close();
        QCOMPARE(saveRotatedFile(filePathFromText(text), 1), RotationOutcome::notRewritten);
        QCOMPARE(saveRotatedFile(filePathFromText(dir_->filePath("gone.jpg")), 1),
                 RotationOutcome::notRewritten);
        const QString png = fixture("still.png", "png");
        const QByteArray before = fileBytes(png);
        QCOMPARE(saveRotatedFile(filePathFromText(png), 4), RotationOutcome::notRewritten);
        QCOMPARE(fileBytes(png), before);
        QVERIFY(hiddenFiles(dir_->path()).isEmpty());
    }

    void toolReportsThePathTaken() {
        const QString jpeg = fixture("tool.jpg", "jpeg");
        const QString png = fixture("tool.png", "png");
        const QString grey = dir_->filePath("grey.png"); // 2-bit grey: Qt would widen it
        QVERIFY(QFile::copy(test::corpusPath("pngsuite/png/basn0g02.png"), grey));
        const auto run = [](const QString& path, const QString& turns) {
            QProcess tool;
            tool.start(QStringLiteral(KIVO_TOOL_PATH), {"rotate", path, turns});
            tool.waitForFinished();
            return std::make_pair(tool.exitCode(), tool.readAllStandardOutput().trimmed());
        };
        QCOMPARE(run(jpeg, "+1"), std::make_pair(0, QByteArray("tag")));
        QCOMPARE(exifOrientation(jpeg), 6L);
        QCOMPARE(run(png, "-1"), std::make_pair(0, QByteArray("pixels")));
        QCOMPARE(run(grey, "+1"), std::make_pair(1, QByteArray("not rewritten")));
    }
};

QTEST_MAIN(TestRotation)
#include "test_rotation.moc"
