// SPDX-License-Identifier: GPL-3.0-or-later
// Routing of opened files into windows, closing of empty windows in single-window mode, and the
// first window's size and place, over real models in plain windows; file arguments as shells and
// file managers pass them, through a hand-off message. Then the application as a user meets it:
// KivoApplication with its real windows, menus, shortcuts and dialogs on an X server with a
// window manager, files handed over through its channel; full screen, maximised and auto-sized
// windows, and its keys.
#include "app/appdelegate.h"
#include "app/commandline.h"
#include "app/kivoapplication.h"
#include "app/singleinstance.h"
#include "canvas/windowautosize.h"
#include "desktopsession.h"
#include "model/appstate.h"
#include "panels/metadatapanel.h"
#include "support/testsupport.h"
#include "viewer/imageviewer.h"
#include "viewer/vieweralerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

using namespace kivo;

namespace {

// A viewer window as the delegate sees it: a model and the window that hosts it.
struct FakeWindow {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    std::unique_ptr<AppState> state;
};

// The cases on the assembled application run in a child of this program, on the private X server
// that onAnXServerWithAWindowManager starts.
constexpr char kOnXServer[] = "KIVO_ON_X_SERVER";
const QStringList kOnXServerCases{"windowStatesAndKeys",
                                  "openActsOnItsOwnWindow",
                                  "aWindowClosedUnderItsDialogOrMenu",
                                  "deleteActsOnlyOnTheFileItNames",
                                  "aFileWithNoViewerWindowOpensOne",
                                  "theWindowShowingAHandedOverFileComesForward",
                                  "settingsAndAboutTakeWindowKeys"};

QAction* menuItem(QMainWindow& window, const QString& title) {
    for (QAction* menu : window.menuBar()->actions())
        for (QAction* item : menu->menu()->actions())
            if (item->text() == title)
                return item;
    return nullptr;
}

// Answers the next file dialog with `file`, as a user types it into the name field and presses
// Open, from inside whatever event loop runs the dialog.
void answerFileDialog(const QString& file) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, file] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            auto* name = dialog ? dialog->findChild<QLineEdit*>("fileNameEdit") : nullptr;
            if (name && dialog->isVisible()) {
                name->setText(file);
                QTest::keyClick(name, Qt::Key_Return);
                timer->deleteLater();
            }
        }
    });
    timer->start(50);
}

ImageViewer& viewerOf(ViewerWindow& window) {
    return *qobject_cast<ImageViewer*>(window.centralWidget());
}

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT

    test::PrivateSettings settings_;
    std::vector<FakeWindow> windows_;

    AppState& addWindow(AppDelegate& delegate, const QString& shownFile) {
        FakeWindow& added = windows_.emplace_back();
        added.state = std::make_unique<AppState>(AppStateContext{settings_.get()});
        added.window->show();
        added.state->setWindow(added.window->windowHandle());
        if (!shownFile.isEmpty())
            added.state->openFile(filePathFromText("/missing/" + shownFile));
        delegate.registerState(*added.state);
        return *added.state;
    }

    QStringList shown() const {
        QStringList names;
        for (const auto& fake : windows_)
            names << (fake.state->currentURL() ? displayName(*fake.state->currentURL()) : "-");
        return names;
    }

