// SPDX-License-Identifier: GPL-3.0-or-later
// The kivo executable end to end: real processes on a real X server with a window manager, and a
// smoke run on a headless Wayland compositor.
#include "desktopsession.h"
#include "imaging/heifwriter.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <QHash>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QtEndian>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

using namespace kivo;
using kivo::test::DesktopSession;

namespace {

// Listens on an X server for startup-notification messages, as a desktop's launch feedback (the
// busy cursor, a taskbar entry) does: each arrives in 20-byte pieces sent to the root window.
class StartupMessages {
public:
    explicit StartupMessages(const QString& display)
        : connection_(xcb_connect(display.toLatin1().constData(), nullptr)) {
        if (xcb_connection_has_error(connection_))
            return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
        begin_ = atom("_NET_STARTUP_INFO_BEGIN");
        more_ = atom("_NET_STARTUP_INFO");
    }
    ~StartupMessages() { xcb_disconnect(connection_); }

    // The messages completed so far.
    QStringList received() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                if (message->format == 8 && (message->type == begin_ || message->type == more_)) {
                    QByteArray& text = pieces_[message->window];
                    if (message->type == begin_)
                        text.clear();
                    const auto* data = reinterpret_cast<const char*>(message->data.data8);
                    text += QByteArray(data, qsizetype(strnlen(data, 20)));
                    if (std::memchr(data, 0, 20))
                        done_ << QString::fromUtf8(pieces_.take(message->window));
                }
            }
            std::free(event);
        }
        return done_;
    }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, uint16_t(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }

    xcb_connection_t* connection_;
    xcb_atom_t begin_ = XCB_ATOM_NONE, more_ = XCB_ATOM_NONE;
    QHash<xcb_window_t, QByteArray> pieces_;
    QStringList done_;
};

} // namespace

class TestProcesses : public QObject {
    Q_OBJECT

    std::unique_ptr<DesktopSession> x11_;
    std::unique_ptr<test::PhotoFolder> photos_;

    QString photo(const QString& name) const { return photos_->text(name); }

    bool showsTitles(const QStringList& titles) {
        return DesktopSession::waitUntil([&] { return x11_->titles() == titles; });
    }

    // A second kivo: its exit status, or -1 when it did not end by itself.
    static int exitStatusOf(QProcess* process) {
        if (!process->waitForFinished(5000) || process->exitStatus() != QProcess::NormalExit)
            return -1;
        return process->exitCode();
    }

