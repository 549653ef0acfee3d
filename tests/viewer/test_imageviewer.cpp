// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer window's content: keys, drops, alerts, the status pill, the empty state, and where
// the navigator, the panel and the strip stand.
#include "canvas/zoomableimageview.h"
#include "canvas/zoomscrollview.h"
#include "viewer/aboutwindow.h"
#include "viewer/emptystate.h"
#include "viewer/overlaylayout.h"
#include "viewer/statuspill.h"
#include "viewer/vieweralerts.h"
#include "viewerhost.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <tuple>

using namespace kivo;

Q_DECLARE_METATYPE(kivo::OverlayInputs)

namespace {

QMimeData* uriList(const QByteArray& lines) {
    auto* data = new QMimeData;
    data->setData("text/uri-list", lines);
    return data;
}

QByteArray uri(const test::PhotoFolder& folder, const QString& name) {
    return QUrl::fromLocalFile(folder.text(name)).toEncoded() + "\r\n";
}

// Sends a drag entering the viewer and the drop, as a file manager's drag would; whether it
// was accepted.
bool drop(ImageViewer& viewer, QMimeData* data) {
    const QPoint at(viewer.width() / 2, viewer.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&viewer, &enter);
    QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&viewer, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}

// The bounding box of the pixels that are not black.
QRect litArea(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) > 20)
                box |= QRect(x, y, 1, 1);
    return box;
}

bool isRed(QRgb pixel) {
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

OverlayInputs base() {
    OverlayInputs in;
    in.viewerSize = QSize(800, 600);
    in.hasImage = true;
    in.fileCount = 5;
    in.showThumbnailBar = true;
    in.visibleRect = QRectF(0.2, 0.2, 0.5, 0.5);
    in.showsPanel = true;
    in.navigatorSize = QSize(162, 124); // a 150 x 112 map with a 6-point shadow margin
    in.navigatorShadowMargin = 6;
    in.panelSize = QSize(280, 200);
    return in;
}
} // namespace