private Q_SLOTS:
    void init() {
        if (kOnXServerCases.contains(QTest::currentTestFunction()) &&
            !qEnvironmentVariableIsSet(kOnXServer))
            QSKIP("runs on the X server");
        kivo_.reset();
        windows_.clear();
        settings_->clear();
    }

    void routing_data() {
        QTest::addColumn<bool>("multiWindow");
        QTest::addColumn<QStringList>("before");  // what each window shows ("" for empty)
        QTest::addColumn<bool>("windowOnScreen"); // whether an open-window action was installed
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<QStringList>("after"); // each window's file, new windows included
        QTest::addColumn<int>("stillQueued");
        QTest::addColumn<QStringList>("visible"); // "1" for each window left open

        const QStringList abc{"a.jpg", "b.jpg", "c.jpg"};
        QTest::newRow("no window on screen yet: all queued")
            << true << QStringList{} << false << abc << QStringList{} << 3 << QStringList{};
        QTest::newRow("multi: the launch window takes the first, new windows in order")
            << true << QStringList{""} << true << abc << QStringList{"a.jpg", "b.jpg", "c.jpg"} << 0
            << QStringList{"1", "1", "1"};
        QTest::newRow("multi: every window busy, a new one")
            << true << QStringList{"x.jpg"} << true << QStringList{"a.jpg"}
            << QStringList{"x.jpg", "a.jpg"} << 0 << QStringList{"1", "1"};
        QTest::newRow("single: only the first of a batch")
            << false << QStringList{""} << true << abc << QStringList{"a.jpg"} << 0
            << QStringList{"1"};
        QTest::newRow("single: into the showing window, the empty one closes")
            << false << QStringList{"", "x.jpg"} << true << QStringList{"a.jpg"}
            << QStringList{"-", "a.jpg"} << 0 << QStringList{"0", "1"};
        QTest::newRow("single: an empty window closes while another shows a file")
            << false << QStringList{"x.jpg", ""} << true << QStringList{}
            << QStringList{"x.jpg", "-"} << 0 << QStringList{"1", "0"};
        QTest::newRow("single: no window shows a file, none closes")
            << false << QStringList{"", ""} << true << QStringList{} << QStringList{"-", "-"} << 0
            << QStringList{"1", "1"};
        QTest::newRow("single: no viewer window left, the file opens one")
            << false << QStringList{} << true << QStringList{"a.jpg"} << QStringList{"a.jpg"} << 0
            << QStringList{"1"};
    }

    void routing() {
        QFETCH(bool, multiWindow);
        QFETCH(QStringList, before);
        QFETCH(bool, windowOnScreen);
        QFETCH(QStringList, opened);
        QFETCH(QStringList, after);
        QFETCH(int, stillQueued);
        QFETCH(QStringList, visible);
        settings_->setValue("multiWindowMode", multiWindow);
        AppDelegate delegate(settings_.settings());
        for (const QString& file : before)
            addWindow(delegate, file);
        if (windowOnScreen) {
            // As a real window does: it loads its file and attaches as it comes on screen,
            // which runs a nested flush while the delegate is flushing.
            delegate.setOpenWindowAction([&](const FilePath& url) {
                addWindow(delegate, displayName(url));
                delegate.flushPendingURLs();
                delegate.closeEmptyWindows();
            });
        }
        std::vector<FilePath> urls;
        for (const QString& name : opened)
            urls.push_back(filePathFromText("/missing/" + name));
        delegate.openURLs(urls);
        delegate.closeEmptyWindows();
        QCoreApplication::processEvents(); // windows close in a later turn

        if (!after.isEmpty())
            QCOMPARE(shown(), after);
        QCOMPARE(static_cast<int>(delegate.pendingURLs().size()), stillQueued);
        QStringList open;
        for (const auto& fake : windows_)
            open << (fake.window->isVisible() ? "1" : "0");
        QCOMPARE(open, visible);
    }

    // The first window takes the remembered size, centred; one launched with a file is left to
    // size itself to the picture.
    void initialWindow() {
        for (const bool launchedWithFile : {false, true}) {
            init();
            AppState::saveWindowSize(settings_.settings(), 800, 600);
            AppDelegate delegate(settings_.settings());
            addWindow(delegate, launchedWithFile ? "a.jpg" : "");
            QWidget* window = windows_.back().window.get();
            window->setGeometry(5, 7, 250, 150);
            delegate.applicationDidFinishLaunching();
            QCoreApplication::processEvents();
            if (launchedWithFile) {
                QCOMPARE(window->geometry(), QRect(5, 7, 250, 150));
                continue;
            }
            QCOMPARE(window->size(), QSize(800, 600));
            const QPoint centre = window->screen()->availableGeometry().center();
            QVERIFY((window->frameGeometry().center() - centre).manhattanLength() <= 2);
        }
    }

    // Full screen returns to the maximised state it came from; a maximised or full-screen
    // window keeps its size while the window is sized to its pictures, which applies again once
    // it is normal; a clicked metadata value leaves the arrow keys to the viewer.
    void windowStatesAndKeys() {
        const test::PhotoFolder photos({"a.jpg", "b.jpg", "c.jpg"});
        KivoApplication kivo(settings_.settings());
        kivo.start({photos.path("a.jpg")}, -1, {});
        ViewerWindow* window = nullptr;
        QTRY_VERIFY((window = qobject_cast<ViewerWindow*>(QApplication::activeWindow())));
        QWindow* handle = window->windowHandle();
        QTRY_COMPARE(window->windowTitle(), QString("a.jpg [1/3]"));
        const QRect screen = window->screen()->geometry();
        const QRect available = window->screen()->availableGeometry();
        const auto wm = [window](const char* change) {
            QProcess::execute("wmctrl", {"-i", "-r", QString::number(window->winId()), "-b",
                                         QString::fromLatin1(change)});
        };
        const auto step = [&](const char* title) {
            QTest::keyClick(handle, Qt::Key_Right);
            const bool stepped = QTest::qWaitFor([&] { return window->windowTitle() == title; });
            QTest::qWait(500); // a resize, had one been asked for, has landed by now
            return stepped;
        };

        QTest::keyClick(handle, Qt::Key_Tab); // the metadata panel
        auto* panel = window->findChild<MetadataPanel*>();
        QVERIFY(panel);
        QLabel* value = panel->valueLabel("File Size");
        QTRY_VERIFY(value && value->isVisible());
        QTest::mouseDClick(handle, Qt::LeftButton, {},
                           value->mapTo(window, value->rect().center()));
        QVERIFY(value->hasSelectedText());
        QVERIFY(step("b.jpg [2/3]"));
        QTest::keyClick(handle, Qt::Key_Escape); // hides the panel

        const QSize normalSize = window->size();
        wm("add,maximized_vert,maximized_horz");
        QTRY_VERIFY(window->isMaximized());
        QTest::keyClick(handle, 'f');
        QTRY_VERIFY(window->isFullScreen());
        QTRY_COMPARE(window->geometry(), screen);
        QTest::keyClick(handle, Qt::Key_2, Qt::ControlModifier); // size the window to the picture
        QVERIFY(step("c.jpg [3/3]"));
        QVERIFY(window->isFullScreen());
        QCOMPARE(window->geometry(), screen);
        QTest::keyClick(handle, Qt::Key_Escape);
        QTRY_VERIFY(!window->isFullScreen() && window->isMaximized());
        // openbox leaves full screen and maximises in two steps, and the frame's extents reach
        // Qt apart from its geometry: for a moment the undecorated full-screen window passes for
        // a maximised frame. Settled, the maximised window has its title bar back.
        QTRY_VERIFY_WITH_TIMEOUT(
            window->frameGeometry() == available && window->geometry() != available, 20000);
        const QRect maximised = window->geometry();
        QVERIFY(step("a.jpg [1/3]"));
        QCOMPARE(window->frameGeometry(), available);
        QCOMPARE(window->geometry(), maximised);

        wm("remove,maximized_vert,maximized_horz");
        QTRY_VERIFY(!window->isMaximized());
        QVERIFY(step("b.jpg [2/3]"));
        // Sized to the small picture, as far as the window's minimum allows, about the centre.
        QTRY_VERIFY(window->size() != normalSize &&
                    window->frameGeometry().contains(available.center()));
        // Maximised, full screen, sized to pictures: none of them was the user's size.
        QTest::qWait(WindowAccessor::kQuietTimeMs * 2);
        QVERIFY(!AppState::savedWindowSize(settings_.settings()));
    }

    void argumentsArriveIntact_data() {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("relative") << QByteArray("../b/c d.jpg") << QByteArray("/w/b/c d.jpg");
        QTest::newRow("home") << QByteArray("~/x.jpg") << QByteArray("/home/u/x.jpg");
        QTest::newRow("newline") << QByteArray("a\nb.jpg") << QByteArray("/w/a/a\nb.jpg");
        QTest::newRow("not UTF-8")
            << QByteArray("/p/\xff\xfe.jpg") << QByteArray("/p/\xff\xfe.jpg");
        QTest::newRow("file URI, encoded bytes")
            << QByteArray("file:///p/caf%C3%A9%20%FF.jpg") << QByteArray("/p/caf\xc3\xa9 \xff.jpg");
        QTest::newRow("file URI with a host")
            << QByteArray("file://host/p/x.jpg") << QByteArray("/p/x.jpg");
        QTest::newRow("file URI, a percent sign that escapes nothing")
            << QByteArray("file:///p/100%.jpg%4") << QByteArray("/p/100%.jpg%4");
        QTest::newRow("folder with a separator after it")
            << QByteArray("./d//e/") << QByteArray("/w/a/d/e");
    }

    void argumentsArriveIntact() {
        QFETCH(QByteArray, argument);
        QFETCH(QByteArray, expected);
        const auto line = parseCommandLine({argument, "/q.jpg"}, "/w/a", "/home/u");
        QCOMPARE(line.action, CommandLine::Action::run);
        const auto received =
            handoff::decode(handoff::encode(line.files, {"token", "kivo-7_TIME42"}));
        QVERIFY(received);
        QCOMPARE(received->paths.size(), size_t(2)); // in order, nothing merged or split
        QCOMPARE(QByteArray::fromStdString(received->paths.front().native()), expected);
        QCOMPARE(QByteArray::fromStdString(received->paths.back().native()), QByteArray("/q.jpg"));
        QCOMPARE(received->launch.activationToken, QByteArray("token"));
        QCOMPARE(received->launch.startupId, QByteArray("kivo-7_TIME42"));
    }

