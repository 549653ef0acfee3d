// SPDX-License-Identifier: GPL-3.0-or-later
// The thumbnail strip over a generated folder of 10,000 photos: the time from showing the strip
// until every visible cell has its picture, next to vipsthumbnail making 120-pixel thumbnails of
// the same visible files in the same run; then the paint time per frame while the strip scrolls
// one screen, next to drawing the same cells the obvious way (each thumbnail scaled and clipped
// while painting). Usage: bench_thumbnailstrip [FILES]   (default 10000)

#include "imaging/filepath.h"
#include "thumbnails/thumbnailcache.h"
#include "thumbnails/thumbnailstrip.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThreadPool>
#include <filesystem>

using namespace kivo;

namespace {

constexpr int kStripWidth = 1280;
constexpr int kDistinctPhotos = 40;

// A 6-megapixel photo-like picture (gradients and noise), distinct per seed.
QImage photo(int seed) {
    QImage image(3000, 2000, QImage::Format_RGB32);
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 28);
            line[x] = qRgb((x / 12 + seed * 37 + noise) & 255, (y / 8 + noise) & 255,
                           (seed * 91 + (x + y) / 20) & 255);
        }
    }
    return image;
}

// FILES names, hard links to a few distinct photos, so the folder is cheap to make.
std::vector<FilePath> makeFolder(const QTemporaryDir& dir, int count) {
    std::vector<FilePath> originals;
    for (int i = 0; i < kDistinctPhotos; ++i) {
        const QString path = dir.filePath(QStringLiteral("source-%1.jpg").arg(i));
        photo(i).save(path, "jpeg", 90);
        originals.push_back(filePathFromText(path));
    }
    std::vector<FilePath> files;
    for (int i = 0; i < count; ++i) {
        const FilePath path =
            filePathFromText(dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QChar('0'))));
        std::filesystem::create_hard_link(originals[std::size_t(i % kDistinctPhotos)], path);
        files.push_back(path);
    }
    return files;
}

double vipsSeconds(const QStringList& files, const QString& outputDir) {
    QProcess vips;
    QElapsedTimer timer;
    timer.start();
    vips.start(QStringLiteral("vipsthumbnail"),
               QStringList{"-s", "120", "-o", outputDir + "/%s.jpg"} + files);
    vips.waitForFinished(-1);
    return vips.exitCode() == 0 ? double(timer.nsecsElapsed()) / 1e9 : -1;
}

// The reference painter: what drawing each cell straight from its thumbnail costs per frame.
void paintNaively(QPaintDevice& device, const std::vector<QImage>& thumbnails, double offset) {
    QPainter painter(&device);
    painter.fillRect(QRect(0, 0, kStripWidth, ThumbnailStrip::kHeight), QColor(0, 0, 0, 204));
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    for (std::size_t i = 0; i < thumbnails.size(); ++i) {
        const QRectF cell(8 + double(i) * 48 - offset, 8, 44, 44);
        if (cell.right() < 0 || cell.left() > kStripWidth)
            continue;
        QPainterPath clip;
        clip.addRoundedRect(cell, 3, 3);
        painter.save();
        painter.setClipPath(clip);
        const QImage& t = thumbnails[i];
        const double scale = std::max(44.0 / t.width(), 44.0 / t.height());
        const QSizeF drawn = QSizeF(t.size()) * scale;
        painter.drawImage(QRectF(cell.center() - QPointF(drawn.width(), drawn.height()) / 2, drawn),
                          t);
        painter.restore();
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10'000;
    QTemporaryDir dir;
    const std::vector<FilePath> files = makeFolder(dir, count);

    QThreadPool pool;
    ThumbnailCache cache(pool);
    ThumbnailStrip strip(cache);
    strip.resize(kStripWidth, ThumbnailStrip::kHeight);
    strip.setFiles(files);
    const qsizetype visible = std::min<qsizetype>(count, kStripWidth / 48 + 1);

    QElapsedTimer timer;
    timer.start();
    strip.show();
    const auto allCached = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            if (!cache.cached(files[std::size_t(i)]))
                return false;
        return true;
    };
    while (!allCached(0, visible))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    strip.repaint();
    const double stripSeconds = double(timer.nsecsElapsed()) / 1e9;

    QStringList visibleFiles;
    for (qsizetype i = 0; i < visible; ++i)
        visibleFiles.append(displayPath(files[std::size_t(i)]));
    QDir().mkpath(dir.filePath(QStringLiteral("vips")));
    const double vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail")).isEmpty()
                            ? -1
                            : vipsSeconds(visibleFiles, dir.filePath(QStringLiteral("vips")));
    out << QString::asprintf("%d files, %lld visible cells, %d decoding threads\n", count,
                             qlonglong(visible), pool.maxThreadCount());
    out << QString::asprintf("strip shown to every visible picture: %7.3f s (cells made: %d)\n",
                             stripSeconds, strip.cellCount());
    if (vips > 0)
        out << QString::asprintf(
            "vipsthumbnail, same %lld files:        %7.3f s (strip/vips %.2f)\n",
            qlonglong(visible), vips, stripSeconds / vips);

    // Scrolling one screen with every picture in place: load the next screen first.
    strip.setScrollOffset(kStripWidth);
    while (!allCached(visible - 1, std::min<qsizetype>(count, 2 * visible)))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    strip.setScrollOffset(0);
    constexpr int kFrames = 160; // 8 points a frame
    double stripPaint = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        strip.setScrollOffset(frame * double(kStripWidth) / kFrames);
        timer.restart();
        strip.repaint();
        stripPaint += double(timer.nsecsElapsed()) / 1e6;
    }
    std::vector<QImage> thumbnails;
    for (qsizetype i = 0; i < std::min<qsizetype>(count, 2 * visible); ++i)
        thumbnails.push_back(cache.cached(files[std::size_t(i)]).value_or(QImage()));
    QImage target(kStripWidth, ThumbnailStrip::kHeight, QImage::Format_ARGB32_Premultiplied);
    double naivePaint = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        timer.restart();
        paintNaively(target, thumbnails, frame * double(kStripWidth) / kFrames);
        naivePaint += double(timer.nsecsElapsed()) / 1e6;
    }
    out << QString::asprintf("scrolling one screen, paint per frame: %6.3f ms (budget 8 ms)\n",
                             stripPaint / kFrames);
    out << QString::asprintf("reference, cells scaled and clipped while painting: %6.3f ms "
                             "(strip/reference %.2f)\n",
                             naivePaint / kFrames, stripPaint / naivePaint);
    return 0;
}