    // Runs `kivo` with arguments as raw bytes, the way a shell passes names that are not UTF-8
    // (QProcess would re-encode them), from `folder`: its exit status, or -1 when it did not end.
    int runWithRawArguments(const std::vector<QByteArray>& arguments, const QByteArray& folder) {
        std::vector<QByteArray> environment;
        for (const QString& entry : x11_->environment().toStringList())
            environment.push_back(entry.toLocal8Bit());
        std::vector<char*> argv{const_cast<char*>(KIVO_APP_PATH)}, envp;
        for (const QByteArray& argument : arguments)
            argv.push_back(const_cast<char*>(argument.constData()));
        for (const QByteArray& entry : environment)
            envp.push_back(const_cast<char*>(entry.constData()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, KIVO_APP_PATH, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return -1;
        int status = 0;
        if (!DesktopSession::waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                                       5000)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool allWindowsBelongTo(qint64 pid) const {
        const auto windows = x11_->windows();
        return std::all_of(windows.begin(), windows.end(),
                           [pid](const auto& window) { return window.pid == pid; });
    }

private Q_SLOTS:
    void initTestCase() {
        if (!DesktopSession::available(DesktopSession::Kind::x11))
            QSKIP("Xvfb, openbox or wmctrl is not installed");
        x11_ = std::make_unique<DesktopSession>(DesktopSession::Kind::x11);
        QVERIFY(x11_->isReady());
        photos_ = std::make_unique<test::PhotoFolder>(
            QStringList{"a.jpg", "b.jpg", "c 1.jpg", "d ä.jpg"});
    }

    void cleanup() {
        x11_->endKivo();
        QVERIFY(showsTitles({}));
    }

    void multiWindowOpensEachFileInItsOwnWindowAndTakesOverAStaleSocket() {
        // The socket a crashed Kivo leaves behind: a file nobody listens on.
        const QByteArray path = QFile::encodeName(x11_->socketPath());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(stale);

        x11_->setMultiWindowMode(true);
        QProcess* first = x11_->launch({photo("a.jpg"), photo("b.jpg"), photo("c 1.jpg")});
        QVERIFY(showsTitles({"a.jpg [1/4]", "b.jpg [2/4]", "c 1.jpg [3/4]"}));
        // As file managers pass files: a percent-encoded URI.
        const QString uri = "file://" + QUrl::toPercentEncoding(photo("d ä.jpg"), "/");
        QCOMPARE(exitStatusOf(x11_->launch({uri})), 0);
        QVERIFY(showsTitles({"a.jpg [1/4]", "b.jpg [2/4]", "c 1.jpg [3/4]", "d ä.jpg [4/4]"}));
        QVERIFY(allWindowsBelongTo(first->processId()));
    }

    void singleWindowModeReusesTheShowingWindow() {
        x11_->setMultiWindowMode(false);
        QProcess* first = x11_->launch({photo("b.jpg"), photo("a.jpg")});
        QVERIFY(showsTitles({"b.jpg [2/4]"}));
        const QString folder = QFileInfo(photo("a.jpg")).path();
        // A relative name, launched as a file manager launches on X11: the launch shows as busy
        // until the running viewer, whose window answers it, says it is done.
        StartupMessages feedback(x11_->environment().value("DISPLAY"));
        auto& environment = x11_->environment();
        environment.insert("DESKTOP_STARTUP_ID", "files-42 \"x\"_TIME1234");
        QProcess* second = x11_->launch({"c 1.jpg"}, folder);
        environment.remove("DESKTOP_STARTUP_ID");
        QCOMPARE(exitStatusOf(second), 0);
        QVERIFY(showsTitles({"c 1.jpg [3/4]"}));
        QVERIFY(allWindowsBelongTo(first->processId()));
        QVERIFY2(DesktopSession::waitUntil([&] {
                     return feedback.received().contains(
                         "remove: ID=\"files-42 \\\"x\\\"_TIME1234\"");
                 }),
                 qPrintable(feedback.received().join('\n')));
    }

    // Only a size the user gave a normal window is remembered: a maximised or full-screen window
    // has the screen's size, which the next window must not take.
    void rememberedSizeSurvivesRelaunchesAndTheLastWindowEndsTheProcess() {
        QFile::remove(x11_->settingsFile());
        const QStringList states{"", "maximized_vert,maximized_horz", "fullscreen", ""};
        for (int launch = 0; launch < states.size(); ++launch) {
            QProcess* kivo = x11_->launch({});
            QVERIFY(DesktopSession::waitUntil([&] { return x11_->windows().size() == 1; }));
            const auto window = x11_->windows().front();
            QCOMPARE(window.size, launch == 0 ? QSize(400, 300) : QSize(640, 480));
            if (launch == 0)
                x11_->run("wmctrl", {"-i", "-r", window.id, "-e", "0,-1,-1,640,480"});
            else if (!states[launch].isEmpty())
                x11_->run("wmctrl", {"-i", "-r", window.id, "-b", "add," + states[launch]});
            if (launch < 3) {
                QVERIFY(DesktopSession::waitUntil([&] {
                    return (x11_->windows().front().size == QSize(640, 480)) == (launch == 0);
                }));
                QTest::qWait(600); // a resize counts as finished after a quiet time
            }
            x11_->run("wmctrl", {"-i", "-c", window.id});
            QCOMPARE(exitStatusOf(kivo), 0);
        }
    }

    // A folder stands for its first picture in natural order; an empty one shows its name.
    void folderShowsItsFirstPicture() {
        x11_->setMultiWindowMode(true);
        const QTemporaryDir empty;
        x11_->launch({QFileInfo(photo("b.jpg")).path(), empty.path()});
        QVERIFY(showsTitles({"a.jpg [1/4]", QFileInfo(empty.path()).fileName()}));
    }

    void simultaneousLaunchesEndInOneProcess() {
        x11_->setMultiWindowMode(true);
        QProcess* one = x11_->launch({photo("a.jpg")});
        QProcess* two = x11_->launch({photo("b.jpg")});
        QVERIFY(DesktopSession::waitUntil([&] {
            QStringList titles = x11_->titles();
            titles.sort();
            return titles == QStringList{"a.jpg [1/4]", "b.jpg [2/4]"};
        }));
        QProcess* handedOff = nullptr;
        QVERIFY(DesktopSession::waitUntil([&] {
            for (QProcess* process : {one, two})
                if (process->waitForFinished(20))
                    handedOff = process;
            return handedOff != nullptr;
        }));
        QCOMPARE(handedOff->exitCode(), 0);
        QProcess* server = handedOff == one ? two : one;
        QCOMPARE(server->state(), QProcess::Running);
        QVERIFY(allWindowsBelongTo(server->processId()));
    }

    void badMessagesLeaveTheProcessAndItsWindowsAlone() {
        x11_->setMultiWindowMode(true);
        QProcess* kivo = x11_->launch({photo("a.jpg")});
        QVERIFY(showsTitles({"a.jpg [1/4]"}));
        const auto header = [](quint32 length) {
            const quint32 big = qToBigEndian(length);
            return QByteArray("KIVO") + QByteArray(reinterpret_cast<const char*>(&big), 4);
        };
        const QList<QByteArray> messages{
            QByteArray("not a hand-off at all"),
            header(2u << 20),                                     // announces more than 1 MiB
            header(9) + QByteArray("relative\0", 9),              // not an absolute path
            header(1u << 20) + QByteArray((1 << 20) + 4096, '/'), // more than announced
        };
        QLocalSocket silent; // half a header, then nothing: must not hold up the others
        silent.connectToServer(x11_->socketPath());
        QVERIFY(silent.waitForConnected(2000));
        silent.write("KIV");
        silent.flush();
        for (const QByteArray& message : messages) {
            QLocalSocket client;
            client.connectToServer(x11_->socketPath());
            QVERIFY(client.waitForConnected(2000));
            client.write(message);
            client.waitForBytesWritten(2000);
            QVERIFY(client.state() == QLocalSocket::UnconnectedState ||
                    client.waitForDisconnected(3000));
            QVERIFY(client.readAll().isEmpty()); // no acknowledgement
        }
        QCOMPARE(kivo->state(), QProcess::Running);
        QCOMPARE(x11_->titles(), QStringList{"a.jpg [1/4]"});
        QCOMPARE(exitStatusOf(x11_->launch({photo("b.jpg")})), 0);
        QVERIFY(showsTitles({"a.jpg [1/4]", "b.jpg [2/4]"}));
    }

    // The launcher hands names over as the bytes they are: a name that is not UTF-8, given as
    // it comes from a shell (absolute or relative) or from a file manager (a percent-encoded URI).
    void nonUtf8NameSurvivesTheHandOver_data() {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<bool>("fromItsFolder");
        QTest::newRow("absolute") << QByteArray("\xff\xfe photo.jpg") << false;
        QTest::newRow("relative") << QByteArray("\xff\xfe photo.jpg") << true;
        QTest::newRow("uri") << QByteArray("%FF%FE%20photo.jpg") << false;
    }
    void nonUtf8NameSurvivesTheHandOver() {
        QFETCH(QByteArray, argument);
        QFETCH(bool, fromItsFolder);
        const QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        QVERIFY(QFile::copy(photo("a.jpg"), dir.filePath("a.jpg")));
        const QByteArray jpeg = test::readFile(photo("b.jpg"));
        std::FILE* file = std::fopen(folder + "/\xff\xfe photo.jpg", "wb");
        QVERIFY(file);
        QCOMPARE(std::fwrite(jpeg.constData(), 1, size_t(jpeg.size()), file), size_t(jpeg.size()));
        std::fclose(file);
        if (argument.startsWith('%'))
            argument = "file://" + folder + "/" + argument;
        else if (!fromItsFolder)
            argument = folder + "/" + argument;

        x11_->setMultiWindowMode(false);
        QProcess* first = x11_->launch({dir.filePath("a.jpg")});
        QVERIFY(showsTitles({"a.jpg [1/2]"}));
        QCOMPARE(runWithRawArguments({argument}, fromItsFolder ? folder : QByteArray("/")), 0);
        QVERIFY(DesktopSession::waitUntil([&] {
            const QStringList titles = x11_->titles();
            return titles.size() == 1 && titles.front().endsWith(" photo.jpg [2/2]");
        }));
        QVERIFY(allWindowsBelongTo(first->processId()));
    }

    // `kivo` leaves options, and a start without a display, to the viewer it becomes: the same
    // output and exit status as the viewer started directly.
    void launcherAnswersAsTheViewerDoes_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withDisplay");
        QTest::newRow("help") << QStringList{"--help"} << true;
        QTest::newRow("version") << QStringList{"--version"} << true;
        QTest::newRow("file without a display") << QStringList{photo("a.jpg")} << false;
        QTest::newRow("nothing without a display") << QStringList{} << false;
    }
    void launcherAnswersAsTheViewerDoes() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withDisplay);
        QProcessEnvironment environment = x11_->environment();
        if (!withDisplay)
            environment.remove("DISPLAY");
        const auto answer = [&](const QString& program) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(program, arguments);
            return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit
                       ? QStringList{QString::number(process.exitCode()),
                                     process.readAllStandardOutput(),
                                     process.readAllStandardError()}
                       : QStringList{"did not end"};
        };
        const QStringList viewer = answer(KIVO_VIEWER_PATH);
        QCOMPARE(viewer.size(), 3);
        QCOMPARE(answer(KIVO_APP_PATH), viewer);
    }

    // On a screen of pixel ratio 2 the window shows the launch's own decode of the first
    // picture: it is made in device pixels, as the window asks for it, not decoded again.
    void hiDpiLaunchDecodesTheFirstPictureOnce() {
        QTemporaryDir dir;
        QImage picture(6000, 4000, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(test::writeImage(picture, dir.filePath("large.jpg"), "jpeg"));
        auto& environment = x11_->environment();
        environment.insert("QT_SCALE_FACTOR", "2");
        environment.insert("QT_LOGGING_RULES", "kivo.model.debug=true");
        QProcess* kivo = x11_->launch({dir.filePath("large.jpg")});
        environment.remove("QT_SCALE_FACTOR");
        environment.remove("QT_LOGGING_RULES");
        QVERIFY(showsTitles({"large.jpg"}));
        QByteArray log;
        kivo->setReadChannel(QProcess::StandardError);
        QVERIFY(DesktopSession::waitUntil([&] {
            kivo->waitForReadyRead(100);
            log += kivo->readAllStandardError();
            return log.contains("made ahead") || log.contains("decoding");
        }));
        QVERIFY2(!log.contains("decoding"), log.constData());
    }

    // A HEIF opened from the command line paints its thumbnail item while the picture decodes
    // (unless the picture is there first), then the picture itself, never the thumbnail again:
    // the launch hands both over as levels of one picture.
    void heifLaunchPaintsItsThumbnailThenThePicture() {
        QTemporaryDir dir;
        test::HeifFixture heif;
        heif.thumbnailSize = 160;
        QVERIFY(test::writeHeif(test::quadrantImage(1200, 800), dir.filePath("photo.heic"), heif));
        auto& environment = x11_->environment();
        environment.insert("QT_LOGGING_RULES", "kivo.timing.info=true");
        QProcess* kivo = x11_->launch({dir.filePath("photo.heic")});
        environment.remove("QT_LOGGING_RULES");
        // The widths of the bitmaps painted, in order: the thumbnail's is 160, the picture's
        // (or the reduced copy drawn of it) larger.
        QList<int> widths;
        QByteArray log;
        const QRegularExpression painted("bitmap (\\d+)x\\d+");
        const auto readPaints = [&] {
            kivo->waitForReadyRead(100);
            log += kivo->readAllStandardError();
            widths.clear();
            for (const auto& match : painted.globalMatch(QString::fromLatin1(log)))
                widths.append(match.captured(1).toInt());
        };
        const auto thumbnail = [](int width) { return width == 160; };
        QVERIFY2(DesktopSession::waitUntil([&] {
                     readPaints();
                     return !widths.isEmpty() && !thumbnail(widths.back());
                 }),
                 log.constData());
        QTest::qWait(300); // any paint still to come
        readPaints();
        const auto picture = std::find_if_not(widths.begin(), widths.end(), thumbnail);
        QVERIFY2(std::none_of(picture, widths.end(), thumbnail), log.constData());
    }

    // A camera's TIFF with tags libtiff does not know, a damaged TIFF and a PNG whose text chunk
    // fails its checksum: the viewer opens them without a word on stderr beyond the category the
    // run enabled, though libtiff and libpng (through Qt's PNG reader) have things to say.
    void picturesOpenWithoutLibraryChatter() {
        QTemporaryDir dir;
        const QString camera = dir.filePath("camera.tif"), damaged = dir.filePath("damaged.tif"),
                      scanned = dir.filePath("scanned.png");
        QVERIFY(test::writeCameraTiffs(camera, damaged));
        QImage page = test::quadrantImage(64, 48);
        page.setText("Comment", "scanned");
        QVERIFY(test::writeImage(page, scanned, "png"));
        QByteArray bytes = test::readFile(scanned);
        const qsizetype text = bytes.indexOf("tEXt"); // its length before, its checksum after
        bytes[text + 4 + qFromBigEndian<quint32>(bytes.constData() + text - 4)] ^= 0x55;
        QVERIFY(test::writeFile(scanned, bytes));
        x11_->setMultiWindowMode(true);
        auto& environment = x11_->environment();
        environment.insert("QT_LOGGING_RULES", "kivo.model.debug=true");
        QProcess* kivo = x11_->launch({camera, damaged, scanned});
        environment.remove("QT_LOGGING_RULES");
        QByteArray log;
        kivo->setReadChannel(QProcess::StandardError);
        QVERIFY2(DesktopSession::waitUntil(
                     [&] {
                         kivo->waitForReadyRead(100);
                         log += kivo->readAllStandardError();
                         return log.contains("cannot show") && x11_->titles().size() == 3;
                     },
                     // Right after the previous viewer was ended, the
                     // launcher now and then waits out its 10 s hand-over
                     // timeout under ASan before starting a viewer itself.
                     30000),
                 log.constData());
        for (const QByteArray& line : log.split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith("kivo.model: "), log.constData());
    }

    void waylandSmokeRun() {
        if (!DesktopSession::available(DesktopSession::Kind::wayland))
            QSKIP("weston is not installed");
        DesktopSession wayland(DesktopSession::Kind::wayland);
        QVERIFY(wayland.isReady());
        QProcess* kivo = wayland.launch({photo("a.jpg")}); // no DISPLAY: Wayland or nothing
        QVERIFY(DesktopSession::waitUntil([&] { return QFile::exists(wayland.socketPath()); }));
        QCOMPARE(exitStatusOf(wayland.launch({photo("b.jpg")})), 0);
        QCOMPARE(kivo->state(), QProcess::Running);
        kivo->terminate();
        QCOMPARE(exitStatusOf(kivo), 0);
        QVERIFY(!QFile::exists(wayland.socketPath()));
    }
};

QTEST_GUILESS_MAIN(TestProcesses)
#include "test_processes.moc"