class TestImageViewer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dataHome_.isValid());
        qputenv("XDG_DATA_HOME", dataHome_.path().toUtf8());
    }

    void keys_data() {
        QTest::addColumn<QList<int>>("keys"); // key codes, pressed in turn without modifiers
        QTest::addColumn<QString>("text");    // what the last key types
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("overlay");
        QTest::newRow("right") << QList<int>{Qt::Key_Right} << "" << 1 << 0;
        QTest::newRow("space") << QList<int>{Qt::Key_Space} << " " << 1 << 0;
        QTest::newRow("left wraps") << QList<int>{Qt::Key_Left} << "" << 2 << 0;
        QTest::newRow("backspace goes back") << QList<int>{Qt::Key_Backspace} << "\b" << 2 << 0;
        QTest::newRow("delete character") << QList<int>{Qt::Key_unknown} << "\x7f" << 2 << 0;
        QTest::newRow("tab") << QList<int>{Qt::Key_Tab} << "\t" << 0 << 1;
    }

    void keys() {
        QFETCH(QList<int>, keys);
        QFETCH(QString, text);
        QFETCH(int, index);
        QFETCH(int, overlay);
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        test::ViewerHost host;
        host.state->openFile(folder.path("a.jpg"));
        QVERIFY(host.show());
        QCOMPARE(QApplication::focusWidget(), host.viewer);
        for (const int key : keys) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
            QCoreApplication::sendEvent(QApplication::focusWidget(), &press);
            QVERIFY(press.isAccepted());
        }
        QCOMPARE(host.state->currentIndex(), index);
        QCOMPARE(int(host.state->overlayMode()), overlay);
        QVERIFY(!host.state->showDeleteConfirmation());
    }

    void keysRepeatButIgnoreReleaseAndModifiers() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        test::ViewerHost host;
        host.state->openFile(folder.path("a.jpg"));
        QVERIFY(host.show());
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(host.viewer, &repeat);
        QCOMPARE(host.state->currentIndex(), 1);
        QTest::keyRelease(host.viewer, Qt::Key_Right);
        QTest::keyClick(host.viewer, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(host.state->currentIndex(), 1);
        // Focus comes back to the viewer with every new picture.
        host.window->menuBar()->setFocus();
        host.state->navigate(+1);
        QCOMPARE(QApplication::focusWidget(), host.viewer);
    }

    void escapeStepsOut() {
        test::PhotoFolder folder({"a.jpg"});
        test::ViewerHost host;
        host.state->openFile(folder.path("a.jpg"));
        host.state->setOverlayMode(OverlayMode::histogram);
        QVERIFY(host.show());
        QTest::keyClick(host.viewer, Qt::Key_F, Qt::NoModifier);
        QVERIFY(host.window->isFullScreen());
        QTest::keyClick(host.viewer, Qt::Key_Escape);
        QCOMPARE(host.state->overlayMode(), OverlayMode::none);
        QVERIFY(host.window->isFullScreen());
        QTest::keyClick(host.viewer, Qt::Key_Escape);
        QVERIFY(!host.window->isFullScreen());
        QVERIFY(host.window->isVisible());
        QTest::keyClick(host.viewer, Qt::Key_Escape);
        QVERIFY(!host.window->isVisible());
    }

    // Ctrl+= is a window shortcut: it reaches the model of the window it is typed in only.
    void shortcutsReachTheFocusedWindowOnly() {
        test::PhotoFolder folder({"a.jpg"});
        test::ViewerHost first;
        test::ViewerHost second;
        QVERIFY(second.show());
        QVERIFY(first.show());
        QTest::keyClick(first.viewer, Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(first.state->zoomAction(), ZoomAction::zoomIn);
        QVERIFY(!second.state->zoomAction());
        QTest::keyClick(first.viewer, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(first.state->showThumbnailBar());
        QTest::keyClick(first.viewer, Qt::Key_Delete);
        QVERIFY(first.state->showDeleteConfirmation());
        QVERIFY(!second.state->showDeleteConfirmation());
    }

    void drops() {
        test::PhotoFolder folder({"a.jpg", "b.jpg", "c.jpg"});
        test::ViewerHost host;
        host.state->openFile(folder.path("a.jpg"));
        QVERIFY(!drop(*host.viewer, uriList("")));
        auto text = std::make_unique<QMimeData>();
        text->setText("just words");
        QVERIFY(!drop(*host.viewer, text.release()));
        QVERIFY(!drop(*host.viewer, uriList("https://example.org/b.jpg\r\n")));
        QCOMPARE(host.state->currentURL(), folder.path("a.jpg"));
        QVERIFY(drop(*host.viewer, uriList(uri(folder, "c.jpg") + uri(folder, "b.jpg"))));
        QCOMPARE(host.state->currentURL(), folder.path("c.jpg"));
    }

    void deleteConfirmation() {
        test::PhotoFolder folder({"a.jpg", "b.jpg"});
        test::ViewerHost host;
        host.state->openFile(folder.path("b.jpg"));
        QVERIFY(host.show());
        for (const char* answer : {"Cancel", "Escape", "Delete"}) {
            host.state->setShowDeleteConfirmation(true);
            QMessageBox* box = host.viewer->alerts().deleteConfirmation();
            QVERIFY(box);
            QCOMPARE(box->informativeText(), QString("Move \"b.jpg\" to the Trash?"));
            QAbstractButton* confirm = nullptr;
            QAbstractButton* cancel = nullptr;
            for (QAbstractButton* button : box->buttons())
                (button->text() == "Delete" ? confirm : cancel) = button;
            QVERIFY(confirm && cancel);
            if (QString(answer) == "Escape")
                QTest::keyClick(box, Qt::Key_Escape);
            else if (QString(answer) == "Cancel")
                cancel->click();
            else
                confirm->click();
            QVERIFY(!host.state->showDeleteConfirmation());
            QCOMPARE(QFile::exists(folder.text("b.jpg")), QString(answer) != "Delete");
        }
        QCOMPARE(host.state->currentURL(), folder.path("a.jpg"));
    }

    void errorAlert() {
        test::ViewerHost host;
        QVERIFY(host.show());
        host.state->setDeleteError(QString("Permission denied"));
        QMessageBox* box = host.viewer->alerts().errorAlert();
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Error"));
        QCOMPARE(box->informativeText(), QString("Permission denied"));
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->buttons()[0]->text(), QString("OK"));
        box->buttons()[0]->click();
        QVERIFY(!host.state->deleteError());
    }

    void pillTexts() {
        const std::tuple<double, int, QString, QString> cases[] = {
            {1.0, 1, "", "100%"}, {1.5, 12, "3 / 12", "150%"}, {0.3333, 0, "", "33%"}};
        for (const auto& [magnification, files, position, zoom] : cases) {
            test::PrivateSettings settings;
            AppState state({settings.get()});
            state.setImageFiles(std::vector<FilePath>(size_t(files), FilePath("/x.jpg")));
            state.setCurrentIndex(2);
            state.setMagnification(magnification);
            QCOMPARE(statusTexts(state).position, position);
            QCOMPARE(statusTexts(state).zoom, zoom);
        }
    }

    // The pill sits 8 pixels in from the top-right corner, dark over the picture, and fades
    // out with showStatusBar.
    void pillCorner() {
        QTemporaryDir folder;
        QImage red(800, 600, QImage::Format_RGB32);
        red.fill(Qt::red);
        for (const char* name : {"a.jpg", "b.jpg"})
            QVERIFY(test::writeImage(red, folder.filePath(name), "jpeg"));
        test::ViewerHost host;
        host.state->openFile(filePathFromText(folder.filePath("a.jpg")));
        QVERIFY(host.show());
        QTRY_COMPARE(host.state->magnification(), 0.5);
        StatusPill* pill = host.viewer->statusPill();
        QCOMPARE(pill->texts().position, QString("1 / 2"));
        QVERIFY(pill->isShowing());
        QCOMPARE(pill->geometry().topRight(), QPoint(400 - 8 - 1, 8));
        const QImage shot = host.viewer->grab().toImage();
        const QPoint inside(pill->geometry().left() + 3, pill->geometry().center().y());
        QVERIFY(qRed(shot.pixel(inside)) < 150);
        QVERIFY(isRed(shot.pixel(400 - 4, 4)));
        QVERIFY(isRed(shot.pixel(400 - 4, 60)));

        host.state->setShowStatusBar(false);
        QVERIFY(!pill->isShowing());
    }

    // A vector picture is rendered again, on a worker, for a closer look: at 800 % an edge is as
    // sharp on screen as at 100 %, not the eight-pixel step of a stretched bitmap.
    void vectorPictureIsSharpAtAnyZoom() {
        QTemporaryDir folder;
        const QString path = folder.filePath("edge.svg");
        // Black up to x = 50.5, white beyond: at 100 % the edge is one grey column.
        QVERIFY(test::writeFile(path, "<svg xmlns='http://www.w3.org/2000/svg' width='100' "
                                      "height='100'><rect width='100' height='100' fill='#fff'/>"
                                      "<rect width='50.5' height='100' fill='#000'/></svg>"));
        WorkerPools pools;
        test::ViewerHost host({}, &pools);
        QVERIFY(host.show());
        host.state->openFile(filePathFromText(path));
        ZoomScrollView* scroll = nullptr;
        QTRY_VERIFY((scroll = host.viewer->findChild<ZoomScrollView*>())); // built for a picture
        // Screen pixels of the middle row that are neither black nor white.
        const auto edgeWidth = [scroll] {
            const QImage shot = scroll->grab().toImage();
            int grey = 0;
            for (int x = 0; x < shot.width(); ++x) {
                const int value = qGray(shot.pixel(x, shot.height() / 2));
                grey += value > 30 && value < 225;
            }
            return grey;
        };
        QTRY_COMPARE(host.state->magnification(), 1.0);
        QTRY_COMPARE(edgeWidth(), 1);
        scroll->setMagnification(8.0);
        QCOMPARE(host.state->magnification(), 8.0);
        QTRY_VERIFY(edgeWidth() <= 2);
        QCOMPARE(host.state->currentImage()->size(), QSize(100, 100));
    }

    void emptyStateCentredOnBlack() {
        test::ViewerHost host;
        QVERIFY(host.show());
        QVERIFY(!host.viewer->canvas());
        QVERIFY(!host.viewer->statusPill()->isVisible());
        QCOMPARE(host.viewer->emptyState()->messageText(), QString("Open an image to start"));
        QCOMPARE(host.viewer->emptyState()->hintText(), QString("Drop a file or use File > Open"));
        const QImage shot = host.viewer->grab().toImage();
        QCOMPARE(shot.pixel(2, 2), qRgb(0, 0, 0));
        const QRect lit = litArea(shot);
        QVERIFY(!lit.isEmpty());
        QVERIFY((lit.center() - QPoint(200, 150)).manhattanLength() <= 6);
    }

    // Stepping onto a file that cannot be decoded shows its name and why, never the picture
    // before it.
    void damagedFileShowsItsReason() {
        test::PhotoFolder folder({"a.jpg", "b.jpg"});
        QFile damaged(folder.text("b.jpg"));
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write("\xff\xd8\xff\xe0 this is where the picture broke off");
        damaged.close();
        test::ViewerHost host;
        host.state->openFile(folder.path("a.jpg"));
        QVERIFY(host.show());
        QVERIFY(host.viewer->canvas());
        QTest::keyClick(host.viewer, Qt::Key_Right);
        QCOMPARE(host.state->currentURL(), folder.path("b.jpg"));
        QVERIFY(!host.viewer->canvas());
        EmptyState* empty = host.viewer->emptyState();
        QVERIFY(empty->isVisible());
        QCOMPARE(empty->fileNameText(), QString("b.jpg"));
        const QStringList reasons{"This file is damaged", "Not an image Kivo can read",
                                  "Kivo cannot show this file"};
        QVERIFY2(reasons.contains(empty->messageText()), qPrintable(empty->messageText()));
        QCOMPARE(host.window->windowTitle(), host.state->windowTitle());
        // A folder without pictures, as a drop or the command line gives it: its name and that
        // it holds none.
        const QTemporaryDir emptyFolder;
        host.state->openFile(filePathFromText(emptyFolder.path()));
        QCOMPARE(empty->fileNameText(), QFileInfo(emptyFolder.path()).fileName());
        QCOMPARE(empty->messageText(), QString("No images in this folder"));
        QTest::qWait(20);
        const QImage shot = host.viewer->grab().toImage();
        for (int y = 0; y < shot.height(); y += 7)
            for (int x = 0; x < shot.width(); x += 7)
                QVERIFY(!isRed(shot.pixel(x, y)));
    }

    void placement_data() {
        QTest::addColumn<OverlayInputs>("in");
        QTest::addColumn<bool>("navigator");
        QTest::addColumn<int>("navigatorBottomInset"); // window bottom to the map's bottom
        QTest::addColumn<bool>("panel");
        QTest::addColumn<bool>("strip");

        QTest::newRow("zoomed in, strip on") << base() << true << 72 << true << true;
        auto single = base();
        single.fileCount = 1;
        QTest::newRow("one file: no strip, no lift") << single << true << 12 << true << false;
        auto stripOff = base();
        stripOff.showThumbnailBar = false;
        QTest::newRow("strip off") << stripOff << true << 12 << true << false;
        auto almostAll = base();
        almostAll.visibleRect = QRectF(0, 0, 0.995, 1);
        QTest::newRow("0.995 visible: no navigator") << almostAll << false << 0 << true << true;
        auto narrower = base();
        narrower.visibleRect = QRectF(0, 0, 1, 0.98);
        QTest::newRow("0.98 high: navigator") << narrower << true << 72 << true << true;
        auto dragging = almostAll;
        dragging.isNavigatorDragging = true;
        QTest::newRow("dragging keeps it") << dragging << true << 72 << true << true;
        auto noPanel = base();
        noPanel.showsPanel = false;
        QTest::newRow("overlay mode none") << noPanel << true << 72 << false << true;
        auto empty = base();
        empty.hasImage = false;
        QTest::newRow("no image: nothing") << empty << false << 0 << false << false;
    }

    void placement() {
        QFETCH(OverlayInputs, in);
        QFETCH(bool, navigator);
        QFETCH(int, navigatorBottomInset);
        QFETCH(bool, panel);
        QFETCH(bool, strip);
        const auto placed = placeOverlays(in);

        QCOMPARE(placed.navigator.has_value(), navigator);
        if (navigator) {
            const QRect map = placed.navigator->adjusted(6, 6, -6, -6);
            QCOMPARE(in.viewerSize.width() - 1 - map.right(), 12);
            QCOMPARE(in.viewerSize.height() - 1 - map.bottom(), navigatorBottomInset);
            QCOMPARE(placed.navigator->size(), in.navigatorSize);
        }
        QCOMPARE(placed.panel.has_value(), panel);
        if (panel)
            QCOMPARE(*placed.panel, QRect(16, 16, 280, 200));
        QCOMPARE(placed.strip.has_value(), strip);
        if (strip)
            QCOMPARE(*placed.strip, QRect(0, 540, 800, 60));
    }

    // Canvas, navigator, panel, pill, strip from back to front, whatever order they were made.
    void stacksBackToFront() {
        QWidget viewer;
        auto* strip = new QWidget(&viewer);
        auto* pill = new QWidget(&viewer);
        auto* panel = new QWidget(&viewer);
        auto* navigator = new QWidget(&viewer);
        auto* canvas = new QWidget(&viewer);
        canvas->lower();
        applyOverlayPlacement(placeOverlays(base()), navigator, panel, pill, strip);
        const QList<QWidget*> expected{canvas, navigator, panel, pill, strip};
        QCOMPARE(viewer.findChildren<QWidget*>(Qt::FindDirectChildrenOnly), expected);

        auto hidden = base();
        hidden.hasImage = false;
        applyOverlayPlacement(placeOverlays(hidden), navigator, panel, pill, strip);
        QVERIFY(navigator->isHidden() && panel->isHidden() && strip->isHidden());
    }

private:
    QTemporaryDir dataHome_;
};

QTEST_MAIN(TestImageViewer)
#include "test_imageviewer.moc"
