// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures too large to decode whole, read by region: a 30000x20000 JPEG with restart markers and
// one without, a 15000x20000 PNG and a tiled 40000x40000 pyramid TIFF, made here into a
// temporary folder. For each: the screen-sized level (against `vipsthumbnail -s 1600`), a
// 1600x1000 rectangle at 100 % in the centre and one a screen to its right (against `vips crop`
// of the same rectangle), and the peak RSS after each, every one in a process of its own.
//
//   build/release/bench/bench_huge [folder to keep the files in]
#include "hugepictures.h"
#include "imaging/decode.h"
#include "imaging/regions.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <functional>

using namespace kivo::bench;

namespace {

constexpr QSize kBox(1600, 1600);
constexpr QSize kScreen(1600, 1000);

qint64 peakRssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// In a process of its own, so that each picture's peak memory is its own: prints the three
// times in milliseconds, each followed by the peak RSS in KiB.
int measure(const QString& path) {
    QTextStream out(stdout);
    QElapsedTimer timer;
    timer.start();
    const auto level = kivo::decodeLevel(kivo::filePathFromText(path), kBox, false);
    if (!level || !(*level)->isTiled()) {
        out << "not tiled\n";
        return 1;
    }
    out << timer.nsecsElapsed() / 1e6 << ' ' << peakRssKb();
    const auto& reader = (*level)->regions();
    const QSize size = reader->size();
    QRect centre(QPoint(0, 0), kScreen);
    centre.moveCenter(QPoint(size.width() / 2, size.height() / 2));
    for (const QRect& rect : {centre, centre.translated(kScreen.width(), 0)}) {
        timer.restart();
        const auto tiles = reader->read({rect}, 0);
        out << ' ' << (tiles.front() ? timer.nsecsElapsed() / 1e6 : -1.0) << ' ' << peakRssKb();
    }
    out << '\n';
    return 0;
}

struct Run {
    double ms = -1;
    qint64 rssKb = 0;
};

// A process timed from start to exit, its peak RSS from /usr/bin/time.
Run timed(const QString& program, const QStringList& arguments) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{QStringLiteral("-f"), QStringLiteral("rss %M"), program} + arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return {};
    Run run{timer.nsecsElapsed() / 1e6, 0};
    const QByteArray err = process.readAllStandardError();
    const int at = err.lastIndexOf("rss ");
    if (at >= 0)
        run.rssKb = err.mid(at + 4).trimmed().toLongLong();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--measure")
        return measure(QString::fromLocal8Bit(argv[2]));
    QTextStream out(stdout);
    QTemporaryDir temporary;
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path());
    out << "picture        step          kivo ms  vips ms  ratio   kivo MB  vips MB\n";
    for (const HugePicture& picture : hugePictures()) {
        const QString path = dir.filePath(QString::fromLatin1(picture.name));
        if (!QFile::exists(path) && !picture.make(path)) {
            out << picture.name << ": cannot be made\n";
            continue;
        }
        QProcess self;
        self.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), path});
        self.waitForFinished(600000);
        const QList<QByteArray> figures = self.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 6) {
            out << picture.name << ": " << figures.join(' ') << '\n';
            continue;
        }
        const QSize size = [&] {
            const auto reader = kivo::openRegionReader(kivo::filePathFromText(path));
            return reader && *reader ? (*reader)->size() : QSize();
        }();
        QRect centre(QPoint(0, 0), kScreen);
        centre.moveCenter(QPoint(size.width() / 2, size.height() / 2));
        const QString scratch = dir.filePath(QStringLiteral("out.v"));
        const auto crop = [&](const QRect& r) {
            return timed(QStringLiteral("vips"),
                         {QStringLiteral("crop"), path, scratch, QString::number(r.x()),
                          QString::number(r.y()), QString::number(r.width()),
                          QString::number(r.height())});
        };
        const Run references[] = {
            timed(QStringLiteral("vipsthumbnail"),
                  {path, QStringLiteral("-s"), QStringLiteral("1600"), QStringLiteral("-o"),
                   dir.filePath(QStringLiteral("thumb.jpg"))}),
            crop(centre), crop(centre.translated(kScreen.width(), 0))};
        const char* steps[] = {"fit level", "centre 100%", "one screen right"};
        for (int i = 0; i < 3; ++i) {
            const double ms = figures[2 * i].toDouble();
            const double rssMb = figures[2 * i + 1].toDouble() / 1024;
            const Run& ref = references[i];
            out << QString::asprintf("%-14s %-13s %8.0f %8.0f %6.2f %9.0f %8.0f\n", picture.name,
                                     steps[i], ms, ref.ms, ref.ms > 0 ? ms / ref.ms : 0.0, rssMb,
                                     ref.rssKb / 1024.0);
        }
        out.flush();
    }
    QFile::remove(dir.filePath(QStringLiteral("out.v")));
    QFile::remove(dir.filePath(QStringLiteral("thumb.jpg")));
    return 0;
}
