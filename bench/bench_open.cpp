// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and stepping in the kivo executable itself, in a real X server (Xvfb) with a window
// manager (openbox), its own HOME and XDG folders, and a 1600 x 1000 window in fit mode:
//  - cold open: start of `kivo FILE` to the first painted picture, for a 24 MP JPEG (one of a
//    folder of six, so its neighbours preload meanwhile as they do for a user; and the same
//    file alone in a folder), a 24 MP PNG and a 12 MP HEIC, each above the same figure for a
//    64 x 48 PNG (the start-up floor) and next to `djpeg -scale 1/4` of the JPEG (the floor of
//    a screen-sized decode) and a full `djpeg`;
//  - step: Right key press (XTest) to the next picture painted (not the old one's repaint for
//    the cross-fade), the neighbour given 1 s to preload, next to a 60 Hz frame;
//  - hand-off: start of a second `kivo FILE` (the Qt-free launcher) to the running viewer's
//    paint of that file, in one window, next to a cold start on the same small picture, and the
//    launcher's own start to exit;
//  - memory: VmHWM after opening a JPEG and stepping five times, then VmHWM and VmRSS after
//    Actual Size, next to the 200 MB goal and to an idle viewer showing the 64 x 48 PNG;
//  - against feh (imlib2), 1600 x 1000 windows both: a 24 MP PNG, a 24 MP HEIC (one coded
//    image), the corpus's iPhone HEIC (a grid with a thumbnail item; left out without the
//    corpus) and a 24 MP JPEG, each timed from the start of the process to the first paint of
//    the picture (for kivo also to the level that fills the window) and its VmHWM then, next to
//    the reference decoder alone (`vips avg`, `djpeg`). feh logs no paints, so its first one is
//    read from the X server (windowpaint.h); kivo is timed that way too in the same runs, so
//    the two methods can be compared.
// Paints are read from kivo's own log: with kivo.timing enabled the canvas prints the
// CLOCK_MONOTONIC time at the end of every paint of a picture (before the frame reaches the X
// server), compared here with the same clock taken just before the process starts and just
// before the key press is sent. Medians are printed with the fastest run and the machine's
// load: on a busy machine the figures are noisy.
//
//   build/release/bench/bench_open [runs=5]
#include "../tests/imaging/heifwriter.h"
#include "app/desktopsession.h"
#include "imaging/decode.h"
#include "kivorun.h"
#include "syntheticphoto.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

// Xlib's macros (None, Bool, KeyPress...) must come after every Qt header.
#include "windowpaint.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using kivo::test::DesktopSession;
using namespace kivo::bench;

