// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private desktop session for end-to-end runs of the kivo executable: its own HOME, XDG
// folders and runtime folder, and either a real X server (Xvfb) with a window manager (openbox)
// or a headless Wayland compositor (weston). Windows are read back through the window manager.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSize>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>

namespace kivo::test {

struct SessionWindow {
    QString id;
    qint64 pid = 0;
    QSize size;
    QString title;
};

class DesktopSession {
public:
    enum class Kind { x11, wayland };

    // `screen` is the X server's screen size (the Wayland compositor chooses its own).
    explicit DesktopSession(Kind kind, QSize screen = QSize(1280, 1024)) {
        for (const char* folder : {"home", "config", "data", "cache", "runtime"})
            QDir(root_.path()).mkpath(folder);
        QFile::setPermissions(path("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env_ = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"})
            env_.remove(QString::fromLatin1(name));
        env_.insert("HOME", path("home"));
        env_.insert("XDG_CONFIG_HOME", path("config"));
        env_.insert("XDG_DATA_HOME", path("data"));
        env_.insert("XDG_CACHE_HOME", path("cache"));
        env_.insert("XDG_RUNTIME_DIR", path("runtime"));
        kind == Kind::x11 ? startX11(screen) : startWayland();
    }
    ~DesktopSession() {
        processes_.clear(); // kivo ends before its display does
        for (auto it = servers_.rbegin(); it != servers_.rend(); ++it) {
            (*it)->terminate();
            (*it)->waitForFinished(3000);
        }
    }
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    static bool available(Kind kind) {
        const QStringList tools =
            kind == Kind::x11 ? QStringList{"Xvfb", "openbox", "wmctrl"} : QStringList{"weston"};
        for (const QString& tool : tools)
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return false;
        return true;
    }

    bool isReady() const { return ready_; }
    QString path(const QString& relative) const { return root_.filePath(relative); }
    // What the session's processes see (DISPLAY, the isolated folders); add to it before launch.
    QProcessEnvironment& environment() { return env_; }
    QString settingsFile() const { return path("config/Kivo/Kivo.conf"); }

    void setMultiWindowMode(bool on) {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        settings.setValue("multiWindowMode", on);
    }

    // Starts the kivo executable in this session; the process is the session's to end.
    QProcess* launch(const QStringList& arguments, const QString& workingFolder = {}) {
        auto* process = new QProcess;
        processes_.emplace_back(process);
        process->setProcessEnvironment(env_);
        process->setWorkingDirectory(workingFolder);
        process->start(QStringLiteral(KIVO_APP_PATH), arguments);
        process->waitForStarted();
        return process;
    }

    // Ends every kivo this session started (SIGTERM, as a session logout does).
    void endKivo() {
        for (auto& process : processes_) {
            process->terminate();
            process->waitForFinished(5000);
        }
        processes_.clear();
    }

    // Top-level windows in the order the window manager first mapped them.
    QList<SessionWindow> windows() const {
        static const QRegularExpression row(
            R"(^(0x[0-9a-f]+)\s+-?\d+\s+(\d+)\s+-?\d+\s+-?\d+\s+(\d+)\s+(\d+)\s+\S+\s(.*)$)");
        QList<SessionWindow> found;
        for (const QString& line : run("wmctrl", {"-lpG"}).split('\n')) {
            const auto match = row.match(line);
            if (match.hasMatch())
                found.append({match.captured(1), match.captured(2).toLongLong(),
                              QSize(match.captured(3).toInt(), match.captured(4).toInt()),
                              match.captured(5)});
        }
        return found;
    }

    QStringList titles() const {
        QStringList result;
        for (const auto& window : windows())
            result << window.title;
        return result;
    }

    QString run(const QString& program, const QStringList& arguments) const {
        QProcess process;
        process.setProcessEnvironment(env_);
        process.start(program, arguments);
        process.waitForFinished(5000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QThread::msleep(20);
        }
        return true;
    }

    QString socketPath() const {
        const QString display = env_.value("WAYLAND_DISPLAY", env_.value("DISPLAY"));
        return path("runtime/org.kivo.Kivo.") + QString(display).replace(':', '_');
    }

private:
    QProcess* startServer(const QString& program, const QStringList& arguments) {
        auto* process = new QProcess;
        servers_.emplace_back(process);
        process->setProcessEnvironment(env_);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        return process;
    }

    void startX11(QSize screen) {
        // Another test's X server may take a display number between the look and the start: a
        // server that exits at once lost that race, and the next free number is tried.
        int display = 100 + static_cast<int>(QCoreApplication::applicationPid() % 400);
        const auto taken = [](int number) {
            return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
                   QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number));
        };
        for (int attempt = 0; attempt < 5 && !env_.contains("DISPLAY"); ++attempt, ++display) {
            while (taken(display))
                ++display;
            QProcess* server = startServer(
                "Xvfb", {QStringLiteral(":%1").arg(display), "-screen", "0",
                         QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                         "-nolisten", "tcp"});
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
            waitUntil([&] { return QFile::exists(socket) || server->waitForFinished(0); }, 30000);
            if (server->state() != QProcess::NotRunning && QFile::exists(socket))
                env_.insert("DISPLAY", QStringLiteral(":%1").arg(display));
        }
        if (!env_.contains("DISPLAY"))
            return;
        env_.insert("QT_QPA_PLATFORM", "xcb");
        // Now and then openbox comes up without taking the screen over (wmctrl finds no window
        // manager on it for good): one that has not answered within a few seconds, or has left,
        // is replaced.
        QProcess* manager = startServer("openbox", {});
        QElapsedTimer managerAge;
        managerAge.start();
        ready_ = waitUntil(
            [&] {
                if (manager->state() == QProcess::NotRunning || managerAge.elapsed() > 8000) {
                    qWarning("openbox did not take the screen over; starting it again");
                    manager->kill();
                    manager->waitForFinished(3000);
                    manager = startServer("openbox", {});
                    managerAge.restart();
                }
                return !run("wmctrl", {"-m"}).isEmpty();
            },
            40000);
    }

    void startWayland() {
        const QString socket = QStringLiteral("wayland-kivo-test");
        startServer("weston",
                    {"--backend=headless-backend.so", "--socket=" + socket, "--idle-time=0"});
        ready_ = waitUntil([&] { return QFile::exists(path("runtime/") + socket); });
        env_.insert("WAYLAND_DISPLAY", socket);
    }

    QTemporaryDir root_;
    QProcessEnvironment env_;
    bool ready_ = false;
    std::vector<std::unique_ptr<QProcess>> servers_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

} // namespace kivo::test
