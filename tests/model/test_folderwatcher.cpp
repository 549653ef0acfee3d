// A folder another program changes while the window shows it: a shell writes, renames and
// deletes files, rewrites the shown one by rename and in place, then removes it.
#include "model/appstate.h"
#include "model/folderlisting.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

using namespace kivo;
using namespace kivo::test;

namespace {

// The colour the window shows, to tell which picture it is.
QColor shownColour(const AppState& state) {
    return state.currentImage() ? state.currentImage()->bitmap().pixelColor(4, 4) : QColor();
}

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

} // namespace

class TestFolderWatcher : public QObject {
    Q_OBJECT

    void runInFolder(const PhotoFolder& folder, const QString& script) {
        QProcess shell;
        shell.setWorkingDirectory(folder.text(QString()));
        shell.start(QStringLiteral("sh"), {QStringLiteral("-ec"), script});
        // The model keeps running while the other process works (slowly on a loaded machine).
        QTRY_VERIFY_WITH_TIMEOUT(shell.state() == QProcess::NotRunning, 15000);
        QCOMPARE(shell.exitCode(), 0);
    }

private Q_SLOTS:
    void followsAnotherProgram() {
        PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        folder.write("a.jpg", Qt::red);
        folder.write("b.jpg", Qt::green);
        folder.write("d.jpg", Qt::blue);
        PrivateSettings settings;
        AppState state({settings.get()});
        state.openFile(folder.path("b.jpg"));
        const auto listing = [&] {
            return *listSupportedImages(folder.path("a.jpg").parent_path());
        };

        runInFolder(folder, "cp a.jpg 'e 10.jpg'; sleep 0.05; cp a.jpg 'e 9.jpg'; "
                            "mv d.jpg 'a 2.jpg'; rm c.jpg; touch .hidden.jpg notes.txt");
        QTRY_COMPARE_WITH_TIMEOUT(state.imageFiles(), listing(), 15000);
        QCOMPARE(state.imageFiles().size(), 5u);
        QCOMPARE(state.currentURL(), folder.path("b.jpg"));
        QCOMPARE(state.imageFiles()[size_t(state.currentIndex())], folder.path("b.jpg"));

        // Rewritten by renaming a finished file over it, then in place, slowly: each time the
        // window ends with the new picture.
        runInFolder(folder, "cp 'a 2.jpg' .b.tmp; mv .b.tmp b.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(near(shownColour(state), Qt::blue), 15000);
        runInFolder(folder, "head -c 300 a.jpg > b.jpg; sleep 0.1; tail -c +301 a.jpg >> b.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(near(shownColour(state), Qt::red), 15000);
        QCOMPARE(state.imageFiles(), listing());

        // Kivo's own rewrite is not read twice.
        QSignalSpy reloads(&state, &AppState::currentImageChanged);
        state.rotate(1);
        QCOMPARE(reloads.count(), 1);
        QTest::qWait(600);
        QCOMPARE(reloads.count(), 1);

        // Removed from outside: the next file is shown, as after a delete.
        runInFolder(folder, "rm b.jpg");
        QTRY_COMPARE_WITH_TIMEOUT(state.currentURL(), folder.path("e 9.jpg"), 15000);
        QCOMPARE(state.imageFiles(), listing());
        QCOMPARE(state.imageFiles()[size_t(state.currentIndex())], folder.path("e 9.jpg"));
    }
};

QTEST_MAIN(TestFolderWatcher)
#include "test_folderwatcher.moc"