namespace {

constexpr QSize kWindow(1600, 1000);
constexpr double kFrameMs = 1000.0 / 60.0;
constexpr double kMemoryGoalMb = 200.0;

volatile std::sig_atomic_t interrupted = 0; // see interrupt()

// The least disturbed run, beside the median on a busy machine.
QString fastest(const std::vector<double>& values) {
    return values.empty() ? QString()
                          : QString::asprintf(" (fastest %.1f)",
                                              *std::min_element(values.begin(), values.end()));
}

void progress(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Key presses through the XTest extension, delivered to the focused window as a real
// keyboard's are; the time is taken just before the request leaves for the server.
class Keyboard {
public:
    explicit Keyboard(const QString& display)
        : display_(XOpenDisplay(display.toLocal8Bit().constData())) {
        int event = 0, error = 0, major = 0, minor = 0;
        if (display_ && !XTestQueryExtension(display_, &event, &error, &major, &minor)) {
            XCloseDisplay(display_);
            display_ = nullptr;
        }
    }
    ~Keyboard() {
        if (display_)
            XCloseDisplay(display_);
    }
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    bool isReady() const { return display_ != nullptr; }

    qint64 press(KeySym key, KeySym modifier = NoSymbol) {
        const KeyCode code = XKeysymToKeycode(display_, key);
        const KeyCode held = modifier == NoSymbol ? 0 : XKeysymToKeycode(display_, modifier);
        if (held)
            XTestFakeKeyEvent(display_, held, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        const qint64 sent = monotonicUs();
        XFlush(display_);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        if (held)
            XTestFakeKeyEvent(display_, held, False, CurrentTime);
        XFlush(display_);
        return sent;
    }

private:
    Display* display_;
};

class Bench {
public:
    explicit Bench(DesktopSession& session)
        : session_(session) {
        session_.environment().insert("QT_LOGGING_RULES", "kivo.timing.info=true");
        session_.environment().insert("QT_MESSAGE_PATTERN", "%{category}: %{message}");
    }

    // Starts `kivo file` in a fit-mode window of kWindow's size.
    KivoRun launch(const QString& file) {
        {
            QSettings settings(session_.settingsFile(), QSettings::IniFormat);
            settings.setValue("lastWindowWidth", kWindow.width());
            settings.setValue("lastWindowHeight", kWindow.height());
            settings.setValue("displayMode", "fitToWindow");
        }
        const qint64 started = monotonicUs();
        return KivoRun(session_.launch({file}), started);
    }

    void end() {
        session_.endKivo();
        DesktopSession::waitUntil([&] { return session_.titles().isEmpty(); });
    }

    // Milliseconds from the start of `kivo file` to its first painted picture.
    double coldOpen(const QString& file) {
        KivoRun run = launch(file);
        const auto first = run.waitForPaint([](const Paint&) { return true; });
        end();
        return first ? double(first->us - run.startedUs()) / 1000.0 : kMissing;
    }

    // Gives the window of `run` the keyboard focus; its size, as the window manager reports it.
    QSize focus(const KivoRun& run) {
        for (const auto& window : session_.windows())
            if (window.pid == run.pid()) {
                session_.run("wmctrl", {"-i", "-a", window.id});
                return window.size;
            }
        return {};
    }

private:
    DesktopSession& session_;
};

bool writeImage(const QImage& image, const QString& path, int quality = -1) {
    QDir().mkpath(QFileInfo(path).path());
    QImageWriter writer(path);
    writer.setQuality(quality);
    return writer.write(image);
}

struct Fixtures {
    QStringList jpegs;  // a folder of six, the first one opened
    QString lonelyJpeg; // the first one again, alone in its folder: no neighbours to preload
    QString png, heic, floorPng;
    QString iphone; // the corpus's, when it is there
};

// Real encoders' files of photo-like pictures, each in a folder of its own but the JPEGs.
std::optional<Fixtures> writeFixtures(const DesktopSession& session, QTextStream& out) {
    Fixtures f;
    bool written = true;
    for (int i = 1; i <= 6; ++i) {
        f.jpegs << session.path(QStringLiteral("jpegs/photo-%1.jpg").arg(i));
        written &= writeImage(kivo::bench::syntheticPhoto(i), f.jpegs.back(), 90);
    }
    f.lonelyJpeg = session.path("lonely/photo.jpg");
    written &= QDir().mkpath(session.path("lonely")) && QFile::copy(f.jpegs[0], f.lonelyJpeg);
    f.png = session.path("png/photo.png");
    written &= writeImage(kivo::bench::syntheticPhoto(7), f.png);
    f.floorPng = session.path("floor/tiny.png");
    written &= writeImage(kivo::bench::syntheticPhoto(8, QSize(64, 48)), f.floorPng);
    if (!written)
        return std::nullopt;
    f.heic = session.path("heic/photo.heic");
    QDir().mkpath(QFileInfo(f.heic).path());
    kivo::test::HeifFixture heif;
    heif.hevcPreset = "ultrafast";
    if (!kivo::test::writeHeif(kivo::bench::syntheticPhoto(9), f.heic, heif)) {
        out << "no HEVC encoder in libheif: the HEIC row is skipped\n";
        f.heic.clear();
    }
    // Copied alone into a folder, as the other pictures timed against feh are: its neighbours
    // in the corpus would preload meanwhile, which feh never does.
    for (const char* name : {"mobile/iphone_13_pro_max.HEIC", "IMG_5195.HEIC"}) {
        const QString path =
            QStringLiteral("/work/shared/corpus/exif-samples/heic/") + QLatin1String(name);
        const QString copy = session.path("iphone/") + QFileInfo(path).fileName();
        if (f.iphone.isEmpty() && QDir().mkpath(session.path("iphone")) && QFile::copy(path, copy))
            f.iphone = copy;
    }
    if (f.iphone.isEmpty())
        out << "no iPhone HEIC in /work/shared/corpus: its row is skipped\n";
    return f;
}

struct ColdOpen {
    QString label, file;
    std::vector<double> times;
};

// Cold opens, the files taking turns so a busy moment of the machine hits them alike. One
// untimed start of each comes first: the executable, its libraries and the file in the page
// cache and the per-user caches written, as for a user's second start of the day.
std::vector<ColdOpen> measureColdOpens(Bench& bench, const Fixtures& f, int runs) {
    std::vector<ColdOpen> rows = {{"64x48 PNG (floor)", f.floorPng, {}},
                                  {"24 MP JPEG", f.jpegs[0], {}},
                                  {"24 MP JPEG, no neighbours", f.lonelyJpeg, {}},
                                  {"24 MP PNG", f.png, {}}};
    if (!f.heic.isEmpty())
        rows.push_back({"24 MP HEIC", f.heic, {}});
    for (ColdOpen& row : rows)
        row.label += QString::asprintf(", %.1f MB", double(QFileInfo(row.file).size()) / 1e6)
                         .replace(", 0.0 MB", "");
    for (const ColdOpen& row : rows)
        bench.coldOpen(row.file);
    for (int run = 0; run < runs && !interrupted; ++run)
        for (ColdOpen& row : rows) {
            progress(QStringLiteral("cold open %1, run %2...").arg(row.label).arg(run + 1));
            if (const double time = bench.coldOpen(row.file); !std::isnan(time))
                row.times.push_back(time);
        }
    return rows;
}

struct Stepping {
    QSize window;
    std::vector<double> steps;
    std::optional<Memory> fit, actualSize;
    double fullLevelMs = kMissing; // Ctrl+0 to the full-resolution picture painted
};

// Opens the first JPEG, steps five times 1 s apart (the neighbour has time to preload), then
// asks for Actual Size.
Stepping measureStepping(Bench& bench, Keyboard& keyboard, const Fixtures& f) {
    Stepping result;
    KivoRun run = bench.launch(f.jpegs[0]);
    if (run.waitForPaint([](const Paint&) { return true; })) {
        result.window = bench.focus(run);
        run.pause(1000);
        QString shown = run.paints().back().image;
        for (int step = 0; step < 5 && !interrupted; ++step) {
            const qint64 sent = keyboard.press(XK_Right);
            const auto next = run.waitForPaint(
                [&](const Paint& p) { return p.us >= sent && p.image != shown; }, 10000);
            if (!next)
                break;
            result.steps.push_back(double(next->us - sent) / 1000.0);
            shown = next->image;
            run.pause(1000);
        }
        run.pause(1000);
        result.fit = memoryOf(run.pid());
        if (!interrupted) {
            const qint64 sent = keyboard.press(XK_0, XK_Control_L);
            const auto full = run.waitForPaint(
                [&](const Paint& p) { return p.us >= sent && p.bitmap == QSize(6000, 4000); },
                10000);
            if (full)
                result.fullLevelMs = double(full->us - sent) / 1000.0;
            run.pause(2000);
            result.actualSize = memoryOf(run.pid());
        }
    }
    bench.end();
    return result;
}

// An idle viewer's memory: the 64 x 48 PNG shown for a second.
std::optional<Memory> measureIdleMemory(Bench& bench, const Fixtures& f) {
    std::optional<Memory> memory;
    KivoRun run = bench.launch(f.floorPng);
    if (run.waitForPaint([](const Paint&) { return true; })) {
        run.pause(1000);
        memory = memoryOf(run.pid());
    }
    bench.end();
    return memory;
}

QString ms(double value) {
    return std::isnan(value) ? QStringLiteral("     n/a") : QString::asprintf("%7.1f ms", value);
}

void reportColdOpens(QTextStream& out, const std::vector<ColdOpen>& rows, double quarter,
                     const Fixtures& f, int runs) {
    out << "\ncold open, start to first painted picture (median of " << runs << ")\n";
    const double floorMs = median(rows[0].times);
    for (const ColdOpen& row : rows) {
        const double time = median(row.times);
        out << "  " << row.label.leftJustified(36) << ms(time) << fastest(row.times);
        const double ratio = (time - floorMs) / quarter;
        if (!std::isnan(ratio) && row.file != f.floorPng)
            out << QString::asprintf("   (file - floor) / djpeg 1/4 = %.2f", ratio)
                << (row.file == f.jpegs[0] ? " (goal: 1.25)" : "");
        if (row.times.size() < std::size_t(runs))
            out << "   (" << runs - int(row.times.size()) << " runs painted nothing in 30 s)";
        out << "\n";
    }
}

void reportStepping(QTextStream& out, const Stepping& s, const std::optional<Memory>& idle) {
    out << "\nstep to the preloaded neighbour, key press to the next picture painted\n";
    const double step = median(s.steps);
    if (!s.steps.empty())
        out << "  " << QStringLiteral("median of %1 steps").arg(s.steps.size()).leftJustified(36)
            << ms(step) << fastest(s.steps)
            << QString::asprintf("   / 60 Hz frame = %.2f (goal: 1.5)", step / kFrameMs) << "\n";
    else
        out << "  no step painted a new picture\n";

    out << "\nmemory\n";
    if (idle)
        out << "  " << QStringLiteral("idle viewer, 64x48 PNG: VmHWM").leftJustified(36)
            << QString::asprintf("%7.1f MB\n", idle->hwmMb);
    const auto row = [&](const QString& label, double mb) {
        out << "  " << label.leftJustified(36) << QString::asprintf("%7.1f MB", mb)
            << QString::asprintf("   / 200 MB goal = %.2f", mb / kMemoryGoalMb);
        if (idle && idle->hwmMb > 0)
            out << QString::asprintf("   / idle viewer = %.2f", mb / idle->hwmMb);
        out << "\n";
    };
    if (s.fit)
        row("open + 5 steps, fit: VmHWM", s.fit->hwmMb);
    if (s.actualSize) {
        row("then Actual Size: VmHWM", s.actualSize->hwmMb);
        row("then Actual Size: VmRSS", s.actualSize->rssMb);
        out << "  full-resolution picture painted " << ms(s.fullLevelMs) << " after Ctrl+0\n";
    }
}

struct HandOff {
    std::vector<double> cold, shown, exited;
};

// Small pictures, so the start-up and the hand-over are what is timed, not a decode. The running
// viewer shows one window (single-window mode) and the pictures take turns in it.
HandOff measureHandOff(Bench& bench, DesktopSession& session, int runs) {
    HandOff times;
    const QStringList files{session.path("handoff/one.png"), session.path("handoff/two.png")};
    QDir().mkpath(session.path("handoff"));
    for (int i = 0; i < 2; ++i)
        if (!writeImage(kivo::bench::syntheticPhoto(10 + i, QSize(64, 48)), files[i]))
            return times;
    session.setMultiWindowMode(false);
    bench.coldOpen(files[0]); // untimed: caches warm, as for the other rows
    for (int run = 0; run < runs && !interrupted; ++run) {
        progress(QStringLiteral("hand-off, run %1...").arg(run + 1));
        if (const double cold = bench.coldOpen(files[0]); !std::isnan(cold))
            times.cold.push_back(cold);
        KivoRun viewer = bench.launch(files[0]);
        auto shown = viewer.waitForPaint([](const Paint&) { return true; });
        for (int handOff = 1; shown && handOff <= 3; ++handOff) {
            viewer.pause(300); // the folder listed and the neighbour preloaded: an idle viewer
            const qint64 started = monotonicUs();
            QProcess* launcher = session.launch({files[handOff % 2]});
            launcher->waitForFinished(kPaintTimeoutMs);
            times.exited.push_back(double(monotonicUs() - started) / 1000.0);
            const QString before = shown->image;
            shown = viewer.waitForPaint(
                [&](const Paint& paint) { return paint.us > started && paint.image != before; });
            if (shown)
                times.shown.push_back(double(shown->us - started) / 1000.0);
        }
        bench.end();
    }
    return times;
}

void reportHandOff(QTextStream& out, const HandOff& h) {
    if (h.cold.empty() || h.shown.empty())
        return;
    const double cold = median(h.cold);
    out << "\nsecond file, 64x48 PNG, handed to the running viewer by `kivo FILE` (median of "
        << h.shown.size() << ")\n";
    out << "  cold start until painted (reference)  " << ms(cold) << fastest(h.cold) << "\n";
    out << "  hand-off until painted                " << ms(median(h.shown)) << fastest(h.shown)
        << QString::asprintf("  = %.2f x cold start (goal: 0.3)\n", median(h.shown) / cold);
    out << "  launcher start to exit                " << ms(median(h.exited)) << fastest(h.exited)
        << "\n";
}

// One picture opened by kivo and by feh in turn, and decoded by the reference decoder alone.
struct ViewerRow {
    ViewerRow(QString name, QString path, QString decoder)
        : label(std::move(name))
        , file(std::move(path))
        , reference(std::move(decoder)) {}
    QString label, file;
    QString reference; // the reference decoder's command line
    std::vector<double> kivoFirst, kivoFull, kivoOnScreen, feh;
    std::vector<double> kivoHwm, fehHwm;
    double referenceMs = kMissing;
};

// A level that fills the 1600 x 1000 window has a long side near 1000 or more; the embedded
// thumbnails shown before it are a fraction of that.
bool fillsWindow(const Paint& paint) {
    return std::max(paint.bitmap.width(), paint.bitmap.height()) >= 900;
}

void openInKivo(Bench& bench, kivo::bench::WindowPaint& screen, ViewerRow& row) {
    KivoRun run = bench.launch(row.file);
    const auto onScreen = screen.firstPicture(run.pid(), kPaintTimeoutMs);
    const auto first = run.waitForPaint([](const Paint&) { return true; });
    const auto full = run.waitForPaint(fillsWindow);
    if (onScreen && first && full) {
        row.kivoOnScreen.push_back(double(*onScreen - run.startedUs()) / 1000.0);
        row.kivoFirst.push_back(double(first->us - run.startedUs()) / 1000.0);
        row.kivoFull.push_back(double(full->us - run.startedUs()) / 1000.0);
        run.pause(300);
        row.kivoHwm.push_back(memoryOf(run.pid()).hwmMb);
    }
    bench.end();
}

void openInFeh(DesktopSession& session, kivo::bench::WindowPaint& screen, ViewerRow& row) {
    QProcess feh;
    feh.setProcessEnvironment(session.environment());
    const qint64 started = monotonicUs();
    feh.start("feh",
              {"--geometry", QStringLiteral("%1x%2").arg(kWindow.width()).arg(kWindow.height()),
               "--scale-down", "--auto-zoom", row.file});
    if (!feh.waitForStarted())
        return;
    if (const auto shown = screen.firstPicture(feh.processId(), kPaintTimeoutMs)) {
        row.feh.push_back(double(*shown - started) / 1000.0);
        usleep(300 * 1000);
        row.fehHwm.push_back(memoryOf(feh.processId()).hwmMb);
    }
    feh.terminate();
    if (!feh.waitForFinished(5000))
        feh.kill();
}

std::vector<ViewerRow> measureAgainstFeh(Bench& bench, DesktopSession& session, const Fixtures& f,
                                         int runs) {
    std::vector<ViewerRow> rows = {{"24 MP PNG", f.png, "vips avg"}};
    if (!f.heic.isEmpty())
        rows.push_back({"24 MP HEIC, one coded image", f.heic, "vips avg"});
    if (!f.iphone.isEmpty())
        rows.push_back({"iPhone HEIC (grid, thumbnail)", f.iphone, "vips avg"});
    rows.push_back({"24 MP JPEG", f.lonelyJpeg, "djpeg"});
    kivo::bench::WindowPaint screen(session.environment().value("DISPLAY").toLocal8Bit());
    for (ViewerRow& row : rows) {
        const QStringList arguments = row.reference == "djpeg"
                                          ? QStringList{"-outfile", "/dev/null", row.file}
                                          : QStringList{"avg", row.file};
        row.referenceMs = commandMs(row.reference.section(' ', 0, 0), arguments, runs);
    }
    for (int run = 0; run < runs && !interrupted; ++run)
        for (ViewerRow& row : rows) {
            progress(QStringLiteral("kivo and feh on %1, run %2...").arg(row.label).arg(run + 1));
            openInKivo(bench, screen, row);
            openInFeh(session, screen, row);
        }
    return rows;
}

void reportAgainstFeh(QTextStream& out, const std::vector<ViewerRow>& rows, int runs) {
    out << "\nagainst feh, " << kWindow.width() << " x " << kWindow.height()
        << " windows, start to the picture (median of " << runs
        << "; \"on screen\" read from the X server, the others from kivo's log)\n";
    const auto ratio = [](double a, double b) {
        return std::isnan(a) || std::isnan(b) || b <= 0 ? QStringLiteral(" n/a")
                                                        : QString::asprintf("%4.2f", a / b);
    };
    for (const ViewerRow& row : rows) {
        const double first = median(row.kivoFirst), full = median(row.kivoFull);
        const double onScreen = median(row.kivoOnScreen), feh = median(row.feh);
        out << "  " << row.label << "\n";
        out << "    kivo first paint " << ms(first) << ", on screen " << ms(onScreen)
            << ", fills the window " << ms(full) << "\n";
        out << "    feh on screen    " << ms(feh) << ", " << row.reference << " alone "
            << ms(row.referenceMs) << "\n";
        out << "    first / feh (both on screen) " << ratio(onScreen, feh) << ", first / feh "
            << ratio(first, feh) << ", full / feh " << ratio(full, feh) << ", full / "
            << row.reference << " " << ratio(full, row.referenceMs) << "\n";
        out << "    VmHWM kivo " << QString::asprintf("%.1f MB", median(row.kivoHwm)) << ", feh "
            << QString::asprintf("%.1f MB", median(row.fehHwm)) << ", kivo / feh "
            << ratio(median(row.kivoHwm), median(row.fehHwm)) << "\n";
    }
}

// Interrupted, the harness ends its X server, window manager and kivo (they share its process
// group when it leads one, as it does started from a shell), then stops at the next check and
// removes its temporary folder on the way out. A second interruption ends it at once.
void interrupt(int signal) {
    if (interrupted) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    interrupted = 1;
    std::signal(SIGTERM, SIG_IGN);
    kill(0, SIGTERM);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    if (!DesktopSession::available(DesktopSession::Kind::x11)) {
        out << "bench_open: skipped, Xvfb, openbox and wmctrl are needed\n";
        return 0;
    }
    if (getpgrp() == getpid())
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, interrupt);
    DesktopSession session(DesktopSession::Kind::x11, QSize(1920, 1200)); // room for the frame
    Keyboard keyboard(session.environment().value("DISPLAY"));
    if (!session.isReady() || !keyboard.isReady()) {
        out << "bench_open: skipped, the X server (with XTest) or the window manager did not "
               "start\n";
        return 0;
    }
    Bench bench(session);
    const QString loadBefore = session.run("uptime", {}).trimmed();

    progress("writing the fixtures...");
    const auto fixtures = writeFixtures(session, out);
    if (!fixtures) {
        out << "bench_open: the fixtures could not be written\n";
        return 1;
    }
    progress("timing djpeg...");
    if (QStandardPaths::findExecutable("djpeg").isEmpty())
        out << "djpeg is missing (libjpeg-turbo-progs): the JPEG ratios are skipped\n";
    const QString jpeg = fixtures->jpegs[0];
    const double quarter =
        commandMs("djpeg", {"-scale", "1/4", "-outfile", "/dev/null", jpeg}, runs);
    const double full = commandMs("djpeg", {"-outfile", "/dev/null", jpeg}, runs);
    const auto coldOpens = measureColdOpens(bench, *fixtures, runs);
    if (interrupted)
        return 1;
    progress("stepping...");
    const Stepping stepping = measureStepping(bench, keyboard, *fixtures);
    if (interrupted)
        return 1;
    const auto idle = measureIdleMemory(bench, *fixtures);
    if (interrupted)
        return 1;
    std::vector<ViewerRow> viewers;
    if (QStandardPaths::findExecutable("feh").isEmpty() ||
        QStandardPaths::findExecutable("vips").isEmpty())
        out << "feh or vips is missing (scripts/setup): the rows against feh are skipped\n";
    else
        viewers = measureAgainstFeh(bench, session, *fixtures, runs);
    const HandOff handOff = measureHandOff(bench, session, runs); // last: it sets single-window
    if (interrupted)
        return 1;

    out << "machine before: " << loadBefore
        << "\nmachine after:  " << session.run("uptime", {}).trimmed() << "\n";
    if (stepping.window.isValid())
        out << "kivo window: " << stepping.window.width() << " x " << stepping.window.height()
            << " (fit to window)\n";
    out << "\nreferences (median of " << runs << ")\n";
    out << "  djpeg -scale 1/4 of the 24 MP JPEG  " << ms(quarter) << "\n";
    out << "  djpeg of the 24 MP JPEG             " << ms(full) << "\n";
    out << "  60 Hz frame                         " << ms(kFrameMs) << "\n";
    reportColdOpens(out, coldOpens, quarter, *fixtures, runs);
    reportStepping(out, stepping, idle);
    if (!viewers.empty())
        reportAgainstFeh(out, viewers, runs);
    reportHandOff(out, handOff);
    return 0;
}
