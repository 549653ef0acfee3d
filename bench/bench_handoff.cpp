// SPDX-License-Identifier: GPL-3.0-or-later
// Handing a file to the running Kivo: a second `kivo FILE` from start to exit, and from start
// until the running instance shows the file in a new window, next to a cold start of a first
// `kivo FILE` on the same photo until its window shows it, all in one private X session.

#include "app/desktopsession.h"

#include <QCoreApplication>
#include <QImage>
#include <QTextStream>
#include <algorithm>

using kivo::test::DesktopSession;

namespace {

constexpr int kRounds = 5;
constexpr int kHandoffsPerRound = 3;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds from `started` until a window titled `title` is mapped.
double msUntilShown(DesktopSession& session, const QString& title, const QElapsedTimer& started) {
    DesktopSession::waitUntil([&] { return session.titles().contains(title); }, 20000);
    return double(started.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (!DesktopSession::available(DesktopSession::Kind::x11)) {
        out << "bench_handoff: Xvfb, openbox and wmctrl are needed\n";
        return 1;
    }
    DesktopSession session(DesktopSession::Kind::x11);
    session.setMultiWindowMode(true);

    // A 12-megapixel photo-like JPEG (smooth gradients and fine detail).
    QImage photo(4000, 3000, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 255 / 4000, y * 255 / 3000, (x ^ y) & 0xff));
    const QString file = session.path("photo.jpg");
    photo.save(file, "JPEG", 90);
    const QString title = QStringLiteral("photo.jpg"); // alone in its folder: no [i/n]

    std::vector<double> cold, exits, shown, version;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        session.launch({file});
        cold.push_back(msUntilShown(session, title, timer));
        for (int handoff = 1; handoff <= kHandoffsPerRound; ++handoff) {
            timer.restart();
            QProcess* second = session.launch({file});
            second->waitForFinished(20000);
            exits.push_back(double(timer.nsecsElapsed()) / 1e6);
            DesktopSession::waitUntil([&] { return session.titles().count(title) == handoff + 1; },
                                      20000);
            shown.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        // The floor of any second process: starting and ending the executable alone.
        timer.restart();
        session.launch({"--version"})->waitForFinished(20000);
        version.push_back(double(timer.nsecsElapsed()) / 1e6);
        session.endKivo();
        DesktopSession::waitUntil([&] { return session.titles().isEmpty(); });
    }

    const double reference = median(cold);
    out << "cold start until shown (reference): " << reference << " ms (median of " << kRounds
        << ")\n";
    out << "hand-off start to exit: " << median(exits) << " ms = " << median(exits) / reference
        << " x cold start\n";
    out << "hand-off start until shown: " << median(shown) << " ms = " << median(shown) / reference
        << " x cold start\n";
    out << "kivo --version start to exit: " << median(version)
        << " ms = " << median(version) / reference << " x cold start\n";
    return 0;
}
