// Routing of opened files into windows, closing of empty windows in single-window mode, and the
// first window's size and place, over real models in plain windows; file arguments as shells and
// file managers pass them, through a hand-off message; and the assembled application's windows
// on a real X server under openbox: full screen, maximised and auto-sized, and its keys.
#include "app/appdelegate.h"
#include "app/commandline.h"
#include "app/kivoapplication.h"
#include "app/singleinstance.h"
#include "canvas/windowautosize.h"
#include "model/appstate.h"
#include "panels/metadatapanel.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>

using namespace kivo;

namespace {

// A viewer window as the delegate sees it: a model and the window that hosts it.
struct FakeWindow {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    std::unique_ptr<AppState> state;
};

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
        QTest::newRow("single: only the settings window open, the file waits")
            << false << QStringList{} << true << QStringList{"a.jpg"} << QStringList{} << 1
            << QStringList{};
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

    // The test below in a session of its own: Xvfb and openbox, which decides what maximised
    // and full screen mean.
    void windowsOnARealXServer() { KIVO_RERUN_ON_X_SERVER("windowStatesAndKeys", true); }

    // Full screen returns to the maximised state it came from; a maximised or full-screen
    // window keeps its size while the window is sized to its pictures, which applies again once
    // it is normal; a clicked metadata value leaves the arrow keys to the viewer.
    void windowStatesAndKeys() {
        if (!qEnvironmentVariableIsSet("KIVO_ON_X_SERVER"))
            QSKIP("runs in the session of windowsOnARealXServer");
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
        QTRY_COMPARE(window->frameGeometry(), available);
        QVERIFY(step("a.jpg [1/3]"));
        QCOMPARE(window->frameGeometry(), available);

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
    }

    void argumentsArriveIntact() {
        QFETCH(QByteArray, argument);
        QFETCH(QByteArray, expected);
        const auto line = parseCommandLine({argument, "/q.jpg"}, "/w/a", "/home/u");
        QCOMPARE(line.action, CommandLine::Action::run);
        const auto received = handoff::decode(handoff::encode(line.files));
        QVERIFY(received);
        QCOMPARE(received->size(), size_t(2)); // in order, nothing merged or split
        QCOMPARE(QByteArray::fromStdString(received->front().native()), expected);
        QCOMPARE(QByteArray::fromStdString(received->back().native()), QByteArray("/q.jpg"));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "test_appdelegate.moc"
