// SPDX-License-Identifier: GPL-3.0-or-later
// A picture too large to hold whole, opened in the assembled application on an X server: after
// Actual Size the window shows its own pixels at the centre, read as tiles, while the process
// stays far below the memory of the whole bitmap. One file per format family, each written row
// by row by its real encoder so the test itself never holds the picture either.
#include "app/kivoapplication.h"
#include "canvas/zoomscrollview.h"
#include "desktopsession.h"
#include "imaging/rowwriters.h"
#include "model/appstate.h"
#include "support/testsupport.h"
#include "viewer/viewerwindow.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <tiffio.h>
#include <vector>

using namespace kivo;

namespace {

constexpr char kPictureVariable[] = "KIVO_HUGE_PICTURE";
constexpr char kActualSizeVariable[] = "KIVO_HUGE_AT_ACTUAL_SIZE";
constexpr char kTurnedVariable[] = "KIVO_HUGE_TURNED";
const QSize kSize(12000, 8000); // 96 MP: above the size from which pictures are tiled

// Flat 8×8 blocks of sixteen greys: each block is one JPEG block, so the encoders keep it
// nearly exact, while any reduced level blends neighbouring blocks into other greys.
uchar grey(int x, int y) {
    return uchar(((x / 8) * 7 + (y / 8) * 13) % 16 * 16 + 8);
}

std::vector<uchar> rgbRow(int y) {
    std::vector<uchar> row(size_t(kSize.width()) * 3);
    for (int x = 0; x < kSize.width(); ++x)
        row[size_t(x) * 3] = row[size_t(x) * 3 + 1] = row[size_t(x) * 3 + 2] = grey(x, y);
    return row;
}

// The encoders' row callbacks: the row lives until the next one.
test::RgbRow rows() {
    return [row = std::vector<uchar>()](int y) mutable {
        row = rgbRow(y);
        return static_cast<const uchar*>(row.data());
    };
}

bool writeJpeg(const QString& path) {
    return test::writeJpegRows(path, kSize, rows(), 95);
}

bool writePng(const QString& path) {
    return test::writePngRows(path, kSize, rows());
}

bool writeTiff(const QString& path) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(kSize.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(kSize.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 64);
    bool written = true;
    for (int y = 0; y < kSize.height() && written; ++y) {
        std::vector<uchar> row = rgbRow(y);
        written = TIFFWriteScanline(tiff, row.data(), quint32(y), 0) >= 0;
    }
    TIFFClose(tiff);
    return written;
}

qint64 peakResidentKB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong();
    return -1;
}

} // namespace