private:
    // --- The assembled application, on the X server -------------------------------------------

    std::unique_ptr<KivoApplication> kivo_;
    std::unique_ptr<test::PhotoFolder> photos_;

    // Kivo as main() starts it: serving this session's hand-off channel, with its launch files.
    void launch(const QStringList& files, bool multiWindow) {
        kivo_.reset();
        photos_ = std::make_unique<test::PhotoFolder>(QStringList{"a.jpg", "b.jpg", "c.jpg"});
        settings_->setValue("multiWindowMode", multiWindow);
        const QString socket = singleInstanceSocketPath();
        const auto attempt = handOffOrListen(socket, {});
        kivo_ = std::make_unique<KivoApplication>(settings_.settings());
        kivo_->start(photos_->paths(files), attempt.listeningSocket, socket);
    }

    // What a second `kivo FILE` does, from another thread as from another process.
    bool handOver(const QString& name) {
        std::atomic<bool> done = false;
        bool delivered = false;
        const auto files = photos_->paths({name});
        std::thread sender([&] {
            delivered = handOffOrListen(singleInstanceSocketPath(), files).delivered;
            done = true;
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 20000);
        sender.join();
        return finished && delivered;
    }

    // The viewer windows on screen, in the order they came.
    std::vector<ViewerWindow*> viewers() const {
        std::vector<ViewerWindow*> found;
        for (AppState* state : kivo_->delegate().states())
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* viewer = qobject_cast<ViewerWindow*>(widget);
                    viewer && &viewer->state() == state && viewer->isVisible())
                    found.push_back(viewer);
        return found;
    }

    QStringList viewerFiles() const { // each viewer window's file, "-" for none
        QStringList names;
        for (ViewerWindow* viewer : viewers())
            names << (viewer->state().currentURL() ? displayName(*viewer->state().currentURL())
                                                   : "-");
        return names;
    }

    // Chooses "About Kivo" or "Settings..." in a viewer window's menus: the window it opens.
    QWidget* openFromMenu(ViewerWindow& viewer, const char* title) {
        menuItem(viewer, title)->trigger();
        QWidget* other = nullptr;
        const bool opened = QTest::qWaitFor([&] {
            other = QApplication::activeWindow();
            return other && other != &viewer;
        });
        return opened ? other : nullptr;
    }

    bool activate(QWidget* window) {
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
    }

