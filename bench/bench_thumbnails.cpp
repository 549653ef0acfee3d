// SPDX-License-Identifier: GPL-3.0-or-later
// Thumbnails per second from a folder of 24-megapixel JPEGs through ThumbnailCache (decoding on
// the thread pool), against vipsthumbnail making 120-pixel thumbnails of the same files on the
// same cores in the same run; and the memory each decoding thread needs at its peak.
// Usage: bench_thumbnails [COUNT]   (COUNT files, default 16)

#include "imaging/filepath.h"
#include "imaging/tasks/workerpools.h"
#include "thumbnails/thumbnailcache.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThreadPool>
#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

// Resident memory now, from /proc: ru_maxrss would include the peak of start-up.
long residentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// Samples the resident size every millisecond while decoding runs and keeps the largest.
class PeakWatcher {
public:
    PeakWatcher()
        : thread_([this] {
            while (!stop_) {
                peak_ = std::max(peak_.load(), residentKb());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }) {}
    long finish() {
        stop_ = true;
        thread_.join();
        return std::max(peak_.load(), residentKb());
    }

private:
    std::atomic<bool> stop_ = false;
    std::atomic<long> peak_ = 0;
    std::thread thread_;
};

// Something a camera could have taken: smooth gradients, shapes and fine grain, so the JPEG has
// a realistic size and the decoder real work.
QImage photoLike() {
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 4000);
    sky.setColorAt(0, QColor(70, 120, 200));
    sky.setColorAt(1, QColor(230, 190, 140));
    painter.fillRect(image.rect(), sky);
    for (int i = 0; i < 300; ++i) {
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 120 + i % 100, 100 + i % 150));
        painter.drawEllipse(QPoint((i * 7919) % 6000, (i * 104729) % 4000), 40 + i % 300,
                            30 + i % 200);
    }
    painter.end();
    quint32 state = 7;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int grain = int(state >> 29) - 4;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + grain, 255), qBound(0, qGreen(p) + grain, 255),
                           qBound(0, qBlue(p) + grain, 255));
        }
    }
    return image;
}

// The measured part, run in a child process so that its peak memory is its own.
int decodeAll(const QStringList& files) {
    kivo::WorkerPools pools;
    kivo::ThumbnailCache cache(pools.thumbnails);
    QEventLoop loop;
    qsizetype pending = files.size();
    int made = 0;
    const long idleKb = residentKb();
    PeakWatcher watcher;
    QElapsedTimer timer;
    timer.start();
    for (const QString& file : files)
        cache.requestThumbnail(kivo::filePathFromText(file), &loop,
                               [&](std::optional<QImage> thumbnail) {
                                   made += thumbnail.has_value();
                                   if (--pending == 0)
                                       loop.quit();
                               });
    if (pending > 0)
        loop.exec();
    const qint64 elapsed = timer.nsecsElapsed();
    QTextStream(stdout) << made << ' ' << elapsed << ' ' << watcher.finish() - idleKb << '\n';
    return made == files.size() ? 0 : 1;
}

struct ChildRun {
    int made = 0;
    double seconds = 0;
    long peakKb = 0;
};

ChildRun runChild(const QStringList& files) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), QStringList{"--decode"} + files);
    child.waitForFinished(-1);
    const QStringList fields = QString::fromLatin1(child.readAllStandardOutput()).split(' ');
    if (fields.size() < 3)
        return {};
    return {fields[0].toInt(), fields[1].toDouble() / 1e9, fields[2].trimmed().toLong()};
}

// vipsthumbnail over the files: one process per core, each taking its share.
double runVips(const QStringList& files, int processes, const QString& outputDir) {
    QList<QProcess*> running;
    QElapsedTimer timer;
    timer.start();
    for (int p = 0; p < processes; ++p) {
        QStringList share;
        for (qsizetype i = p; i < files.size(); i += processes)
            share.append(files[i]);
        auto* process = new QProcess;
        process->start(QStringLiteral("vipsthumbnail"),
                       QStringList{"-s", "120", "-o", outputDir + "/%s.jpg"} + share);
        running.append(process);
    }
    bool ok = true;
    for (QProcess* process : running) {
        process->waitForFinished(-1);
        ok = ok && process->exitCode() == 0;
        delete process;
    }
    return ok ? double(timer.nsecsElapsed()) / 1e9 : -1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.front() == QLatin1String("--decode"))
        return decodeAll(args.mid(1));

    QTextStream out(stdout);
    const int count = args.isEmpty() ? 16 : std::max(1, args.front().toInt());
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("photo00.jpg"));
    QImageWriter writer(first, "jpeg");
    writer.setQuality(92);
    if (!writer.write(photoLike()))
        return 1;
    QStringList files{first};
    for (int i = 1; i < count; ++i) {
        files.append(dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'))));
        QFile::copy(first, files.back());
    }
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    out << count << " JPEGs of 6000 x 4000, " << QFileInfo(first).size() / 1000 << " kB each; "
        << threads << " decoding threads\n";

    runChild(files.mid(0, 2)); // warm the page cache and the libraries
    const ChildRun ours = runChild(files);
    if (ours.made != count) {
        out << "ThumbnailCache made only " << ours.made << " thumbnails\n";
        return 1;
    }
    const double perThreadMb = double(ours.peakKb) / 1024.0 / double(std::min(threads, count));
    out << QString::asprintf("ThumbnailCache  %7.1f thumbnails/s; memory %.1f MB per decoding "
                             "thread at the peak (%.0f MB above idle for %d threads)\n",
                             count / ours.seconds, perThreadMb, ours.peakKb / 1024.0,
                             std::min(threads, count));

    if (QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail")).isEmpty()) {
        out << "vipsthumbnail: not installed\n";
        return 0;
    }
    const QString vipsOut = dir.filePath(QStringLiteral("vips"));
    QDir().mkpath(vipsOut);
    runVips(files.mid(0, 2), 1, vipsOut);
    const double vipsOne = runVips(files, 1, vipsOut);
    const double vipsPerCore = runVips(files, threads, vipsOut);
    const double vipsBest = std::min(vipsOne, vipsPerCore);
    out << QString::asprintf("vipsthumbnail   %7.1f thumbnails/s (one process: %.1f/s, %d "
                             "processes: %.1f/s)\n",
                             count / vipsBest, count / vipsOne, threads, count / vipsPerCore);
    out << QString::asprintf("ThumbnailCache makes %.2fx as many thumbnails per second as "
                             "vipsthumbnail\n",
                             vipsBest / ours.seconds);
    return 0;
}
