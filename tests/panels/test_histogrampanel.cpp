// The histogram chart drawn from counts, and the panel counting off the GUI thread.
#include "panels/histogramchart.h"
#include "panels/histogrampanel.h"

#include <QSemaphore>
#include <QTest>
#include <QThreadPool>
#include <set>

using namespace kivo;

namespace {

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

class TestHistogramPanel : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
};

QTEST_MAIN(TestHistogramPanel)
#include "test_histogrampanel.moc"