private Q_SLOTS:
    void onAnXServerWithAWindowManager() {
        if (qEnvironmentVariableIsSet(kOnXServer))
            QSKIP("already on the X server");
        if (!test::DesktopSession::available(test::DesktopSession::Kind::x11))
            QSKIP("Xvfb, openbox or wmctrl is not installed");
        test::DesktopSession session(test::DesktopSession::Kind::x11);
        QVERIFY(session.isReady());
        QProcessEnvironment environment = session.environment();
        environment.insert(kOnXServer, "1");
        environment.remove("QT_QPA_PLATFORMTHEME"); // Qt's own file dialog, not a portal's
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), kOnXServerCases);
        QVERIFY(child.waitForFinished(240000));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 child.readAll().constData());
    }

    void openActsOnItsOwnWindow() {
        launch({}, true);
        QTRY_COMPARE(viewerFiles(), QStringList{"-"});
        ViewerWindow* first = viewers().front();
        QVERIFY(activate(first));
        answerFileDialog(photos_->text("a.jpg")); // from an empty window, by its shortcut
        QTest::keyClick(first, Qt::Key_O, Qt::ControlModifier);
        QTRY_COMPARE(viewerFiles(), QStringList{"a.jpg"});
        QVERIFY(handOver("b.jpg")); // a second window, now the active one
        QTRY_COMPARE(viewerFiles(), (QStringList{"a.jpg", "b.jpg"}));
        QVERIFY(activate(viewers().back()));
        answerFileDialog(photos_->text("c.jpg")); // the first window's menu, from behind
        menuItem(*first, "Open...")->trigger();
        QTRY_COMPARE(viewerFiles(), (QStringList{"c.jpg", "b.jpg"}));
    }

    void aWindowClosedUnderItsDialogOrMenu() {
        launch({"a.jpg", "b.jpg", "c.jpg"}, true);
        QTRY_COMPARE(viewerFiles(), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
        for (const bool contextMenu : {false, true}) {
            QPointer<ViewerWindow> doomed = viewers().front();
            QVERIFY(activate(doomed));
            QTimer::singleShot(300, doomed.data(), [doomed] { doomed->close(); });
            // From the event loop, as in the running application.
            QEventLoop loop;
            QTimer::singleShot(0, &loop, [&] {
                if (contextMenu) {
                    QContextMenuEvent click(QContextMenuEvent::Mouse, {20, 20},
                                            doomed->mapToGlobal(QPoint(20, 20)));
                    QApplication::sendEvent(&viewerOf(*doomed), &click);
                } else {
                    QTest::keyClick(doomed, Qt::Key_O, Qt::ControlModifier);
                }
                loop.quit();
            });
            loop.exec();
            QTRY_VERIFY(!doomed);
            QVERIFY(!QApplication::activePopupWidget() && !QApplication::activeModalWidget());
        }
        QCOMPARE(viewerFiles(), QStringList{"c.jpg"});
    }

    // Another file becomes current behind the confirmation: "Delete" must not reach it.
    void deleteActsOnlyOnTheFileItNames() {
        for (const bool handedOver : {true, false}) {
            launch({"a.jpg"}, false);
            QTRY_COMPARE(viewerFiles(), QStringList{"a.jpg"});
            ViewerWindow* window = viewers().front();
            QVERIFY(activate(window));
            QTest::keyClick(window, Qt::Key_Delete);
            QPointer<QMessageBox> box;
            QTRY_VERIFY((box = viewerOf(*window).alerts().deleteConfirmation()));
            QCOMPARE(box->informativeText(), QString("Move \"a.jpg\" to the Trash?"));
            QTemporaryDir elsewhere;
            const QString moved = elsewhere.filePath("a.jpg");
            if (handedOver)
                QVERIFY(handOver("c.jpg"));
            else // another program moves it away; the folder watcher steps on
                QVERIFY(QFile::rename(photos_->text("a.jpg"), moved));
            QTRY_COMPARE(viewerFiles(), QStringList{handedOver ? "c.jpg" : "b.jpg"});
            for (QAbstractButton* button : box ? box->buttons() : QList<QAbstractButton*>{})
                if (button->text() == "Delete")
                    button->click();
            QTRY_VERIFY(!box);
            for (const QString& file : {handedOver ? photos_->text("a.jpg") : moved,
                                        photos_->text("b.jpg"), photos_->text("c.jpg")})
                QVERIFY2(QFile::exists(file), qPrintable(file));
        }
    }

    // With only About or Settings left, nothing else could ever show the file.
    void aFileWithNoViewerWindowOpensOne() {
        for (const char* other : {"About Kivo", "Settings..."}) {
            launch({}, false);
            QTRY_COMPARE(viewers().size(), size_t(1));
            ViewerWindow* window = viewers().front();
            QVERIFY(openFromMenu(*window, other));
            QVERIFY(activate(window));
            QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
            QTRY_VERIFY(viewers().empty());
            QVERIFY(handOver("a.jpg"));
            QTRY_COMPARE(viewerFiles(), QStringList{"a.jpg"});
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(viewers().front()));
        }
    }

    void theWindowShowingAHandedOverFileComesForward() {
        // Multi-window mode: the empty launch window takes the file, behind the Settings window.
        launch({}, true);
        QTRY_COMPARE(viewerFiles(), QStringList{"-"});
        QVERIFY(openFromMenu(*viewers().front(), "Settings..."));
        QVERIFY(handOver("a.jpg"));
        QTRY_COMPARE(viewerFiles(), QStringList{"a.jpg"});
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(viewers().front()));
        // Single-window mode: the first window showing a file takes it, not the active one.
        launch({"a.jpg", "b.jpg"}, true);
        QTRY_COMPARE(viewerFiles(), (QStringList{"a.jpg", "b.jpg"}));
        settings_->setValue("multiWindowMode", false);
        QVERIFY(activate(viewers().back()));
        QVERIFY(handOver("c.jpg"));
        QTRY_COMPARE(viewerFiles(), (QStringList{"c.jpg", "b.jpg"}));
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(viewers().front()));
    }

    void settingsAndAboutTakeWindowKeys() {
        const QKeyCombination close(Qt::ControlModifier, Qt::Key_W);
        const QKeyCombination quit(Qt::ControlModifier, Qt::Key_Q);
        for (const char* title : {"About Kivo", "Settings..."}) {
            for (const QKeyCombination key : {close, QKeyCombination(Qt::Key_Escape), quit}) {
                launch({}, true);
                QTRY_COMPARE(viewers().size(), size_t(1));
                QPointer<ViewerWindow> viewer = viewers().front();
                menuItem(*viewer, title)->trigger();
                QPointer<QWidget> other;
                QTRY_VERIFY((other = QApplication::activeWindow()) &&
                            other.data() != viewer.data());
                QTest::keyClick(other, key.key(), key.keyboardModifiers());
                QTRY_VERIFY2(!other || !other->isVisible(), title);
                QTRY_COMPARE(viewer && viewer->isVisible(), key != quit);
            }
        }
    }
};

QTEST_MAIN(TestAppDelegate)
#include "test_appdelegate.moc"