class TestHugePictures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void actualSizeShowsSharpTiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<std::function<bool(const QString&)>>("write");
        QTest::addColumn<bool>("opensAtActualSize"); // the display mode the user chose
        QTest::addColumn<bool>("turned");            // turned clockwise on screen
        const auto row = [](const char* label, const char* name, bool (*write)(const QString&),
                            bool opensAtActualSize = false, bool turned = false) {
            QTest::newRow(label) << QString(name) << std::function<bool(const QString&)>(write)
                                 << opensAtActualSize << turned;
        };
        row("JPEG", "huge.jpg", writeJpeg);
        row("JPEG, the window opening at Actual Size", "huge.jpg", writeJpeg, true);
        row("PNG", "huge.png", writePng);
        row("PNG turned on screen, too large to rewrite", "huge.png", writePng, false, true);
        row("TIFF in strips", "huge.tif", writeTiff);
    }

    // Here the picture is written and an X session started; the application runs in a child
    // of this program on it, so the memory measured is the viewer's alone.
    void actualSizeShowsSharpTiles() {
        if (qEnvironmentVariableIsSet(kPictureVariable))
            QSKIP("the child runs the viewer");
        if (!test::DesktopSession::available(test::DesktopSession::Kind::x11))
            QSKIP("Xvfb, openbox or wmctrl is not installed");
        QFETCH(QString, name);
        QFETCH(std::function<bool(const QString&)>, write);
        QFETCH(bool, opensAtActualSize);
        QFETCH(bool, turned);
        QTemporaryDir dir;
        QVERIFY(write(dir.filePath(name)));
        test::DesktopSession session(test::DesktopSession::Kind::x11);
        QVERIFY(session.isReady());
        QProcessEnvironment environment = session.environment();
        environment.insert(kPictureVariable, dir.filePath(name));
        if (opensAtActualSize)
            environment.insert(kActualSizeVariable, QStringLiteral("1"));
        if (turned)
            environment.insert(kTurnedVariable, QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"viewerOnTheXServer"});
        QVERIFY(child.waitForFinished(120000));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 child.readAll().constData());
    }

    void viewerOnTheXServer() {
        const QString picture = qEnvironmentVariable(kPictureVariable);
        if (picture.isEmpty())
            QSKIP("runs in the child on the X server");
        test::PrivateSettings settings;
        if (qEnvironmentVariableIsSet(kActualSizeVariable))
            settings.settings().setValue("displayMode", caseName(DisplayMode::actualSize));
        const bool turned = qEnvironmentVariableIsSet(kTurnedVariable);
        if (turned) // the whole bitmap, 375 MB, is over this budget: the file is not rewritten
            settings.settings().setValue("tileCacheMegabytes", 256);
        KivoApplication kivo(settings.settings());
        kivo.start({filePathFromText(picture)}, -1, {});
        ViewerWindow* window = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (window = qobject_cast<ViewerWindow*>(QApplication::activeWindow())), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(window->state().currentImage(), 20000);
        QVERIFY(window->state().currentImage()->isTiled());
        auto* view = window->findChild<ZoomScrollView*>();
        QVERIFY(view);
        if (turned) {
            QTest::keyClick(window->windowHandle(), Qt::Key_R, Qt::ControlModifier);
            QMessageBox* alert = nullptr;
            QTRY_VERIFY((alert = window->findChild<QMessageBox*>()) && alert->isVisible());
            QVERIFY2(alert->informativeText().contains("turned on screen only"),
                     qPrintable(alert->informativeText()));
            alert->accept();
            QTRY_VERIFY(QApplication::activeWindow() == window);
            QCOMPARE(window->state().rotation(), 90.0);
        }

        QTest::keyClick(window->windowHandle(), Qt::Key_0, Qt::ControlModifier);
        QTRY_COMPARE(view->magnification(), 1.0);

        // Mean difference of the greys on screen around the view's centre from the picture's
        // own pixels there, shifted by (dx, dy) picture pixels.
        QWidget* viewport = view->viewport();
        const auto difference = [&](int dx = 0, int dy = 0) {
            const QPoint centre = viewport->mapTo(window, viewport->rect().center());
            const QRect patch(centre - QPoint(48, 48), QSize(96, 96));
            const QImage shot = window->screen()
                                    ->grabWindow(window->winId(), patch.x(), patch.y(),
                                                 patch.width(), patch.height())
                                    .toImage();
            if (shot.size() != patch.size())
                return 255.0;
            double sum = 0;
            for (int y = 0; y < patch.height(); ++y) {
                for (int x = 0; x < patch.width(); ++x) {
                    const QPoint inViewport =
                        viewport->mapFrom(window, patch.topLeft() + QPoint(x, y));
                    const QPointF shown =
                        view->viewportToImage(QPointF(inViewport) + QPointF(0.5, 0.5));
                    // The picture shown turned clockwise has its upright pixel (x, y) at
                    // (height - 1 - y, x).
                    const QPointF at =
                        turned ? QPointF(shown.y(), kSize.height() - shown.x()) : shown;
                    sum += std::abs(qGray(shot.pixel(x, y)) - grey(int(std::floor(at.x())) + dx,
                                                                   int(std::floor(at.y())) + dy));
                }
            }
            return sum / (patch.width() * patch.height());
        };
        // The best of the registrations within a pixel: the window's grab and the view's centring
        // on half pixels may differ by one. The level below the tiles, stretched 16 times,
        // differs by tens of greys at every registration.
        const auto bestDifference = [&] {
            double best = 255;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    best = std::min(best, difference(dx, dy));
            return best;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(bestDifference() < 4.0,
                                  qPrintable(QString("differs by %1").arg(bestDifference())),
                                  30000);
        // The whole bitmap alone would take 375 MB.
        const qint64 peak = peakResidentKB();
        QVERIFY2(peak > 0 && peak < 220 * 1024, qPrintable(QString("peak %1 kB").arg(peak)));
    }
};

QTEST_MAIN(TestHugePictures)
#include "test_hugepictures.moc"
