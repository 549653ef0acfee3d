// SPDX-License-Identifier: GPL-3.0-or-later
// The gigapixel pictures of bench_huge, this time in the kivo executable on a private X server
// (Xvfb + openbox, a 1600 x 1000 window in fit mode), as a user meets them:
//  - fit shown: process start to the first painted picture, against `vipsthumbnail -s 1600`;
//  - Actual Size sharp: Ctrl+0 (XTest) to the first paint after which every tile the view wants
//    at level 0 is in the cache (the kivo.canvas.tiles log), against `vips crop` of the centre;
//  - a pan of one screen: two mouse drags of 800 pixels; the longest gap between paints while
//    the hand moves (a decode on the GUI thread would show as one), then release to sharp;
//  - the viewer's peak RSS (VmHWM) at the end.
// Every figure comes from one run of each program, references in the same run.
//
//   build/release/bench/bench_hugeview [folder to keep the files in]
#include "app/desktopsession.h"
#include "hugepictures.h"
#include "imaging/regions.h"
#include "kivorun.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cmath>

using kivo::test::DesktopSession;
using namespace kivo::bench;

namespace {

constexpr QSize kWindow(1600, 1000);
constexpr int kDragStep = 50;    // screen pixels per motion event
constexpr int kDragPauseMs = 16; // one frame at 60 Hz between motion events

// Keys and pointer through XTest, delivered as a real keyboard's and mouse's are; each time is
// taken just before the request leaves for the server.
class Input {
public:
    explicit Input(const QString& display)
        : display_(XOpenDisplay(display.toLocal8Bit().constData())) {
        int event = 0, error = 0, major = 0, minor = 0;
        if (display_ && !XTestQueryExtension(display_, &event, &error, &major, &minor)) {
            XCloseDisplay(display_);
            display_ = nullptr;
        }
    }
    ~Input() {
        if (display_)
            XCloseDisplay(display_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool isReady() const { return display_ != nullptr; }

    qint64 controlKey(KeySym key) {
        const KeyCode control = XKeysymToKeycode(display_, XK_Control_L);
        const KeyCode code = XKeysymToKeycode(display_, key);
        XTestFakeKeyEvent(display_, control, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        const qint64 sent = monotonicUs();
        XFlush(display_);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XTestFakeKeyEvent(display_, control, False, CurrentTime);
        XFlush(display_);
        return sent;
    }

    qint64 moveTo(QPoint at) {
        XTestFakeMotionEvent(display_, -1, at.x(), at.y(), CurrentTime);
        const qint64 sent = monotonicUs();
        XFlush(display_);
        return sent;
    }

    void button(bool down) {
        XTestFakeButtonEvent(display_, 1, down ? True : False, CurrentTime);
        XFlush(display_);
    }

private:
    Display* display_;
};

// The top-left corner of the window of `pid` on the screen, as wmctrl reports it.
std::optional<QPoint> windowPosition(const DesktopSession& session, qint64 pid) {
    static const QRegularExpression row(R"(^0x[0-9a-f]+\s+-?\d+\s+(\d+)\s+(-?\d+)\s+(-?\d+)\s)");
    for (const QString& line : session.run("wmctrl", {"-lpG"}).split('\n')) {
        const auto match = row.match(line);
        if (match.hasMatch() && match.captured(1).toLongLong() == pid)
            return QPoint(match.captured(2).toInt(), match.captured(3).toInt());
    }
    return std::nullopt;
}

struct Figures {
    double fitMs = kMissing;
    double actualSizeMs = kMissing;
    double panLongestGapMs = kMissing;
    int panPaints = 0;
    double panSharpMs = kMissing;
    double peakMb = kMissing;
};

double msBetween(qint64 fromUs, qint64 toUs) {
    return double(toUs - fromUs) / 1000.0;
}

Figures measureKivo(DesktopSession& session, Input& input, const QString& file) {
    {
        QSettings settings(session.settingsFile(), QSettings::IniFormat);
        settings.setValue("lastWindowWidth", kWindow.width());
        settings.setValue("lastWindowHeight", kWindow.height());
        settings.setValue("displayMode", "fitToWindow");
    }
    Figures figures;
    KivoRun run(session.launch({file}), monotonicUs());
    const auto sharpAt0 = [](qint64 after) {
        return [after](const Paint& p) { return p.us >= after && p.sharpLevel == 0; };
    };
    if (const auto first = run.waitForPaint([](const Paint&) { return true; })) {
        figures.fitMs = msBetween(run.startedUs(), first->us);
        run.pause(1000);
        const auto position = windowPosition(session, run.pid());
        for (const auto& window : session.windows())
            if (window.pid == run.pid())
                session.run("wmctrl", {"-i", "-a", window.id});
        run.pause(300);

        const qint64 pressed = input.controlKey(XK_0);
        if (const auto sharp = run.waitForPaint(sharpAt0(pressed)))
            figures.actualSizeMs = msBetween(pressed, sharp->us);
        run.pause(500);

        if (position) {
            // The picture follows the hand leftwards: the view moves one screen to the right.
            const QPoint from = *position + QPoint(kWindow.width() * 3 / 4, kWindow.height() / 2);
            qint64 firstMove = 0, lastMove = 0;
            for (int stroke = 0; stroke < 2; ++stroke) {
                input.moveTo(from);
                run.pause(kDragPauseMs);
                input.button(true);
                for (int moved = kDragStep; moved <= kWindow.width() / 2; moved += kDragStep) {
                    lastMove = input.moveTo(from - QPoint(moved, 0));
                    if (!firstMove)
                        firstMove = lastMove;
                    run.pause(kDragPauseMs);
                }
                input.button(false);
            }
            qint64 previous = firstMove;
            double longest = 0;
            for (const Paint& paint : run.paints()) {
                if (paint.us < firstMove || paint.us > lastMove)
                    continue;
                longest = std::max(longest, msBetween(previous, paint.us));
                previous = paint.us;
                ++figures.panPaints;
            }
            figures.panLongestGapMs = std::max(longest, msBetween(previous, lastMove));
            if (const auto sharp = run.waitForPaint(sharpAt0(lastMove)))
                figures.panSharpMs = msBetween(lastMove, sharp->us);
        }
        run.pause(300);
        figures.peakMb = memoryOf(run.pid()).hwmMb;
    }
    session.endKivo();
    DesktopSession::waitUntil([&] { return session.titles().isEmpty(); });
    return figures;
}

QString ms(double value) {
    return std::isnan(value) ? QStringLiteral("n/a") : QString::asprintf("%.0f ms", value);
}

QString verdict(bool met) {
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (!DesktopSession::available(DesktopSession::Kind::x11)) {
        out << "bench_hugeview: skipped, Xvfb, openbox and wmctrl are needed\n";
        return 0;
    }
    DesktopSession session(DesktopSession::Kind::x11, QSize(1920, 1200)); // room for the frame
    Input input(session.environment().value("DISPLAY"));
    if (!session.isReady() || !input.isReady()) {
        out << "bench_hugeview: skipped, the X server (with XTest) or the window manager did not "
               "start\n";
        return 0;
    }
    session.environment().insert("QT_LOGGING_RULES",
                                 "kivo.timing.info=true;kivo.canvas.tiles.debug=true");
    session.environment().insert("QT_MESSAGE_PATTERN", "%{category}: %{message}");

    QTemporaryDir temporary;
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path());
    const QString thumbnail = dir.filePath(QStringLiteral("thumb.jpg"));
    const QString crop = dir.filePath(QStringLiteral("out.v"));
    for (const HugePicture& picture : hugePictures()) {
        const QString path = dir.filePath(QString::fromLatin1(picture.name));
        std::fprintf(stderr, "%s...\n", picture.name);
        if (!QFile::exists(path) && !picture.make(path)) {
            out << picture.name << ": cannot be made\n";
            continue;
        }
        const auto reader = kivo::openRegionReader(kivo::filePathFromText(path));
        const QSize size = reader && *reader ? (*reader)->size() : QSize();
        QRect centre(QPoint(0, 0), kWindow);
        centre.moveCenter(QPoint(size.width() / 2, size.height() / 2));

        const double thumbMs = commandMs(
            QStringLiteral("vipsthumbnail"),
            {path, QStringLiteral("-s"), QStringLiteral("1600"), QStringLiteral("-o"), thumbnail},
            1);
        const double cropMs =
            commandMs(QStringLiteral("vips"),
                      {QStringLiteral("crop"), path, crop, QString::number(centre.x()),
                       QString::number(centre.y()), QString::number(centre.width()),
                       QString::number(centre.height())},
                      1);
        const Figures f = measureKivo(session, input, path);

        const double fitGoal = 1.5 * thumbMs + 300;
        const bool jpeg = QString::fromLatin1(picture.name).endsWith(QLatin1String(".jpg"));
        out << picture.name << QString::asprintf(" (%dx%d)\n", size.width(), size.height());
        out << "  fit shown            " << ms(f.fitMs).rightJustified(9) << "   vipsthumbnail "
            << ms(thumbMs) << QString::asprintf(", ratio %.2f", f.fitMs / thumbMs)
            << ", goal <= 1.5x + 300 = " << ms(fitGoal) << ": " << verdict(f.fitMs <= fitGoal)
            << '\n';
        out << "  Actual Size sharp    " << ms(f.actualSizeMs).rightJustified(9) << "   vips crop "
            << ms(cropMs) << QString::asprintf(", ratio %.2f", f.actualSizeMs / cropMs)
            << (jpeg ? QStringLiteral(", goal <= 1500 ms: ") + verdict(f.actualSizeMs <= 1500)
                     : QString())
            << '\n';
        out << "  pan one screen       " << ms(f.panSharpMs).rightJustified(9)
            << "   release to sharp; " << f.panPaints << " paints while dragging, longest gap "
            << ms(f.panLongestGapMs) << '\n';
        out << "  peak RSS          " << QString::asprintf("%9.0f MB", f.peakMb)
            << "   goal <= 400 MB: " << verdict(f.peakMb <= 400) << '\n';
        out.flush();
    }
    QFile::remove(thumbnail);
    QFile::remove(crop);
    return 0;
}
