// Undoing moves to the Trash through the model, on a real Trash in a private XDG_DATA_HOME:
// most recent first, back at the file's place in natural order, and refusals as errors.
#include "desktop/desktopservices.h"
#include "model/appstate.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace kivo;
using namespace kivo::test;

class TestTrashUndo : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void undoPutsBackMostRecentFirstOrSaysWhy() {
        QTemporaryDir dataHome;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
        PhotoFolder folder({"a.jpg", "b.jpg", "c 2.jpg", "c 10.jpg"});
        PrivateSettings settings;
        const auto services = DesktopServices::createForThisDesktop();
        AppState state({.settings = settings.get(), .desktop = services.get()});
        QSignalSpy changes(&state, &AppState::trashUndoChanged);
        state.openFile(folder.path("b.jpg"));
        QVERIFY(!state.canUndoMoveToTrash());

        state.deleteCurrentImage(); // b.jpg, then c 2.jpg, which followed it
        state.deleteCurrentImage();
        QCOMPARE(state.imageFiles(), folder.paths({"a.jpg", "c 10.jpg"}));
        QVERIFY(state.canUndoMoveToTrash());

        state.undoMoveToTrash();
        QCOMPARE(state.imageFiles(), folder.paths({"a.jpg", "c 2.jpg", "c 10.jpg"}));
        QCOMPARE(state.currentURL(), folder.path("c 2.jpg"));
        QCOMPARE(state.currentIndex(), 1);
        QCOMPARE(state.deleteError(), std::nullopt);

        // Another file took b.jpg's name meanwhile: it stays, and the entry is gone.
        folder.write("b.jpg", Qt::red);
        state.undoMoveToTrash();
        QVERIFY(state.deleteError() &&
                state.deleteError()->contains(QStringLiteral("another file now has its name")));
        QVERIFY(!state.canUndoMoveToTrash());
        QCOMPARE(changes.count(), 4);
    }
};

QTEST_MAIN(TestTrashUndo)
#include "test_trashundo.moc"
