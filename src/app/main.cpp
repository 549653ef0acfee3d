// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "desktop/applicationid.h"
#include "imaging/tasks/handoff.h"
#include "kivoapplication.h"
#include "model/appstate.h"
#include "model/pictureloader.h"
#include "singleinstance.h"
#include "viewer/translations.h"

#include <QApplication>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>
#include <QThreadPool>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Qt aborts with a cryptic message when no display can be reached; say it plainly instead.
bool displayAvailable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true; // offscreen, vnc, ...: the user chose a platform that needs no display
    return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

QByteArray workingFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? QByteArray(buffer) : QByteArray("/");
}

int terminationPipe[2] = {-1, -1};

// A session that ends, or a user's Ctrl+C, closes the windows and quits like the last window
// closing would, so the channel's socket is removed; the handler only writes to a pipe.
void quitOnTerminationSignals(kivo::KivoApplication& kivo) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminationPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(terminationPipe[1], QSocketNotifier::Read, &kivo);
    QObject::connect(notifier, &QSocketNotifier::activated, &kivo, [&kivo, notifier] {
        notifier->setEnabled(false);
        kivo.quit();
    });
    struct sigaction action {};
    action.sa_handler = [](int) {
        const char byte = 1;
        [[maybe_unused]] const auto written = write(terminationPipe[0], &byte, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

constexpr char kUsage[] = "Usage: kivo [FILE...]\n"
                          "       kivo --help | --version\n"
                          "Shows images. Files given while Kivo runs open in the running Kivo.\n";

} // namespace

int main(int argc, char** argv) {
    const std::vector<QByteArray> arguments(argv + 1, argv + argc);
    const auto line = kivo::parseCommandLine(arguments, workingFolder(), qgetenv("HOME"));
    if (line.action == kivo::CommandLine::Action::help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line.action == kivo::CommandLine::Action::version) {
        std::printf("kivo %s\n", KIVO_VERSION);
        return 0;
    }
    if (!displayAvailable()) {
        std::fputs("kivo: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "Start Kivo from a graphical session, or run it under Xvfb.\n",
                   stderr);
        return 1;
    }

    // A Kivo already running in this session shows the files instead; this process ends here,
    // before it has spent anything on the display.
    const QString socketPath = kivo::singleInstanceSocketPath();
    const auto attempt = kivo::handOffOrListen(socketPath, line.files);
    if (attempt.delivered)
        return 0;

    QCoreApplication::setOrganizationName(QStringLiteral("Kivo"));
    QCoreApplication::setApplicationName(QStringLiteral("Kivo"));

    // On a Wayland session use Qt's Wayland platform, falling back to X11 where it cannot start.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");

    // Qt sees no arguments: every one of them names a file.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kivo::applicationId));
    QSettings settings;

    // The first picture decodes while the translations, the window and its first paint are
    // made: on a launch they take about as long as a large photo's screen-sized level. It starts
    // only once the application exists: decoders that go through Qt's image plugins read the
    // plugin paths its construction sets up, and the screen's pixel ratio is known only then,
    // so the level is decoded in device pixels, as the window asks for it.
    QThreadPool launchPool;
    std::optional<kivo::EarlyDecode> early;
    if (!line.files.empty()) {
        const auto saved = kivo::AppState::savedWindowSize(settings);
        const QSizeF points = saved ? *saved : QSizeF(kivo::ViewerWindow::kDefaultSize);
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize box = (points * (screen ? screen->devicePixelRatio() : 1.0)).toSize();
        const kivo::FilePath first = line.files.front();
        early = kivo::EarlyDecode{
            first, box, kivo::startFirstLevel(launchPool, first, box, {}, [] { return true; })};
    }
    kivo::installTranslations(app);

    kivo::KivoApplication kivo(settings);
    quitOnTerminationSignals(kivo);
    kivo.start(line.files, attempt.listeningSocket, socketPath, early);
    early.reset(); // the window holds what it took over; the picture must not outlive it here
    return app.exec();
}
