// SPDX-License-Identifier: GPL-3.0-or-later
// Counting the three channels in every pixel layout, against ImageMagick on a real photo; and the
// chart drawn from counts by the panel that counts off the GUI thread.
#include "imaging/pixels/displayprofile.h"
#include "imaging/tasks/handoff.h"
#include "panels/histogram.h"
#include "panels/histogramchart.h"
#include "panels/histogrampanel.h"
#include "support/testsupport.h"

#include <QColorSpace>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>
#include <QThreadPool>
#include <numeric>
#include <set>

using namespace kivo;

namespace {

qint64 sum(const std::array<qint64, 256>& counts) {
    return std::accumulate(counts.begin(), counts.end(), qint64(0));
}

// Every pixel a different colour, so counts reveal exactly which pixels were sampled.
QImage noiseImage(int width, int height, QImage::Format format, bool translucent = false) {
    QImage image(width, height, QImage::Format_ARGB32);
    quint32 state = 12345;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = format == QImage::Format_ARGB32 && translucent ? state : state | 0xff000000u;
        }
    }
    return image.convertToFormat(format);
}

// The sampling done the slow, obvious way: pixel i at row i / w, column i % w.
HistogramData sampledByIndex(const QImage& source) {
    const QImage rgba = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const qint64 n = qint64(rgba.width()) * rgba.height();
    const qint64 step = n < 500'000 ? 1 : n / 500'000;
    HistogramData data;
    for (qint64 i = 0; i < n; i += step) {
        const uchar* p = rgba.constScanLine(int(i / rgba.width())) + 4 * (i % rgba.width());
        ++data.red[p[0]], ++data.green[p[1]], ++data.blue[p[2]];
    }
    return data;
}

HistogramData histogramOf(QImage bitmap) {
    const auto image = Image::create(std::move(bitmap));
    const auto data = computeHistogram(*image);
    return data.value_or(HistogramData{});
}

// The chart as drawn at a pixel ratio of 1, without a window background: untouched pixels
// stay transparent.
QImage drawn(HistogramChart& chart) {
    QImage image(chart.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    chart.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

bool painted(const QImage& image, int x, int y) {
    return qAlpha(image.pixel(x, y)) > 40;
}

// The highest painted row of column x, or the height when nothing is painted there.
int topOfColumn(const QImage& image, int x) {
    for (int y = 0; y < image.height(); ++y)
        if (painted(image, x, y))
            return y;
    return image.height();
}

std::set<int> paintedColumnsOfRow(const QImage& image, int y) {
    std::set<int> columns;
    for (int x = 0; x < image.width(); ++x)
        if (painted(image, x, y))
            columns.insert(x);
    return columns;
}
} // namespace

class TestHistogram : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every layout, read in place or converted, counts the same pixels as sampling by index.
    void samplingStepInEveryLayout_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<qint64>("samples");
        const auto rgb32 = QImage::Format_RGB32;
        QTest::newRow("700x700 counts all") << 700 << 700 << rgb32 << qint64(490'000);
        QTest::newRow("999x1001 step 1") << 999 << 1001 << rgb32 << qint64(999'999);
        QTest::newRow("one column, step across rows") << 1 << 1'500'001 << rgb32 << qint64(500'001);
        // An odd width with a stride of 2: the stride runs across row ends on every other row.
        for (const auto& [name, format] : {std::pair{"RGB32", rgb32},
                                           {"RGBX8888 (in place)", QImage::Format_RGBX8888},
                                           {"RGB888 (converted)", QImage::Format_RGB888},
                                           {"RGBA64 (converted)", QImage::Format_RGBA64}})
            QTest::newRow(name) << 1003 << 1001 << format << qint64(502'002);
    }
    void samplingStepInEveryLayout() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QImage::Format, format);
        const QImage reference = noiseImage(width, height, QImage::Format_RGB32);
        const HistogramData data = histogramOf(reference.convertToFormat(format));
        QTEST(sum(data.red), "samples");
        QCOMPARE(data, sampledByIndex(reference));
    }

    void translucentPixelsReadInPlaceMatchQtsConversion() {
        // Straight-alpha bitmaps are premultiplied per sample instead of converted whole; every
        // colour and alpha combination must come out as QImage's own conversion makes it.
        QImage all(256 * 16, 256 * 16 / 16, QImage::Format_ARGB32);
        for (int y = 0; y < all.height(); ++y)
            for (int x = 0; x < all.width(); ++x)
                all.setPixel(x, y, qRgba(x & 255, (x >> 4) & 255, y, (x * 7 + y * 13) & 255));
        QCOMPARE(histogramOf(all), sampledByIndex(all));
        const QImage rgba = all.convertToFormat(QImage::Format_RGBA8888);
        QCOMPARE(histogramOf(rgba), sampledByIndex(all));
        // And over a large image, where the stride skips pixels.
        QImage noisy = noiseImage(1100, 1000, QImage::Format_ARGB32, true);
        QCOMPARE(histogramOf(noisy), sampledByIndex(noisy));
    }

    void transparencyCountsAsBlackAndColoursBecomeSrgb() {
        QImage clear(10, 10, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        QPainter(&clear).fillRect(0, 0, 5, 10, QColor(255, 255, 255, 128)); // left half, half alpha
        const HistogramData data = histogramOf(clear);
        QCOMPARE(data.red[0], 50);
        QCOMPARE(data.red[128], 50);
        QCOMPARE(data.blue, data.red);

        // A bitmap tagged with another colour space is counted as sRGB values: linear mid-grey is
        // lighter in sRGB's curve.
        QImage linear(8, 8, QImage::Format_RGB32);
        linear.fill(QColor(128, 128, 128));
        linear.setColorSpace(QColorSpace(QColorSpace::SRgbLinear));
        const HistogramData converted = histogramOf(linear);
        const auto peak = std::max_element(converted.red.begin(), converted.red.end());
        QCOMPARE(*peak, 64);
        QVERIFY2(peak - converted.red.begin() > 180, "linear grey was not converted to sRGB");
    }

    // A picture shown in a wide-gamut screen's colour space still counts as its own sRGB values.
    void countsThePicturesOwnValuesOnAWideGamutScreen() {
        QFile adobe("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
        if (!adobe.open(QIODevice::ReadOnly))
            QSKIP("icc-profiles-free is not installed");
        const auto screen = DisplayProfile::fromIcc(adobe.readAll(), "Adobe RGB");
        QVERIFY(screen);
        QImage bands(300, 2, QImage::Format_RGB32);
        const QColor colours[] = {{0, 200, 0}, {230, 120, 20}, {40, 40, 200}};
        for (int i = 0; i < 3; ++i)
            QPainter(&bands).fillRect(100 * i, 0, 100, 2, colours[i]);
        const HistogramData own = histogramOf(bands);
        const HistogramData shown = histogramOf(toDisplay(bands, {}, *screen));
        for (const auto& [a, b] : {std::pair{&own.red, &shown.red},
                                   {&own.green, &shown.green},
                                   {&own.blue, &shown.blue}})
            for (int v = 1; v < 255; ++v)
                if ((*a)[v] > 0)
                    QCOMPARE((*b)[v - 1] + (*b)[v] + (*b)[v + 1], (*a)[v]);
    }

    void safeOnSeveralThreads() {
        const auto image = Image::create(noiseImage(1200, 900, QImage::Format_ARGB32));
        const HistogramData expected = computeHistogram(*image).value();
        QList<QFuture<std::optional<HistogramData>>> runs;
        for (int i = 0; i < 4; ++i)
            runs.append(runOnPool(*QThreadPool::globalInstance(),
                                  [image] { return computeHistogram(*image); }));
        for (auto& run : runs)
            QCOMPARE(run.result().value(), expected);
    }

    void agreesWithImageMagick() {
        // A 640 x 480 camera photo: under 500,000 pixels, so every pixel is counted and
        // ImageMagick's colour census must give the same per-channel totals.
        const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
        if (convert.isEmpty())
            QSKIP("ImageMagick is not installed (scripts/setup installs it)");
        KIVO_REQUIRE_CORPUS(QStringLiteral("exif-samples/jpg/gps/DSCN0010.jpg"));
        const QString photo = test::corpusPath(QStringLiteral("exif-samples/jpg/gps/DSCN0010.jpg"));
        QImageReader reader(photo);
        const QImage bitmap = reader.read();
        QCOMPARE(bitmap.size(), QSize(640, 480));

        QProcess process;
        process.start(convert, {photo, "-depth", "8", "-format", "%c", "histogram:info:-"});
        QVERIFY(process.waitForFinished(60'000));
        HistogramData census;
        static const QRegularExpression line(
            QStringLiteral(R"(^\s*(\d+):\s*\(\s*(\d+),\s*(\d+),\s*(\d+))"));
        for (const QByteArray& text : process.readAllStandardOutput().split('\n')) {
            const auto match = line.match(QString::fromLatin1(text));
            if (!match.hasMatch())
                continue;
            const qint64 count = match.captured(1).toLongLong();
            census.red[match.captured(2).toInt()] += count;
            census.green[match.captured(3).toInt()] += count;
            census.blue[match.captured(4).toInt()] += count;
        }
        QCOMPARE(sum(census.red), qint64(640 * 480));
        QCOMPARE(histogramOf(bitmap), census);
    }

    // A single-colour picture: one bin per channel at the top edge, the rest on the base line,
    // so halfway up only the two thin peaks (red at 200, green and blue at 50) are painted.
    void singleColourDrawsThreePeaksOffTheGuiThread() {
        QImage bitmap(64, 64, QImage::Format_RGB32);
        bitmap.fill(QColor(200, 50, 50));
        QThreadPool pool;
        HistogramPanel panel(pool);
        panel.show();
        panel.setImage(Image::create(bitmap));
        QVERIFY(panel.isCounting()); // the GUI thread never counts
        QTRY_VERIFY_WITH_TIMEOUT(!panel.isCounting(), 10'000);

        const QImage chart = drawn(*panel.chart());
        QCOMPARE(chart.size(), QSize(256, 120));
        for (const int peak : {50, 200})
            QVERIFY(topOfColumn(chart, peak) <= 1);
        for (const int column : paintedColumnsOfRow(chart, 60))
            QVERIFY2(std::abs(column - 50) <= 2 || std::abs(column - 200) <= 2,
                     qPrintable(QString::number(column)));
        QVERIFY(topOfColumn(chart, 128) >= 118); // only the base line between the peaks
    }

    // ln 2 / ln 1,000,001 of the height is about 5 %; a channel without counts adds nothing,
    // not even a base line, so only red is ever painted.
    void logScaleAndEmptyChannels() {
        HistogramData data;
        data.red[64] = 1;
        data.red[192] = 1'000'000;
        HistogramChart chart;
        chart.setData(data);
        const QImage image = drawn(chart);
        QVERIFY(std::abs(topOfColumn(image, 64) - (120 - 6)) <= 1);
        QVERIFY(topOfColumn(image, 192) <= 1);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                QVERIFY(qGreen(pixel) < qRed(pixel) || qAlpha(pixel) == 0);
            }
        chart.setData(HistogramData{});
        QVERIFY(paintedColumnsOfRow(drawn(chart), 119).empty());
    }

    // A new image clears the chart at once: the old one never shows while the new one counts.
    void newImageNeverShowsTheOldChart() {
        QImage first(32, 32, QImage::Format_RGB32);
        first.fill(Qt::white);
        QThreadPool pool;
        HistogramPanel panel(pool);
        panel.setImage(Image::create(first));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.isCounting(), 10'000);

        pool.setMaxThreadCount(1);
        QSemaphore hold; // keeps the pool's one thread busy until released
        pool.start([&hold] { hold.acquire(); });
        QImage second(32, 32, QImage::Format_RGB32);
        second.fill(Qt::black);
        panel.setImage(Image::create(second));
        QVERIFY(panel.isCounting() && !panel.chart()->data());
        hold.release();
        QTRY_VERIFY_WITH_TIMEOUT(!panel.isCounting(), 10'000);
        QCOMPARE(panel.chart()->data()->red[0], 32 * 32);
    }

    // A panel put away while it counts a large picture (the overlay switched, the window
    // closed) gets nothing: the count has nowhere to land.
    void panelGoneWhileCountingGetsNothing() {
        QImage large(6000, 4000, QImage::Format_RGB32);
        large.fill(Qt::gray);
        QThreadPool pool;
        for (int round = 0; round < 3; ++round) {
            auto panel = std::make_unique<HistogramPanel>(pool);
            panel->setImage(Image::create(large));
            QVERIFY(panel->isCounting());
            panel.reset();
            pool.waitForDone();
            QCoreApplication::sendPostedEvents();
        }
    }
};

QTEST_MAIN(TestHistogram)
#include "test_histogram.moc"
